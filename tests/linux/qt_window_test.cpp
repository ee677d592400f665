#include "platform/linux/qt_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

#include "linux/qt_support.h"
#include "window/form.h"

namespace tarnwick {
namespace {

QRect pixels(const TwipsRect& r) {
    return QRect(twipsToPixels(r.left), twipsToPixels(r.top), twipsToPixels(r.width), twipsToPixels(r.height));
}

class BoundWindow : public ::testing::Test {
protected:
    void SetUp() override {
        window.bind(form);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    template <typename W>
    W* widget(const Control& c) {
        auto* w = qobject_cast<W*>(window.widgetFor(c));
        EXPECT_NE(w, nullptr) << c.name();
        return w;
    }

    // The rectangle of one part of a scroll bar, in the bar's coordinates.
    static QRect part(QScrollBar* bar, QStyle::SubControl sc) {
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

    Form form;
    // V2 lies outside the client area and has no widget; this visible bar
    // has its range (Min 200 above Max 10) so the reversed mapping can be seen.
    ScrollBar speedProbe{form, "SpeedProbe", ControlKind::VScrollBar, nullptr, {5940, 1680, 255, 1575}, 200, 10, 3,
                         40,   100};
    QtMainWindow window;
};

TEST_F(BoundWindow, EveryVisibleControlHasAWidgetAtItsPlaceAndOutsideOnesNone) {
    int shown = 0;
    for (Control* c : form.controls()) {
        if (c->kind() == ControlKind::Timer || c->kind() == ControlKind::FileDialog) {
            EXPECT_EQ(window.widgetFor(*c), nullptr) << c->name();
            continue;
        }
        QWidget* w = window.widgetFor(*c);
        const QString name = QString::fromStdString(c->name());
        if (c->outside()) {
            EXPECT_EQ(w, nullptr) << c->name();
            EXPECT_EQ(window.findChild<QWidget*>(name), nullptr) << c->name();
            continue;
        }
        ASSERT_NE(w, nullptr) << c->name();
        EXPECT_EQ(window.findChild<QWidget*>(name), w) << c->name();
        EXPECT_TRUE(w->isVisible()) << c->name();
        const QRect placed(w->mapTo(&window, QPoint(0, 0)), w->size());
        EXPECT_EQ(placed, pixels(c->windowGeometry())) << c->name();
        ++shown;
    }
    EXPECT_GT(shown, 50);
    for (const Control* c : std::initializer_list<const Control*>{&form.Text6, &form.V2, &form.ListAsBusyCheck,
                                                                  &form.Frame6, &form.Text1}) {
        EXPECT_EQ(window.widgetFor(*c), nullptr) << c->name();  // lie outside the client area
    }
}

TEST_F(BoundWindow, ControlsLyingOverFramesAreOnTopAndClickable) {
    auto topAt = [&](const Control& c, QPoint offset) {
        const QRect r = pixels(c.windowGeometry());
        return window.childAt(r.topLeft() + offset);
    };
    QWidget* play = window.widgetFor(form.Command1);
    const QRect playRect = pixels(form.Command1.windowGeometry());
    QWidget* hit = window.childAt(playRect.center());
    EXPECT_TRUE(hit == play || play->isAncestorOf(hit));
    // Frame1 and Frame5 lie over Frame8: points on their own border area
    // belong to them, not to Frame8.
    EXPECT_EQ(topAt(form.Frame1, QPoint(2, 30)), window.widgetFor(form.Frame1));
    EXPECT_EQ(topAt(form.Frame5, QPoint(2, 20)), window.widgetFor(form.Frame5));

    int clicks = 0;
    form.Command1.onClick = [&] { ++clicks; };
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

TEST_F(BoundWindow, ProgramWritesShowInTheWidgets) {
    form.Text4.setText("/srv/audio/id.wav");
    EXPECT_EQ(widget<QLineEdit>(form.Text4)->text(), "/srv/audio/id.wav");

    // A program write longer than the typing limit is shown whole.
    form.Hour3.setText("123");
    EXPECT_EQ(widget<QLineEdit>(form.Hour3)->text(), "123");

    form.PTT.setCaption("PTT ON");
    form.PTT.setForeColour(kRed);
    auto* ptt = widget<QLabel>(form.PTT);
    EXPECT_EQ(ptt->text(), "PTT ON");
    EXPECT_EQ(ptt->palette().color(QPalette::WindowText), QColor(255, 0, 0));

    // Colours are 0xBBGGRR: Text4's 0x000080 is a dark red.
    EXPECT_EQ(widget<QLineEdit>(form.Text4)->palette().color(QPalette::Text), QColor(0x80, 0, 0));
    // A frame's colour does not flow into the controls inside it.
    EXPECT_EQ(widget<QCheckBox>(form.Sun3)->palette().color(QPalette::WindowText), QColor(0, 0, 0));

    form.setCaption("Tarnwick    N0CALL-L   v1.0.5");
    EXPECT_EQ(window.windowTitle(), "Tarnwick    N0CALL-L   v1.0.5");
}

TEST_F(BoundWindow, DigitsOnlyBoxRefusesTypedAndPastedNonDigitsAndKeepsTheCursor) {
    int changes = 0;
    form.Hour3.onChange = [&] { ++changes; };
    form.Hour3.setStyle(kEsNumber);
    form.Hour3.setText("");
    changes = 0;
    auto* edit = widget<QLineEdit>(form.Hour3);
    edit->setFocus();

    QTest::keyClicks(edit, "a1b2c3");
    EXPECT_EQ(form.Hour3.text(), "12");  // two digits at most
    EXPECT_EQ(edit->text(), "12");
    EXPECT_EQ(changes, 2);

    form.Hour3.setText("");
    changes = 0;
    QApplication::clipboard()->setText("9x");
    edit->paste();
    EXPECT_EQ(form.Hour3.text(), "");
    EXPECT_EQ(edit->text(), "");
    EXPECT_EQ(changes, 0);

    // Whatever reaches the widget past the keyboard rule is refused by the
    // model and the widget is put back.
    edit->setText("4z");
    emit edit->textEdited("4z");
    EXPECT_EQ(form.Hour3.text(), "");
    EXPECT_EQ(edit->text(), "");
    EXPECT_EQ(changes, 0);

    // An accepted edit keeps the cursor where the user typed; a fourth
    // character is over the limit.
    form.BeaconPeriod6.setText("15");
    auto* period = widget<QLineEdit>(form.BeaconPeriod6);
    period->setFocus();
    period->setCursorPosition(1);
    QTest::keyClick(period, Qt::Key_2);
    EXPECT_EQ(form.BeaconPeriod6.text(), "125");
    EXPECT_EQ(period->cursorPosition(), 2);
    QTest::keyClick(period, Qt::Key_3);
    EXPECT_EQ(form.BeaconPeriod6.text(), "125");
}

TEST_F(BoundWindow, CheckBoxShowsGreyedAndTogglesOnlyThroughTheModel) {
    auto* box = widget<QCheckBox>(form.Sun3);
    form.Sun3.setValue(2);
    EXPECT_EQ(box->checkState(), Qt::PartiallyChecked);

    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    EXPECT_EQ(form.Sun3.value(), 1);
    EXPECT_EQ(box->checkState(), Qt::Checked);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    EXPECT_EQ(form.Sun3.value(), 0);
    EXPECT_EQ(box->checkState(), Qt::Unchecked);
}

TEST_F(BoundWindow, ReversedBarHasMinAtTheTopAndItsArrowsPointTheRightWay) {
    auto* bar = widget<QScrollBar>(speedProbe);
    speedProbe.setValue(200);
    const QRect atTop = part(bar, QStyle::SC_ScrollBarSlider);
    speedProbe.setValue(10);
    const QRect atBottom = part(bar, QStyle::SC_ScrollBarSlider);
    EXPECT_LT(atTop.top(), atBottom.top());
    EXPECT_EQ(atTop.top(), part(bar, QStyle::SC_ScrollBarGroove).top());

    speedProbe.setValue(100);
    int changes = 0;
    speedProbe.onChange = [&] { ++changes; };
    QTest::mouseClick(bar, Qt::LeftButton, {}, part(bar, QStyle::SC_ScrollBarAddLine).center());
    EXPECT_EQ(speedProbe.value(), 97);  // the bottom arrow moves towards Max 10
    EXPECT_EQ(changes, 1);
    QTest::mouseClick(bar, Qt::LeftButton, {}, part(bar, QStyle::SC_ScrollBarSubLine).center());
    EXPECT_EQ(speedProbe.value(), 100);
}

TEST_F(BoundWindow, DraggingRaisesScrollAndTheDropRaisesOneChange) {
    auto* bar = widget<QScrollBar>(form.V1);
    int scrolls = 0, changes = 0;
    form.V1.onScroll = [&] { ++scrolls; };
    form.V1.onChange = [&] { ++changes; };

    bar->setSliderDown(true);
    bar->setSliderPosition(-2000);
    bar->setSliderPosition(-1500);
    EXPECT_EQ(form.V1.value(), -1500);
    EXPECT_EQ(scrolls, 2);
    EXPECT_EQ(changes, 0);
    bar->setSliderDown(false);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(form.V1.value(), -1500);

    // A program write moves the thumb, and raises no user event.
    form.V1.onChange = nullptr;
    form.V1.setValue(-3000);
    EXPECT_EQ(bar->value(), -3000);
    EXPECT_EQ(scrolls, 2);
}

TEST_F(BoundWindow, CloseRequestsGoToTheCallbackAndTheWindowStays) {
    int asked = 0;
    window.onCloseRequested = [&] {
        ++asked;
        window.close();  // a second request while the first is answered is dropped
    };
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(window.close());
    EXPECT_EQ(asked, 2);
}

TEST_F(BoundWindow, FixedSizeWithoutMaximiseBoxAndPositionInTwipsKeptWhileMinimised) {
    EXPECT_EQ(window.size(), QSize(417, 431));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));

    window.moveTo(450, 600);
    ASSERT_TRUE(testing::spinUntil([&] { return window.pos() == QPoint(30, 40); }));
    EXPECT_EQ(window.left(), 450);
    EXPECT_EQ(window.top(), 600);
    EXPECT_GE(window.outerWidth(), 6255);
    EXPECT_GE(window.outerHeight(), 6465);

    window.showMinimized();
    EXPECT_EQ(window.left(), 450);
    EXPECT_EQ(window.top(), 600);
    window.showNormal();

    const std::vector<TwipsRect> screens = window.screens();
    ASSERT_FALSE(screens.empty());
    const QRect primary = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(screens[0].width, primary.width() * 15);
    EXPECT_EQ(screens[0].height, primary.height() * 15);
}

}  // namespace
}  // namespace tarnwick
