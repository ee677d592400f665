// What every main window must do with the window model bound to it, and as
// the window frame (seams/window_frame.h): checked the same way on the Qt
// widgets and on the native Windows controls, each driven as its user
// would drive it.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "seams/window_frame.h"
#include "window/form.h"

namespace tarnwick::test {

// Left, top, right, bottom, in pixels.
using PixelRect = std::tuple<int, int, int, int>;

// How a test reaches one window. Controls are the form's; a null control
// in `shownText` stands for the window's caption. The functions start
// empty ({}) and are set one by one after the references.
struct WindowDriver {
    Form& form;
    WindowFrame& frame;
    std::function<void()>& onCloseRequested;
    // A visible bar whose Min (200) lies above its Max (10).
    ScrollBar& reversedBar;

    // Where the control's own native control lies in the client area,
    // nullopt when it has none (or it is hidden).
    std::function<std::optional<PixelRect>(const Control&)> placed{};
    // Whether a click at (x, y) of the client area lands on the control.
    std::function<bool(const Control&, int x, int y)> onTopAt{};

    std::function<std::string(const Control*)> shownText{};
    std::function<unsigned(const Control&)> textColour{};  // 0xBBGGRR
    // Keys typed, text pasted from the clipboard, and text set past every
    // keyboard rule.
    std::function<void(const Control&, const std::string&)> type{}, paste{}, forceText{};
    std::function<void(const Control&, int)> setCaret{};
    std::function<int(const Control&)> caret{};
    std::function<void(const Control&)> click{};
    std::function<int(const Control&)> checkState{};  // 0, 1, or 2 for greyed
    // The bar's arrows, pressed; its thumb dragged to a value and dropped.
    std::function<void(const Control&, bool down)> arrow{};
    std::function<void(const Control&, int)> drag{};
    std::function<void(const Control&)> drop{};
    std::function<int(const Control&)> thumb{};
    std::function<bool(const Control&)> thumbAtTop{};

    // Asks the window to close, each time perhaps in another of the ways
    // the system has.
    std::function<void()> requestClose{};
    std::function<bool()> stillShown{};
    // Whether the outer top-left corner comes to (x, y) pixels of the desktop.
    std::function<bool(int x, int y)> outerReaches{};
    std::function<void(bool)> minimise{};  // false: restore
    std::function<std::pair<int, int>()> clientSize{};
    std::function<bool()> fixedSizeWithOnlyAMinimiseBox{};
    std::function<PixelRect()> primaryWorkArea{};
};

inline int pixels(int twips) { return (twips * 2 + 15) / 30; }  // twips / 15, rounded

inline void everyVisibleControlIsAtItsPlaceAndNoOtherHasOne(const WindowDriver& d) {
    int shown = 0;
    for (Control* c : d.form.controls()) {
        const std::optional<PixelRect> at = d.placed(*c);
        if (c->kind() == ControlKind::Timer || c->kind() == ControlKind::FileDialog || c->outside()) {
            EXPECT_EQ(at, std::nullopt) << c->name();
            continue;
        }
        ASSERT_TRUE(at.has_value()) << c->name();
        const auto [left, top, right, bottom] = *at;
        const TwipsRect g = c->windowGeometry();
        EXPECT_EQ(std::pair(left, top), std::pair(pixels(g.left), pixels(g.top))) << c->name();
        // The far edges rounded on their own, or as the near edge plus the size rounded.
        for (auto [edge, from, size] : {std::tuple(right, g.left, g.width), std::tuple(bottom, g.top, g.height)}) {
            EXPECT_TRUE(edge == pixels(from + size) || edge == pixels(from) + pixels(size)) << c->name();
        }
        ++shown;
    }
    EXPECT_GT(shown, 50);
    for (const Control* c :
         std::initializer_list<const Control*>{&d.form.Text6, &d.form.V2, &d.form.ListAsBusyCheck, &d.form.Text1}) {
        EXPECT_EQ(d.placed(*c), std::nullopt) << c->name();  // lie outside the client area
    }
    EXPECT_EQ(d.clientSize(), std::pair(417, 431));
    EXPECT_TRUE(d.fixedSizeWithOnlyAMinimiseBox());

    // Frame1 and Frame5 lie over Frame8: points on their own border belong
    // to them, not to Frame8; controls inside frames are on top of them.
    auto onTop = [&](const Control& c, int dx, int dy) {
        return d.onTopAt(c, pixels(c.windowGeometry().left) + dx, pixels(c.windowGeometry().top) + dy);
    };
    EXPECT_TRUE(onTop(d.form.Frame1, 2, 30));
    EXPECT_TRUE(onTop(d.form.Frame5, 2, 20));
    EXPECT_TRUE(onTop(d.form.Command1, 10, 8));
    EXPECT_TRUE(onTop(d.form.Text4, 10, 8));
    EXPECT_TRUE(onTop(d.form.Hour3, 5, 5));
}

inline void programWritesShowWithTheirColours(const WindowDriver& d) {
    Form& form = d.form;
    form.Text4.setText("/srv/audio/id.wav");
    EXPECT_EQ(d.shownText(&form.Text4), "/srv/audio/id.wav");
    // A program write longer than the typing limit is shown whole.
    form.Hour3.setText("123");
    EXPECT_EQ(d.shownText(&form.Hour3), "123");
    form.PTT.setCaption("PTT ON");
    form.PTT.setForeColour(kRed);
    EXPECT_EQ(d.shownText(&form.PTT), "PTT ON");
    form.setCaption("Tarnwick    N0CALL-L   v1.0.5");
    EXPECT_EQ(d.shownText(nullptr), "Tarnwick    N0CALL-L   v1.0.5");

    EXPECT_EQ(d.textColour(form.PTT), 0x0000FFu);
    EXPECT_EQ(d.textColour(form.Text4), 0x000080u);  // a dark red
    EXPECT_EQ(d.textColour(form.Sun3), 0u) << "a frame's colour flowed into its controls";
}

inline void aDigitsOnlyBoxRefusesLettersHoweverTheyCome(const WindowDriver& d) {
    TextBox& hour = d.form.Hour3;
    int changes = 0;
    hour.onChange = [&] { ++changes; };
    hour.setStyle(kEsNumber);
    auto fresh = [&] {
        hour.setText("");
        changes = 0;
    };
    auto shows = [&](const std::string& text, int changed) {
        EXPECT_EQ(hour.text(), text);
        EXPECT_EQ(d.shownText(&hour), text);
        EXPECT_EQ(changes, changed);
    };
    fresh();
    d.type(hour, "a1b2c3");
    shows("12", 2);  // two digits at most
    fresh();
    d.paste(hour, "9x");
    shows("", 0);
    d.paste(hour, "7");
    shows("7", 1);
    // Whatever gets past those rules is refused by the model and the
    // control put back.
    fresh();
    d.forceText(hour, "4z");
    shows("", 0);
    hour.onChange = nullptr;

    // An accepted edit keeps the caret where the user typed; a fourth
    // character is over the limit.
    TextBox& period = d.form.BeaconPeriod6;
    period.setText("15");
    changes = 0;
    period.onChange = [&] { ++changes; };
    d.setCaret(period, 1);
    d.type(period, "2");
    EXPECT_EQ(period.text(), "125");
    EXPECT_EQ(d.caret(period), 2);
    d.type(period, "3");
    EXPECT_EQ(period.text(), "125");
    EXPECT_EQ(changes, 1);
    period.onChange = nullptr;
}

inline void clicksReachTheModelAndACheckBoxChangesOnlyThroughIt(const WindowDriver& d) {
    int clicks = 0;
    d.form.Command1.onClick = [&] { ++clicks; };
    d.click(d.form.Command1);
    EXPECT_EQ(clicks, 1);
    d.form.Command1.onClick = nullptr;

    CheckBox& box = d.form.Sun3;
    box.setValue(2);
    EXPECT_EQ(d.checkState(box), 2);
    for (int value : {1, 0}) {
        d.click(box);
        EXPECT_EQ(box.value(), value);
        EXPECT_EQ(d.checkState(box), value);
    }
}

inline void scrollBarsRaiseTheirEventsAndAReversedBarPointsTheRightWay(const WindowDriver& d) {
    ScrollBar& probe = d.reversedBar;
    probe.setValue(200);
    EXPECT_TRUE(d.thumbAtTop(probe));  // Min at the top
    probe.setValue(10);
    EXPECT_FALSE(d.thumbAtTop(probe));
    probe.setValue(100);
    int changes = 0;
    probe.onChange = [&] { ++changes; };
    d.arrow(probe, true);
    EXPECT_EQ(probe.value(), 97);  // the bottom arrow moves towards Max 10
    d.arrow(probe, false);
    EXPECT_EQ(probe.value(), 100);
    EXPECT_EQ(changes, 2);

    // Dragging raises Scroll; the drop raises one Change.
    ScrollBar& bar = d.form.V1;
    int scrolls = 0;
    changes = 0;
    bar.onScroll = [&] { ++scrolls; };
    bar.onChange = [&] { ++changes; };
    d.drag(bar, -2000);
    d.drag(bar, -1500);
    EXPECT_EQ(bar.value(), -1500);
    EXPECT_EQ(scrolls, 2);
    EXPECT_EQ(changes, 0);
    d.drop(bar);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(bar.value(), -1500);
    EXPECT_EQ(d.thumb(bar), -1500);
    // A program write moves the thumb and raises no user event.
    bar.setValue(-3000);
    EXPECT_EQ(d.thumb(bar), -3000);
    EXPECT_EQ(scrolls, 2);
    probe.onChange = bar.onChange = bar.onScroll = nullptr;  // their counts end here
}

inline void closeRequestsGoToTheCallbackAndTheWindowStays(const WindowDriver& d) {
    int asked = 0;
    d.onCloseRequested = [&] {
        ++asked;
        d.requestClose();  // a second request while the first is answered is dropped
    };
    for (int i = 1; i <= 3; ++i) {
        d.requestClose();
        EXPECT_TRUE(d.stillShown());
        EXPECT_EQ(asked, i);
    }
    d.onCloseRequested = nullptr;
}

inline void thePositionIsInTwipsOfTheOuterWindowAndKeptWhileMinimised(const WindowDriver& d) {
    WindowFrame& frame = d.frame;
    frame.moveTo(450, 600);
    EXPECT_TRUE(d.outerReaches(30, 40));
    EXPECT_EQ(std::pair(frame.left(), frame.top()), std::pair(450, 600));
    EXPECT_GE(frame.outerWidth(), 6255);  // the client area and any frame
    EXPECT_GE(frame.outerHeight(), 6465);
    frame.moveTo(-1500, 300);  // on a screen left of the main one
    EXPECT_EQ(std::pair(frame.left(), frame.top()), std::pair(-1500, 300));
    frame.moveTo(450, 600);
    d.minimise(true);
    EXPECT_EQ(std::pair(frame.left(), frame.top()), std::pair(450, 600));
    d.minimise(false);

    const std::vector<TwipsRect> screens = frame.screens();
    ASSERT_FALSE(screens.empty());
    const auto [left, top, right, bottom] = d.primaryWorkArea();
    EXPECT_EQ(std::tuple(screens[0].left, screens[0].top), std::tuple(left * 15, top * 15));
    EXPECT_EQ(std::tuple(screens[0].width, screens[0].height), std::tuple((right - left) * 15, (bottom - top) * 15));
}

inline void keepsTheContractOfEveryWindow(const WindowDriver& d) {
    everyVisibleControlIsAtItsPlaceAndNoOtherHasOne(d);
    programWritesShowWithTheirColours(d);
    aDigitsOnlyBoxRefusesLettersHoweverTheyCome(d);
    clicksReachTheModelAndACheckBoxChangesOnlyThroughIt(d);
    scrollBarsRaiseTheirEventsAndAReversedBarPointsTheRightWay(d);
    closeRequestsGoToTheCallbackAndTheWindowStays(d);
    thePositionIsInTwipsOfTheOuterWindowAndKeptWhileMinimised(d);
}

}  // namespace tarnwick::test
