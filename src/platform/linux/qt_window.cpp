#include "platform/linux/qt_window.h"

#include <qdrawutil.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>

#include "window/form.h"
#if QT_CONFIG(sessionmanager)
#include <QSessionManager>
#endif

#include <algorithm>
#include <cmath>

namespace tarnwick {

namespace {

// Sets a flag for the lifetime of the object and restores the old value, so
// that nested model-to-widget updates keep the guard up until the outermost
// one ends.
class Raise {
public:
    explicit Raise(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~Raise() { flag_ = old_; }
    Raise(const Raise&) = delete;
    Raise& operator=(const Raise&) = delete;

private:
    bool& flag_;
    bool old_;
};

QColor toQColor(Colour c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

QString toQString(const std::string& s) { return QString::fromStdString(s); }

// The layout was drawn for a narrow bitmap sans that Linux does not have.
// DejaVu Sans is always installed with Qt here and is legible at small
// sizes; where a caption would not fit its control in the normal width, the
// condensed cut of the same family is used instead.
QFont baseFont(const Control& c) {
    QFont f;
    f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(c.fontPoints());
    f.setBold(c.bold());
    return f;
}

QFont condensed(QFont f) {
    f.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    f.setStretch(QFont::SemiCondensed);
    return f;
}

// A font in which `text` fits `room` pixels, if the condensed cut or a
// slightly smaller size manages it; never below 7 points, to stay legible.
QFont fittingFont(const Control& c, const QString& text, int room) {
    QFont f = baseFont(c);
    if (text.isEmpty() || QFontMetrics(f).horizontalAdvance(text) <= room) return f;
    f = condensed(f);
    while (QFontMetrics(f).horizontalAdvance(text) > room && f.pointSizeF() > 7.0) {
        f.setPointSizeF(f.pointSizeF() - 0.25);
    }
    return f;
}

QPixmap drawIcon(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 32.0;
    // The mast: a slim lattice tower on a base.
    QPen mast(QColor(60, 60, 70), 2.0 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(mast);
    p.drawLine(QPointF(16 * s, 7 * s), QPointF(10 * s, 30 * s));
    p.drawLine(QPointF(16 * s, 7 * s), QPointF(22 * s, 30 * s));
    p.drawLine(QPointF(12.5 * s, 20 * s), QPointF(19.5 * s, 20 * s));
    p.drawLine(QPointF(11.5 * s, 25 * s), QPointF(20.5 * s, 25 * s));
    // The top lamp and the waves leaving it on both sides.
    p.setBrush(QColor(220, 40, 30));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(16 * s, 6 * s), 2.6 * s, 2.6 * s);
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 2; ++i) {
        const double r = (7 + 5 * i) * s;
        QPen wave(QColor(30, 110, 200), 2.0 * s, Qt::SolidLine, Qt::RoundCap);
        p.setPen(wave);
        const QRectF arc(16 * s - r, 6 * s - r, 2 * r, 2 * r);
        p.drawArc(arc, -40 * 16, 80 * 16);  // right
        p.drawArc(arc, 140 * 16, 80 * 16);  // left
    }
    return pm;
}

// Check boxes hold 0, 1 or 2 in the model and change only through
// CheckBox::userToggle; the widget must not advance its own state on a click.
class ModelCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {}
};

// Frames are laid out with their caption on the top border line, as the
// layout expects: the controls inside start just below the caption, where
// Qt's own group box would still be drawing its title. So the frame paints
// itself: an etched box from the middle of the caption down, and the caption
// over the line.
class CaptionFrame : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QFontMetrics fm(font());
        // Qt's styles offset a group box frame by the title's height, so the
        // etched line is drawn here directly.
        qDrawShadeRect(&p, rect().adjusted(0, fm.height() / 2, 0, 0), palette(), true, 1, 0);
        if (title().isEmpty()) return;
        const int x = 6;
        const QString text = fm.elidedText(title(), Qt::ElideRight, width() - 2 * x);
        const QRect caption(x, 0, fm.horizontalAdvance(text) + 4, fm.height());
        p.fillRect(caption, palette().window());
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(caption, Qt::AlignCenter | Qt::TextSingleLine, text);
    }
};

Qt::CheckState checkState(int value) {
    switch (value) {
        case 1:
            return Qt::Checked;
        case 2:
            return Qt::PartiallyChecked;
        default:
            return Qt::Unchecked;
    }
}

// A bar whose Min exceeds its Max runs the other way. Qt's bars always run
// from minimum at the top/left, so such a bar is shown mirrored: the model's
// value v is the widget's value min + max - v over the range [max, min].
// Mirroring the value (rather than inverting the widget's appearance) keeps
// the arrows and the track clicks moving towards the end they point at.
int mirroredIfReversed(const ScrollBar& bar, int v) { return bar.min() > bar.max() ? bar.min() + bar.max() - v : v; }

}  // namespace

int twipsToPixels(int twips) { return static_cast<int>(std::lround(twips / static_cast<double>(kTwipsPerPixel))); }
int pixelsToTwips(int pixels) { return pixels * kTwipsPerPixel; }

QIcon tarnwickIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(drawIcon(size));
    return icon;
}

QtMainWindow::QtMainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setFixedSize(twipsToPixels(kClientWidthTwips), twipsToPixels(kClientHeightTwips));
    setWindowIcon(tarnwickIcon());
#if QT_CONFIG(sessionmanager)
    // A log-off asks the same question as the close box; a No cancels it.
    if (qApp != nullptr) {
        connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
            if (!manager.allowsInteraction()) return;
            askToClose();
            manager.release();
            manager.cancel();
        });
    }
#endif
}

QtMainWindow::~QtMainWindow() {
    if (form_ != nullptr) form_->removeObserver(this);
}

void QtMainWindow::bind(Form& form) {
    form_ = &form;
    // Controls come containers first, so a parent's widget always exists
    // before its children's. Siblings stack in creation order, later ones on
    // top: that is what puts Frame1, Frame5 and the Play/Stop/Resume buttons,
    // which are window children lying over Frame8 and Frame4, above those
    // frames, where they can be seen and clicked.
    for (Control* c : form.controls()) {
        if (c->kind() == ControlKind::Timer || c->kind() == ControlKind::FileDialog || c->outside()) continue;
        QWidget* parent = this;
        if (c->container() != nullptr) {
            auto it = widgets_.find(c->container());
            if (it == widgets_.end()) continue;
            parent = it->second;
        }
        QWidget* w = createWidget(*c, parent);
        w->setObjectName(toQString(c->name()));
        const TwipsRect& g = c->geometry();
        w->setGeometry(twipsToPixels(g.left), twipsToPixels(g.top), twipsToPixels(g.width), twipsToPixels(g.height));
        widgets_[c] = w;
        applyLook(*c, w);
        refresh(*c, w);
    }
    setWindowTitle(toQString(form.caption()));
    form.addObserver(this);
}

QWidget* QtMainWindow::widgetFor(const Control& control) const {
    auto it = widgets_.find(&control);
    return it == widgets_.end() ? nullptr : it->second;
}

QWidget* QtMainWindow::createWidget(Control& c, QWidget* parent) {
    switch (c.kind()) {
        case ControlKind::Label: {
            auto* label = new QLabel(parent);
            label->setTextFormat(Qt::PlainText);
            return label;
        }
        case ControlKind::TextBox:
            return createTextBox(static_cast<TextBox&>(c), parent);
        case ControlKind::CheckBox: {
            auto& model = static_cast<CheckBox&>(c);
            auto* box = new ModelCheckBox(parent);
            box->setTristate(true);
            connect(box, &QCheckBox::clicked, this, [this, &model, box] {
                if (updating_) return;
                model.userToggle();
                refresh(model, box);
            });
            return box;
        }
        case ControlKind::CommandButton: {
            auto& model = static_cast<CommandButton&>(c);
            auto* button = new QPushButton(parent);
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, [this, &model] {
                if (!updating_) model.userClick();
            });
            return button;
        }
        case ControlKind::Frame:
            return new CaptionFrame(parent);
        case ControlKind::HScrollBar:
        case ControlKind::VScrollBar:
            return createScrollBar(static_cast<ScrollBar&>(c), parent);
        case ControlKind::Timer:
        case ControlKind::FileDialog:
            break;
    }
    return new QWidget(parent);
}

QLineEdit* QtMainWindow::createTextBox(TextBox& box, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    // textEdited comes for typing, pasting, cutting and undo, but not for
    // setText: exactly the user's edits.
    connect(edit, &QLineEdit::textEdited, this, [this, &box, edit](const QString& proposed) {
        if (updating_) return;
        const int cursor = edit->cursorPosition();
        const int grown = static_cast<int>(proposed.size()) - static_cast<int>(toQString(box.text()).size());
        if (!box.userEdit(proposed.toStdString())) {
            Raise guard(updating_);
            edit->setText(toQString(box.text()));
            edit->setCursorPosition(std::max(0, cursor - std::max(0, grown)));
        }
    });
    return edit;
}

QScrollBar* QtMainWindow::createScrollBar(ScrollBar& model, QWidget* parent) {
    auto* bar = new QScrollBar(model.kind() == ControlKind::VScrollBar ? Qt::Vertical : Qt::Horizontal, parent);
    // Dragging the thumb raises the scroll event once per move; the value
    // settles (change) when the drag ends, or at once for arrows, track
    // clicks, keys and the wheel.
    connect(bar, &QScrollBar::sliderMoved, this, [this, &model](int v) {
        if (!updating_) model.userScroll(mirroredIfReversed(model, v));
    });
    connect(bar, &QScrollBar::valueChanged, this, [this, &model, bar](int v) {
        if (updating_ || bar->isSliderDown()) return;
        model.userChange(mirroredIfReversed(model, v));
    });
    connect(bar, &QScrollBar::sliderReleased, this, [this, &model, bar] {
        if (updating_) return;
        model.userChange(mirroredIfReversed(model, bar->value()));
        refreshScrollBar(model, bar);
    });
    return bar;
}

void QtMainWindow::applyLook(Control& c, QWidget* w) {
    // Every widget gets its own colours for the roles it uses, so a frame's
    // text colour does not flow into the controls inside it.
    const QPalette app = QApplication::palette();
    QPalette pal = w->palette();
    const QColor fore = toQColor(c.foreColour());
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::Base}) {
        pal.setColor(role, app.color(role));
    }
    switch (c.kind()) {
        case ControlKind::Label:
            pal.setColor(QPalette::WindowText, fore);
            break;
        case ControlKind::TextBox:
            pal.setColor(QPalette::Text, fore);
            if (c.hasBackColour()) pal.setColor(QPalette::Base, toQColor(c.backColour()));
            break;
        case ControlKind::CheckBox:
            pal.setColor(QPalette::WindowText, fore);
            break;
        case ControlKind::CommandButton:
            pal.setColor(QPalette::ButtonText, fore);
            break;
        case ControlKind::Frame:
            pal.setColor(QPalette::WindowText, fore);
            pal.setColor(QPalette::Text, fore);
            break;
        default:
            break;
    }
    w->setPalette(pal);
    w->setFont(baseFont(c));

    const Qt::Alignment horizontal = c.alignment() == Align::Centre ? Qt::AlignHCenter : Qt::AlignLeft;
    if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setAlignment(horizontal | Qt::AlignTop);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setAlignment(horizontal | Qt::AlignVCenter);
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
        QStyle::StandardPixmap picture = QStyle::SP_CustomBase;
        if (c.name() == "Command1") picture = QStyle::SP_MediaPlay;
        if (c.name() == "Command2") picture = QStyle::SP_MediaStop;
        if (c.name() == "Command3") picture = QStyle::SP_DialogOpenButton;
        if (picture != QStyle::SP_CustomBase) {
            button->setIcon(style()->standardIcon(picture));
            const int side = std::max(8, w->height() - 7);
            button->setIconSize(QSize(side, side));
        }
    }
}

void QtMainWindow::refresh(Control& c, QWidget* w) {
    Raise guard(updating_);
    switch (c.kind()) {
        case ControlKind::Label: {
            auto& model = static_cast<Label&>(c);
            auto* label = static_cast<QLabel*>(w);
            const QString text = toQString(model.caption());
            // The monitors write the same captions ten times a second; the
            // font already fits a text the label shows (unless the look was
            // just reset).
            if (label->text() == text && !lookReset_) break;
            // The counters and clocks change many times a second; only touch
            // the font when the fit really changes.
            const QFont font = fittingFont(c, text, w->width());
            if (label->font() != font) label->setFont(font);
            if (label->text() != text) label->setText(text);
            break;
        }
        case ControlKind::Frame: {
            auto* box = static_cast<QGroupBox*>(w);
            const QString text = toQString(static_cast<Frame&>(c).caption());
            box->setFont(fittingFont(c, text, w->width() - 16));
            box->setTitle(text);
            break;
        }
        case ControlKind::CheckBox: {
            auto& model = static_cast<CheckBox&>(c);
            auto* box = static_cast<QCheckBox*>(w);
            const QString text = toQString(model.caption());
            const int indicator = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
                                  style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
            box->setFont(fittingFont(c, text, w->width() - indicator));
            box->setText(text);
            box->setCheckState(checkState(model.value()));
            break;
        }
        case ControlKind::CommandButton: {
            auto* button = static_cast<QPushButton*>(w);
            const QString text = toQString(static_cast<CommandButton&>(c).caption());
            // The room the style leaves for the caption, beside the picture.
            QStyleOptionButton opt;
            opt.initFrom(button);
            const int contents = style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button).width();
            const int picture = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
            button->setFont(fittingFont(c, text, contents - 2 - picture));
            button->setText(text);
            break;
        }
        case ControlKind::TextBox: {
            auto& model = static_cast<TextBox&>(c);
            auto* edit = static_cast<QLineEdit*>(w);
            refreshTextLimits(model, edit);
            const QString text = toQString(model.text());
            // An accepted user edit comes back here with the text the widget
            // already shows; leaving it alone keeps the cursor and undo.
            if (edit->text() != text) edit->setText(text);
            break;
        }
        case ControlKind::HScrollBar:
        case ControlKind::VScrollBar:
            refreshScrollBar(static_cast<ScrollBar&>(c), static_cast<QScrollBar*>(w));
            break;
        case ControlKind::Timer:
        case ControlKind::FileDialog:
            break;
    }
}

void QtMainWindow::refreshTextLimits(TextBox& box, QLineEdit* edit) {
    // The model's maximum length limits typing only; a program write may be
    // longer, and QLineEdit would cut it. So the widget's limit is never
    // below the text it must show.
    const QString text = toQString(box.text());
    const int limit = box.maxLength() > 0 ? std::max<int>(box.maxLength(), static_cast<int>(text.size())) : 32767;
    if (edit->maxLength() != limit) edit->setMaxLength(limit);
    // The digits-only style is also enforced at the keyboard, so that a
    // refused key never flickers into the box.
    if (box.digitsOnly() && edit->validator() == nullptr) {
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    } else if (!box.digitsOnly() && edit->validator() != nullptr) {
        const QValidator* old = edit->validator();
        edit->setValidator(nullptr);
        delete old;
    }
}

void QtMainWindow::refreshScrollBar(ScrollBar& model, QScrollBar* bar) {
    Raise guard(updating_);
    bar->setRange(model.lowEnd(), model.highEnd());
    bar->setSingleStep(model.smallChange());
    bar->setPageStep(model.largeChange());
    // While the user drags, the thumb stays under the mouse; the model's
    // value is shown again when the drag ends.
    if (!bar->isSliderDown()) bar->setValue(mirroredIfReversed(model, model.value()));
}

void QtMainWindow::controlChanged(Control& control, Property property) {
    QWidget* w = widgetFor(control);
    if (w == nullptr) return;
    if (property == Property::ForeColor) {
        // The PTT monitor sets its colour every tick; restyling a widget is
        // far dearer than comparing a number.
        const QVariant applied = w->property("tarnwickFore");
        if (applied.isValid() && applied.toUInt() == control.foreColour()) return;
        applyLook(control, w);
        w->setProperty("tarnwickFore", static_cast<unsigned>(control.foreColour()));
        Raise reset(lookReset_);
        refresh(control, w);
        return;
    }
    refresh(control, w);
}

void QtMainWindow::captionChanged(const std::string& caption) { setWindowTitle(toQString(caption)); }

void QtMainWindow::askToClose() {
    if (askingToClose_ || !onCloseRequested) return;
    Raise guard(askingToClose_);
    onCloseRequested();
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
    // The window never closes on its own: the answer to the question decides,
    // and a Yes ends the program from inside the callback.
    event->ignore();
    askToClose();
}

void QtMainWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (!isMinimized()) lastNormalPos_ = pos();
}

QPoint QtMainWindow::normalTopLeft() const { return isMinimized() ? lastNormalPos_ : pos(); }

void QtMainWindow::moveTo(int leftTwips, int topTwips) {
    // For a top-level widget, move() places the frame's top-left corner.
    move(twipsToPixels(leftTwips), twipsToPixels(topTwips));
    if (!isMinimized()) lastNormalPos_ = pos();
}

int QtMainWindow::left() const { return pixelsToTwips(normalTopLeft().x()); }
int QtMainWindow::top() const { return pixelsToTwips(normalTopLeft().y()); }
int QtMainWindow::outerWidth() const { return pixelsToTwips(frameGeometry().width()); }
int QtMainWindow::outerHeight() const { return pixelsToTwips(frameGeometry().height()); }

std::vector<TwipsRect> QtMainWindow::screens() const {
    std::vector<TwipsRect> out;
    QScreen* primary = QGuiApplication::primaryScreen();
    auto add = [&out](const QScreen* s) {
        const QRect r = s->availableGeometry();
        out.push_back(
            {pixelsToTwips(r.x()), pixelsToTwips(r.y()), pixelsToTwips(r.width()), pixelsToTwips(r.height())});
    };
    if (primary != nullptr) add(primary);
    for (const QScreen* s : QGuiApplication::screens()) {
        if (s != primary) add(s);
    }
    return out;
}

void QtMainWindow::show() { QWidget::show(); }

}  // namespace tarnwick
