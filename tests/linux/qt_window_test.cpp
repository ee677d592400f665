// QtMainWindow keeps the contract of every window, driven through Qt's own
// input: keys, clicks, the clipboard and the slider.
#include "platform/linux/qt_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include "shared/window_contract.h"
#include "window/form.h"

namespace tarnwick {
namespace {

// The rectangle of one part of a scroll bar, in the bar's coordinates.
QRect part(QScrollBar* bar, QStyle::SubControl sc) {
    QStyleOptionSlider opt;
    opt.initFrom(bar);
    opt.orientation = bar->orientation();
    opt.minimum = bar->minimum();
    opt.maximum = bar->maximum();
    opt.sliderPosition = bar->sliderPosition();
    opt.sliderValue = bar->value();
    opt.pageStep = bar->pageStep();
    opt.upsideDown = bar->invertedAppearance();
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &opt, sc, bar);
}

TEST(QtMainWindow, KeepsTheContractOfEveryWindow) {
    Form form;
    ScrollBar speedProbe{form, "SpeedProbe", ControlKind::VScrollBar, nullptr, {5940, 1680, 255, 1575}, 200, 10, 3,
                         40,   100};
    QtMainWindow window;
    window.bind(form);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    auto widget = [&](const Control& c) {
        QWidget* w = window.widgetFor(c);
        EXPECT_NE(w, nullptr) << c.name();
        return w;
    };
    auto edit = [&](const Control& c) { return qobject_cast<QLineEdit*>(widget(c)); };
    auto bar = [&](const Control& c) { return qobject_cast<QScrollBar*>(widget(c)); };
    test::WindowDriver d{form, window, window.onCloseRequested, speedProbe};
    d.placed = [&](const Control& c) -> std::optional<test::PixelRect> {
        QWidget* w = window.widgetFor(c);
        // No hidden widget stands behind a control without one.
        EXPECT_EQ(window.findChild<QWidget*>(QString::fromStdString(c.name())), w) << c.name();
        if (w == nullptr || !w->isVisible()) return std::nullopt;
        const QRect r(w->mapTo(&window, QPoint(0, 0)), w->size());
        return test::PixelRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    };
    d.onTopAt = [&](const Control& c, int x, int y) {
        QWidget* hit = window.childAt(x, y);
        return hit != nullptr && (hit == window.widgetFor(c) || window.widgetFor(c)->isAncestorOf(hit));
    };
    d.shownText = [&](const Control* c) {
        if (c == nullptr) return window.windowTitle().toStdString();
        return widget(*c)->property("text").toString().toStdString();
    };
    d.textColour = [&](const Control& c) {
        QWidget* w = widget(c);
        const QColor colour =
            w->palette().color(qobject_cast<QLineEdit*>(w) != nullptr ? QPalette::Text : QPalette::WindowText);
        return static_cast<unsigned>(colour.red() | colour.green() << 8 | colour.blue() << 16);
    };
    d.type = [&](const Control& c, const std::string& keys) {
        edit(c)->setFocus();
        QTest::keyClicks(edit(c), QString::fromStdString(keys));
    };
    d.paste = [&](const Control& c, const std::string& text) {
        QApplication::clipboard()->setText(QString::fromStdString(text));
        edit(c)->paste();
    };
    d.forceText = [&](const Control& c, const std::string& text) {
        edit(c)->setText(QString::fromStdString(text));
        emit edit(c)->textEdited(QString::fromStdString(text));
    };
    d.setCaret = [&](const Control& c, int at) {
        edit(c)->setFocus();
        edit(c)->setCursorPosition(at);
    };
    d.caret = [&](const Control& c) { return edit(c)->cursorPosition(); };
    d.click = [&](const Control& c) {
        QWidget* w = widget(c);
        // A check box takes clicks on its box.
        const bool box = qobject_cast<QCheckBox*>(w) != nullptr;
        QTest::mouseClick(w, Qt::LeftButton, {}, box ? QPoint(6, w->height() / 2) : w->rect().center());
    };
    d.checkState = [&](const Control& c) {
        const Qt::CheckState state = qobject_cast<QCheckBox*>(widget(c))->checkState();
        return state == Qt::PartiallyChecked ? 2 : state == Qt::Checked ? 1 : 0;
    };
    d.arrow = [&](const Control& c, bool down) {
        QTest::mouseClick(bar(c), Qt::LeftButton, {},
                          part(bar(c), down ? QStyle::SC_ScrollBarAddLine : QStyle::SC_ScrollBarSubLine).center());
    };
    d.drag = [&](const Control& c, int value) {
        bar(c)->setSliderDown(true);
        bar(c)->setSliderPosition(value);
    };
    d.drop = [&](const Control& c) { bar(c)->setSliderDown(false); };
    d.thumb = [&](const Control& c) { return bar(c)->value(); };
    d.thumbAtTop = [&](const Control& c) {
        return part(bar(c), QStyle::SC_ScrollBarSlider).top() == part(bar(c), QStyle::SC_ScrollBarGroove).top();
    };
    d.requestClose = [&] { window.close(); };
    d.stillShown = [&] { return window.isVisible(); };
    d.outerReaches = [&](int x, int y) { return QTest::qWaitFor([&] { return window.pos() == QPoint(x, y); }, 20000); };
    d.minimise = [&](bool down) { down ? window.showMinimized() : window.showNormal(); };
    d.clientSize = [&] { return std::pair(window.width(), window.height()); };
    d.fixedSizeWithOnlyAMinimiseBox = [&] {
        return window.minimumSize() == window.maximumSize() &&
               !window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint) &&
               window.windowFlags().testFlag(Qt::WindowMinimizeButtonHint);
    };
    d.primaryWorkArea = [] {
        const QRect r = QGuiApplication::primaryScreen()->availableGeometry();
        return test::PixelRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    };
    test::keepsTheContractOfEveryWindow(d);
}

}  // namespace
}  // namespace tarnwick
