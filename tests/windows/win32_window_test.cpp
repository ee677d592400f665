// Win32MainWindow: the native controls of the window model, bound both ways.
#include "platform/windows/win32_window.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "window/form.h"
#include "windows/win_support.h"

namespace tarnwick {
namespace {

class BoundWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(window.dpi(), 96) << "the geometry below is worked out at 96 dpi";
        window.bind(form);
        window.show();
        testing::pumpUntil([] { return false; }, 50);
    }

    HWND control(const Control& c) {
        HWND w = window.controlWindow(c);
        EXPECT_NE(w, nullptr) << c.name();
        return w;
    }

    // Where a control lies in the main window's client area, in pixels.
    RECT placed(HWND w) {
        RECT r{};
        GetWindowRect(w, &r);
        MapWindowPoints(nullptr, window.handle(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }

    static RECT expectedPixels(const Control& c) {
        const TwipsRect g = c.windowGeometry();
        auto px = [](int twips) { return static_cast<LONG>((twips * 2 + 15) / 30); };  // twips / 15, rounded
        return RECT{px(g.left), px(g.top), px(g.left + g.width), px(g.top + g.height)};
    }

    static void typeInto(HWND edit, const std::string& keys) {
        for (char ch : keys) SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(ch)), 1);
    }

    static void setClipboard(HWND owner, const std::string& text) {
        ASSERT_TRUE(OpenClipboard(owner));
        EmptyClipboard();
        HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
        memcpy(GlobalLock(data), text.c_str(), text.size() + 1);
        GlobalUnlock(data);
        SetClipboardData(CF_TEXT, data);
        CloseClipboard();
    }

    void scroll(HWND bar, int code, int thumb = 0) {
        const UINT message = (GetWindowLongA(bar, GWL_STYLE) & SBS_VERT) != 0 ? WM_VSCROLL : WM_HSCROLL;
        SendMessageA(window.handle(), message, MAKEWPARAM(code, static_cast<WORD>(thumb)),
                     reinterpret_cast<LPARAM>(bar));
    }

    Form form;
    // V2 lies outside the client area and has no control; this visible bar
    // has its range (Min 200 above Max 10) so the reversed mapping can be seen.
    ScrollBar speedProbe{form, "SpeedProbe", ControlKind::VScrollBar, nullptr, {5940, 1680, 255, 1575}, 200, 10, 3,
                         40,   100};
    Win32MainWindow window;
};

// The native class and button or bar style of each kind (style mask 0:
// any style).
struct NativeKind {
    ControlKind kind;
    const char* cls;
    LONG mask, style;
};
constexpr NativeKind kNativeKinds[] = {
    {ControlKind::Label, "Static", 0, 0},
    {ControlKind::TextBox, "Edit", 0, 0},
    {ControlKind::CheckBox, "Button", BS_TYPEMASK, BS_3STATE},  // can show greyed
    {ControlKind::CommandButton, "Button", 0, 0},
    {ControlKind::Frame, "Button", BS_TYPEMASK, BS_GROUPBOX},
    {ControlKind::HScrollBar, "ScrollBar", SBS_VERT, 0},
    {ControlKind::VScrollBar, "ScrollBar", SBS_VERT, SBS_VERT},
};

TEST_F(BoundWindow, EveryVisibleControlIsANativeControlAtItsPlaceInAFixedSizeWindow) {
    int shown = 0;
    for (Control* c : form.controls()) {
        HWND w = window.controlWindow(*c);
        if (c->kind() == ControlKind::Timer || c->kind() == ControlKind::FileDialog || c->outside()) {
            EXPECT_EQ(w, nullptr) << c->name();
            continue;
        }
        ASSERT_NE(w, nullptr) << c->name();
        ++shown;
        EXPECT_TRUE(IsWindowVisible(w)) << c->name();
        EXPECT_EQ(GetParent(w), window.handle()) << c->name();
        auto edges = [](const RECT& r) { return std::tuple(r.left, r.top, r.right, r.bottom); };
        EXPECT_EQ(edges(placed(w)), edges(expectedPixels(*c))) << c->name();
        for (const NativeKind& k : kNativeKinds) {
            if (k.kind != c->kind()) continue;
            EXPECT_EQ(lstrcmpiA(win32::className(w).c_str(), k.cls), 0) << c->name();
            EXPECT_EQ(GetWindowLongA(w, GWL_STYLE) & k.mask, k.style) << c->name();
        }
    }
    EXPECT_GT(shown, 50);
    EXPECT_EQ(window.controlWindow(form.V2), nullptr);
    EXPECT_EQ(window.controlWindow(form.ListAsBusyCheck), nullptr);

    RECT client{};
    GetClientRect(window.handle(), &client);
    EXPECT_EQ(client.right, 417);
    EXPECT_EQ(client.bottom, 431);
    const LONG style = GetWindowLongA(window.handle(), GWL_STYLE);
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_SYSMENU | WS_MAXIMIZEBOX | WS_THICKFRAME), WS_MINIMIZEBOX | WS_SYSMENU);
}

TEST_F(BoundWindow, ControlsOverFramesAreOnTop) {
    auto topAt = [&](const Control& c, int dx, int dy) {
        const RECT r = expectedPixels(c);
        return ChildWindowFromPointEx(window.handle(), POINT{r.left + dx, r.top + dy}, CWP_SKIPINVISIBLE);
    };
    EXPECT_EQ(topAt(form.Command1, 10, 8), control(form.Command1));
    EXPECT_EQ(topAt(form.Text4, 10, 8), control(form.Text4));
    // Frame1 and Frame5 lie over Frame8: points on their own border belong
    // to them, not to Frame8.
    EXPECT_EQ(topAt(form.Frame1, 2, 30), control(form.Frame1));
    EXPECT_EQ(topAt(form.Frame5, 2, 20), control(form.Frame5));
    EXPECT_EQ(topAt(form.Hour3, 5, 5), control(form.Hour3));
}

TEST_F(BoundWindow, ProgramWritesShowInTheControlsWithTheirColours) {
    form.Text4.setText("C:\\Audio\\id.wav");
    EXPECT_EQ(win32::windowText(control(form.Text4)), "C:\\Audio\\id.wav");
    // A program write longer than the typing limit is shown whole.
    form.Hour3.setText("123");
    EXPECT_EQ(win32::windowText(control(form.Hour3)), "123");
    form.PTT.setCaption("PTT ON");
    form.PTT.setForeColour(kRed);
    EXPECT_EQ(win32::windowText(control(form.PTT)), "PTT ON");
    form.setCaption("Tarnwick    N0CALL-L   v1.0.5");
    EXPECT_EQ(win32::windowText(window.handle()), "Tarnwick    N0CALL-L   v1.0.5");

    // The colours a control asks its parent for (a COLORREF is 0xBBGGRR).
    HDC dc = CreateCompatibleDC(nullptr);
    auto asks = [&](UINT message, const Control& c) {
        SendMessageA(window.handle(), message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control(c)));
        return GetTextColor(dc);
    };
    EXPECT_EQ(asks(WM_CTLCOLORSTATIC, form.PTT), RGB(255, 0, 0));
    EXPECT_EQ(asks(WM_CTLCOLOREDIT, form.Text4), RGB(0x80, 0, 0));
    EXPECT_EQ(GetBkColor(dc), RGB(0xFF, 0xFF, 0xE1));
    EXPECT_EQ(asks(WM_CTLCOLORSTATIC, form.Sun3), RGB(0, 0, 0)) << "a frame's colour flowed into its controls";
    DeleteDC(dc);
}

TEST_F(BoundWindow, TheDigitsOnlyStyleIsTheEditsOwnAndRefusesTypedPastedAndSetLetters) {
    HWND edit = control(form.Hour3);
    EXPECT_EQ(GetWindowLongA(edit, GWL_STYLE) & ES_NUMBER, 0);
    int changes = 0;
    form.Hour3.onChange = [&] { ++changes; };
    form.Hour3.setStyle(kEsNumber);
    EXPECT_NE(GetWindowLongA(edit, GWL_STYLE) & ES_NUMBER, 0);
    auto fresh = [&] {
        form.Hour3.setText("");
        changes = 0;
    };
    auto shows = [&](const std::string& text, int changed) {
        EXPECT_EQ(form.Hour3.text(), text);
        EXPECT_EQ(win32::windowText(edit), text);
        EXPECT_EQ(changes, changed);
    };
    fresh();
    typeInto(edit, "a1b2c3");
    shows("12", 2);  // two digits at most
    fresh();
    setClipboard(window.handle(), "9x");
    SendMessageA(edit, WM_PASTE, 0, 0);
    shows("", 0);
    setClipboard(window.handle(), "7");
    SendMessageA(edit, WM_PASTE, 0, 0);
    shows("7", 1);
    // Whatever gets past those rules is refused by the model and the
    // control put back.
    fresh();
    SetWindowTextA(edit, "4z");
    shows("", 0);
}

TEST_F(BoundWindow, AnAcceptedEditKeepsTheCaretWhereTheUserTyped) {
    form.BeaconPeriod6.setText("15");
    int changes = 0;
    form.BeaconPeriod6.onChange = [&] { ++changes; };
    HWND edit = control(form.BeaconPeriod6);
    SendMessageA(edit, EM_SETSEL, 1, 1);
    typeInto(edit, "2");
    EXPECT_EQ(form.BeaconPeriod6.text(), "125");
    DWORD caret = 0;
    SendMessageA(edit, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&caret));
    EXPECT_EQ(caret, 2u);
    typeInto(edit, "3");  // a fourth character is over the limit
    EXPECT_EQ(form.BeaconPeriod6.text(), "125");
    EXPECT_EQ(changes, 1);
}

TEST_F(BoundWindow, ClicksReachTheModelAndACheckBoxChangesOnlyThroughIt) {
    int clicks = 0;
    form.Command1.onClick = [&] { ++clicks; };
    form.Command5.onClick = [&] { ++clicks; };
    SendMessageA(control(form.Command1), BM_CLICK, 0, 0);
    SendMessageA(control(form.Command5), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 2);

    HWND box = control(form.Sun3);
    form.Sun3.setValue(2);
    EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_INDETERMINATE);
    for (int value : {1, 0}) {
        SendMessageA(box, BM_CLICK, 0, 0);
        EXPECT_EQ(form.Sun3.value(), value);
        EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), value == 1 ? BST_CHECKED : BST_UNCHECKED);
    }
}

TEST_F(BoundWindow, ScrollBarsMapTheirMessagesAndAReversedBarItsDirection) {
    HWND bar = control(speedProbe);
    int low = 0, high = 0;
    GetScrollRange(bar, SB_CTL, &low, &high);
    EXPECT_EQ(low, 10);
    EXPECT_EQ(high, 200);
    speedProbe.setValue(200);
    EXPECT_EQ(GetScrollPos(bar, SB_CTL), 10);  // Min at the top
    speedProbe.setValue(100);
    int changes = 0;
    speedProbe.onChange = [&] { ++changes; };
    // The bottom arrow moves towards Max 10.
    const std::pair<int, int> steps[] = {{SB_LINEDOWN, 97}, {SB_LINEUP, 100}, {SB_PAGEDOWN, 60}, {SB_TOP, 200}};
    for (const auto& [code, value] : steps) {
        scroll(bar, code);
        EXPECT_EQ(speedProbe.value(), value) << code;
    }
    EXPECT_EQ(changes, 4);
    EXPECT_EQ(GetScrollPos(bar, SB_CTL), 10);

    // Dragging raises Scroll; the drop raises one Change.
    bar = control(form.V1);
    int scrolls = 0;
    changes = 0;
    form.V1.onScroll = [&] { ++scrolls; };
    form.V1.onChange = [&] { ++changes; };
    scroll(bar, SB_THUMBTRACK, -2000);
    scroll(bar, SB_THUMBTRACK, -1500);
    EXPECT_EQ(form.V1.value(), -1500);
    EXPECT_EQ(scrolls, 2);
    EXPECT_EQ(changes, 0);
    scroll(bar, SB_THUMBPOSITION, -1500);
    scroll(bar, SB_ENDSCROLL);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(GetScrollPos(bar, SB_CTL), -1500);
    // A program write moves the thumb and raises no user event.
    form.V1.setValue(-3000);
    EXPECT_EQ(GetScrollPos(bar, SB_CTL), -3000);
    EXPECT_EQ(scrolls, 2);
}

TEST_F(BoundWindow, CloseRequestsGoToTheCallbackAndTheWindowStays) {
    int asked = 0;
    window.onCloseRequested = [&] {
        ++asked;
        // A second request while the first is answered is dropped.
        SendMessageA(window.handle(), WM_CLOSE, 0, 0);
    };
    SendMessageA(window.handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window.handle()));
    EXPECT_TRUE(IsWindowVisible(window.handle()));
    EXPECT_EQ(asked, 1);
    // The end of the session asks the same; returning refuses it.
    EXPECT_EQ(SendMessageA(window.handle(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
    EXPECT_EQ(asked, 2);
    SendMessageA(window.handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(asked, 3);
}

// A session that ends without asking is not a close request: nobody would
// see the question answered. The real callback ends the program.
TEST_F(BoundWindow, TheSessionEndingWithoutAskingGoesToItsOwnCallback) {
    int asked = 0, ended = 0;
    window.onCloseRequested = [&] { ++asked; };
    window.onSessionEnding = [&] { ++ended; };
    SendMessageA(window.handle(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_EQ(std::pair(asked, ended), std::pair(0, 1));
    SendMessageA(window.handle(), WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);  // the end was called off
    EXPECT_EQ(std::pair(asked, ended), std::pair(0, 1));
    SendMessageA(window.handle(), WM_QUERYENDSESSION, 0, ENDSESSION_CRITICAL);
    EXPECT_EQ(ended, 2);
    SendMessageA(window.handle(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);  // an ordinary end asks
    EXPECT_EQ(std::pair(asked, ended), std::pair(2, 2));
    // The session ends anyway while the question is open.
    window.onCloseRequested = [&] { SendMessageA(window.handle(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF); };
    SendMessageA(window.handle(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    EXPECT_EQ(ended, 3);
}

TEST_F(BoundWindow, ThePositionIsInTwipsOfTheOuterWindowAndKeptWhileMinimised) {
    auto outer = [&] {
        RECT r{};
        GetWindowRect(window.handle(), &r);
        return std::pair<LONG, LONG>(r.left, r.top);
    };
    auto twips = [&] { return std::pair(window.left(), window.top()); };
    window.moveTo(450, 600);
    EXPECT_EQ(outer(), std::pair(30L, 40L));
    EXPECT_EQ(twips(), std::pair(450, 600));
    EXPECT_GT(window.outerWidth(), 6255);  // the client area and a frame
    EXPECT_GT(window.outerHeight(), 6465);
    window.moveTo(-1500, 300);  // on a screen left of the main one
    EXPECT_EQ(twips(), std::pair(-1500, 300));

    window.moveTo(450, 600);
    ShowWindow(window.handle(), SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window.handle()));
    EXPECT_EQ(twips(), std::pair(450, 600));
    window.moveTo(900, 750);  // where the minimised window comes back to
    EXPECT_EQ(twips(), std::pair(900, 750));
    ShowWindow(window.handle(), SW_RESTORE);
    EXPECT_EQ(outer(), std::pair(60L, 50L));

    const std::vector<TwipsRect> screens = window.screens();
    ASSERT_FALSE(screens.empty());
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(screens[0].left, work.left * 15);
    EXPECT_EQ(screens[0].width, (work.right - work.left) * 15);
    EXPECT_EQ(screens[0].height, (work.bottom - work.top) * 15);
}

}  // namespace
}  // namespace tarnwick
