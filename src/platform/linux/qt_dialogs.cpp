#include "platform/linux/qt_dialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace tarnwick {

namespace {

QString toQString(const std::string& s) { return QString::fromStdString(s); }

QMessageBox::Icon iconFor(int style) {
    switch (style & mb::kIconMask) {
        case mb::kIconError:
            return QMessageBox::Critical;
        case mb::kIconQuestion:
            return QMessageBox::Question;
        case mb::kIconExclamation:
            return QMessageBox::Warning;
        case mb::kIconInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

// Ctrl+C copies the box as a Windows message box does (title, text and
// buttons between rules), so that a report can be pasted into a mail.
class CopyableMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (!e->matches(QKeySequence::Copy)) {
            QMessageBox::keyPressEvent(e);
            return;
        }
        const QString rule = QStringLiteral("---------------------------\n");
        QStringList names;
        for (QAbstractButton* b : buttons()) names << b->text().remove(QLatin1Char('&'));
        QApplication::clipboard()->setText(rule + windowTitle() + QLatin1Char('\n') + rule + text() +
                                           QLatin1Char('\n') + rule + names.join(QStringLiteral("   ")) +
                                           QLatin1Char('\n') + rule);
        e->accept();
    }
};

}  // namespace

QStringList toQtNameFilters(const std::string& filter) {
    QStringList out;
    const QStringList parts = toQString(filter).split(QLatin1Char('|'));
    if (filter.empty()) return out;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString description = parts[i];
        const QString patterns = i + 1 < parts.size() ? parts[i + 1] : parts[i];
        QStringList globs;
        for (const QString& p : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString glob = p.trimmed();
            if (!glob.isEmpty()) globs << glob;
        }
        if (globs.isEmpty()) globs << QStringLiteral("*");
        out << description + QStringLiteral(" (") + globs.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out;
}

QtDialogs::QtDialogs(QWidget* owner) : owner_(owner) {}

QtDialogs::~QtDialogs() {
    if (about_ && about_->parent() == nullptr) delete about_.data();
}

QWidget* QtDialogs::visibleOwner() const {
    // A box owned by a hidden window would be placed relative to where that
    // window is not; during start-up the boxes stand alone.
    return owner_ && owner_->isVisible() ? owner_.data() : nullptr;
}

MsgResult QtDialogs::messageBox(const std::string& text, const std::string& title, int style) {
    QString body = toQString(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));

    CopyableMessageBox box(visibleOwner());
    box.setWindowTitle(toQString(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(body);
    box.setIcon(iconFor(style));
    const bool yesNo = (style & mb::kButtonsMask) == mb::kYesNo;
    if (yesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    box.exec();

    switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Yes:
            return MsgResult::Yes;
        case QMessageBox::No:
            return MsgResult::No;
        default:
            return yesNo ? MsgResult::No : MsgResult::Ok;
    }
}

std::string QtDialogs::openFile(const std::string& fileName, const std::string& filter) {
    QFileDialog dialog(visibleOwner(), QStringLiteral("Open"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // Show each description as given: without this Qt appends the patterns.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QStringList filters = toQtNameFilters(filter);
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    if (!fileName.empty()) {
        const QFileInfo start(toQString(fileName));
        if (start.absoluteDir().exists()) dialog.setDirectory(start.absoluteDir());
        dialog.selectFile(start.fileName());
    }
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? std::string() : chosen.first().toStdString();
}

QWidget* QtDialogs::makeLogBox() {
    auto* box = new QGroupBox(QStringLiteral("Station log"), about_);
    auto* layout = new QVBoxLayout(box);
    aboutLogPlace_ = new QLabel(box);
    aboutLogPlace_->setObjectName(QStringLiteral("AboutLogPlace"));
    // The path can be selected and copied into a file manager or a mail.
    aboutLogPlace_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    aboutLogProblem_ = new QLabel(box);
    aboutLogProblem_->setObjectName(QStringLiteral("AboutLogProblem"));
    aboutLogProblem_->setWordWrap(true);
    aboutLogProblem_->setStyleSheet(QStringLiteral("color: #b00000;"));
    aboutLog_ = new QPlainTextEdit(box);
    aboutLog_->setObjectName(QStringLiteral("AboutLog"));
    aboutLog_->setReadOnly(true);
    aboutLog_->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(aboutLog_->font().pointSizeF() * 0.9);
    aboutLog_->setFont(fixed);
    // A stamp and a typical event on one line; the latest lines all shown.
    const QFontMetrics metrics(fixed);
    aboutLog_->setMinimumSize(metrics.horizontalAdvance(QLatin1Char('x')) * 100,
                              metrics.lineSpacing() * (kLogLinesShown + 1));
    layout->addWidget(aboutLogPlace_);
    layout->addWidget(aboutLogProblem_);
    layout->addWidget(aboutLog_);
    return box;
}

void QtDialogs::showLog(const AboutInfo& info) {
    aboutLogPlace_->setText(QStringLiteral("File: ") + toQString(info.logPlace.empty() ? "(no place)" : info.logPlace));
    aboutLogProblem_->setText(
        info.logProblem.empty() ? QString() : QStringLiteral("Cannot be written: ") + toQString(info.logProblem));
    aboutLogProblem_->setVisible(!info.logProblem.empty());
    QStringList lines;
    for (const std::string& line : info.logLines) lines << toQString(line);
    aboutLog_->setPlainText(lines.isEmpty() ? QStringLiteral("(no lines yet)") : lines.join(QLatin1Char('\n')));
    // The latest line in view.
    aboutLog_->moveCursor(QTextCursor::End);
    aboutLog_->ensureCursorVisible();
}

void QtDialogs::placeAbout() {
    aboutPlaced_ = true;
    QWidget* owner = visibleOwner();
    if (owner == nullptr || owner->screen() == nullptr) return;
    // Beside the main window, so that the window and its timers stay in
    // sight; on a screen too narrow for both, against its right edge, over
    // as little of the main window as it can.
    about_->adjustSize();
    const QRect main = owner->frameGeometry();
    const QRect room = owner->screen()->availableGeometry();
    const QSize size = about_->frameGeometry().size();
    QPoint at(main.right() + 1 + 8, main.top());
    if (at.x() + size.width() > room.right() + 1) at.setX(room.right() + 1 - size.width());
    at.setX(std::max(at.x(), room.left()));
    at.setY(std::max(room.top(), std::min(at.y(), room.bottom() + 1 - size.height())));
    about_->move(at);
}

void QtDialogs::showAbout(const AboutInfo& info) {
    if (!about_) {
        about_ = new QDialog(owner_);
        about_->setObjectName(QStringLiteral("AboutWindow"));
        about_->setModal(false);
        auto* layout = new QVBoxLayout(about_);
        aboutProduct_ = new QLabel(about_);
        QFont big = aboutProduct_->font();
        big.setPointSizeF(big.pointSizeF() * 1.6);
        big.setBold(true);
        aboutProduct_->setFont(big);
        aboutProduct_->setAlignment(Qt::AlignHCenter);
        aboutVersion_ = new QLabel(about_);
        aboutVersion_->setAlignment(Qt::AlignHCenter);
        aboutSummary_ = new QLabel(about_);
        aboutSummary_->setWordWrap(true);
        aboutSummary_->setAlignment(Qt::AlignHCenter);
        aboutLink_ = new QLabel(about_);
        aboutLink_->setObjectName(QStringLiteral("AboutLink"));
        aboutLink_->setAlignment(Qt::AlignHCenter);
        aboutLink_->setTextFormat(Qt::RichText);
        aboutLink_->setTextInteractionFlags(Qt::TextBrowserInteraction);
        // QLabel hands a clicked link to QDesktopServices::openUrl.
        aboutLink_->setOpenExternalLinks(true);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, about_);
        QObject::connect(buttons, &QDialogButtonBox::rejected, about_.data(), &QDialog::hide);
        for (QWidget* w : {static_cast<QWidget*>(aboutProduct_), static_cast<QWidget*>(aboutVersion_),
                           static_cast<QWidget*>(aboutSummary_), static_cast<QWidget*>(aboutLink_)}) {
            layout->addWidget(w);
        }
        layout->addWidget(makeLogBox());
        layout->addWidget(buttons);
    }
    about_->setWindowTitle(QStringLiteral("About ") + toQString(info.product));
    aboutProduct_->setText(toQString(info.product));
    aboutVersion_->setText(QStringLiteral("Version ") + toQString(info.version));
    aboutSummary_->setText(toQString(info.summary));
    const QString link = toQString(info.link).toHtmlEscaped();
    aboutLink_->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(link));
    showLog(info);

    if (!aboutPlaced_) placeAbout();
    about_->show();
    about_->raise();
    about_->activateWindow();
}

}  // namespace tarnwick
