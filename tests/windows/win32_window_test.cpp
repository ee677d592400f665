// Win32MainWindow: the native controls of the window model, bound both ways.
#include "platform/windows/win32_window.h"

#include <gtest/gtest.h>

#include <string>

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

TEST_F(BoundWindow, EveryVisibleControlIsANativeControlAtItsPlaceAndOutsideOnesHaveNone) {
    int shown = 0;
    for (Control* c : form.controls()) {
        HWND w = window.controlWindow(*c);
        if (c->kind() == ControlKind::Timer || c->kind() == ControlKind::FileDialog || c->outside()) {
            EXPECT_EQ(w, nullptr) << c->name();
            continue;
        }
        ASSERT_NE(w, nullptr) << c->name();
        EXPECT_TRUE(IsWindowVisible(w)) << c->name();
        EXPECT_EQ(GetParent(w), window.handle()) << c->name();
        const RECT got = placed(w), want = expectedPixels(*c);
        EXPECT_TRUE(EqualRect(&got, &want))
            << c->name() << " at " << got.left << "," << got.top << " to " << got.right << "," << got.bottom
            << ", want " << want.left << "," << want.top << " to " << want.right << "," << want.bottom;

        const std::string cls = win32::className(w);
        const LONG style = GetWindowLongA(w, GWL_STYLE);
        switch (c->kind()) {
            case ControlKind::Label:
                EXPECT_EQ(lstrcmpiA(cls.c_str(), "Static"), 0) << c->name();
                break;
            case ControlKind::TextBox:
                EXPECT_EQ(lstrcmpiA(cls.c_str(), "Edit"), 0) << c->name();
                break;
            case ControlKind::CheckBox:
                EXPECT_EQ(lstrcmpiA(cls.c_str(), "Button"), 0) << c->name();
                EXPECT_EQ(style & BS_TYPEMASK, BS_3STATE) << c->name();
                break;
            case ControlKind::CommandButton:
                EXPECT_EQ(lstrcmpiA(cls.c_str(), "Button"), 0) << c->name();
                EXPECT_TRUE((style & BS_TYPEMASK) == BS_PUSHBUTTON || (style & BS_TYPEMASK) == BS_OWNERDRAW)
                    << c->name();
                break;
            case ControlKind::Frame:
                EXPECT_EQ(lstrcmpiA(cls.c_str(), "Button"), 0) << c->name();
                EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX) << c->name();
                break;
            case ControlKind::HScrollBar:
            case ControlKind::VScrollBar:
                EXPECT_EQ(lstrcmpiA(cls.c_str(), "ScrollBar"), 0) << c->name();
                EXPECT_EQ((style & SBS_VERT) != 0, c->kind() == ControlKind::VScrollBar) << c->name();
                break;
            default:
                break;
        }
        ++shown;
    }
    EXPECT_GT(shown, 50);
    EXPECT_EQ(window.controlWindow(form.V2), nullptr);
    EXPECT_EQ(window.controlWindow(form.Text6), nullptr);
    EXPECT_EQ(window.controlWindow(form.ListAsBusyCheck), nullptr);
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

TEST_F(BoundWindow, TheWindowHasTheFixedClientSizeAndNoMaximiseBox) {
    RECT client{};
    GetClientRect(window.handle(), &client);
    EXPECT_EQ(client.right - client.left, 417);
    EXPECT_EQ(client.bottom - client.top, 431);
    const LONG style = GetWindowLongA(window.handle(), GWL_STYLE);
    EXPECT_NE(style & WS_MINIMIZEBOX, 0);
    EXPECT_NE(style & WS_SYSMENU, 0);
    EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);
    EXPECT_EQ(style & WS_THICKFRAME, 0);
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

    // The colours a control asks its parent for: 0xBBGGRR is a COLORREF.
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageA(window.handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(control(form.PTT)));
    EXPECT_EQ(GetTextColor(dc), RGB(255, 0, 0));
    SendMessageA(window.handle(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(control(form.Text4)));
    EXPECT_EQ(GetTextColor(dc), RGB(0x80, 0, 0));
    EXPECT_EQ(GetBkColor(dc), RGB(0xFF, 0xFF, 0xE1));
    // A frame's colour does not flow into the controls inside it.
    SendMessageA(window.handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(control(form.Sun3)));
    EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
    DeleteDC(dc);
}

TEST_F(BoundWindow, TheDigitsOnlyStyleIsTheEditsOwnAndRefusesTypedAndPastedLetters) {
    HWND edit = control(form.Hour3);
    EXPECT_EQ(GetWindowLongA(edit, GWL_STYLE) & ES_NUMBER, 0);
    int changes = 0;
    form.Hour3.onChange = [&] { ++changes; };
    form.Hour3.setStyle(kEsNumber);
    EXPECT_NE(GetWindowLongA(edit, GWL_STYLE) & ES_NUMBER, 0);
    form.Hour3.setText("");
    changes = 0;

    typeInto(edit, "a1b2c3");
    EXPECT_EQ(form.Hour3.text(), "12");  // two digits at most
    EXPECT_EQ(win32::windowText(edit), "12");
    EXPECT_EQ(changes, 2);

    form.Hour3.setText("");
    changes = 0;
    setClipboard(window.handle(), "9x");
    SendMessageA(edit, WM_PASTE, 0, 0);
    EXPECT_EQ(form.Hour3.text(), "");
    EXPECT_EQ(win32::windowText(edit), "");
    EXPECT_EQ(changes, 0);
    setClipboard(window.handle(), "7");
    SendMessageA(edit, WM_PASTE, 0, 0);
    EXPECT_EQ(form.Hour3.text(), "7");

    // Whatever reaches the control past those rules is refused by the model
    // and the control is put back.
    form.Hour3.setText("");
    changes = 0;
    SetWindowTextA(edit, "4z");
    EXPECT_EQ(form.Hour3.text(), "");
    EXPECT_EQ(win32::windowText(edit), "");
    EXPECT_EQ(changes, 0);
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

TEST_F(BoundWindow, ACheckBoxShowsGreyedAndChangesOnlyThroughTheModel) {
    HWND box = control(form.Sun3);
    form.Sun3.setValue(2);
    EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_INDETERMINATE);
    SendMessageA(box, BM_CLICK, 0, 0);
    EXPECT_EQ(form.Sun3.value(), 1);
    EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_CHECKED);
    SendMessageA(box, BM_CLICK, 0, 0);
    EXPECT_EQ(form.Sun3.value(), 0);
    EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(BoundWindow, ButtonClicksReachTheModel) {
    int clicks = 0;
    form.Command1.onClick = [&] { ++clicks; };
    form.Command5.onClick = [&] { ++clicks; };
    SendMessageA(control(form.Command1), BM_CLICK, 0, 0);
    SendMessageA(control(form.Command5), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 2);
}

TEST_F(BoundWindow, AReversedBarHasMinAtTheTopAndItsArrowsPointTheRightWay) {
    HWND bar = control(speedProbe);
    int low = 0, high = 0;
    GetScrollRange(bar, SB_CTL, &low, &high);
    EXPECT_EQ(low, 10);
    EXPECT_EQ(high, 200);
    speedProbe.setValue(200);
    EXPECT_EQ(GetScrollPos(bar, SB_CTL), 10);  // the thumb at the top
    speedProbe.setValue(10);
    EXPECT_EQ(GetScrollPos(bar, SB_CTL), 200);  // at the bottom

    speedProbe.setValue(100);
    int changes = 0;
    speedProbe.onChange = [&] { ++changes; };
    scroll(bar, SB_LINEDOWN);
    EXPECT_EQ(speedProbe.value(), 97);  // the bottom arrow moves towards Max 10
    EXPECT_EQ(changes, 1);
    scroll(bar, SB_LINEUP);
    EXPECT_EQ(speedProbe.value(), 100);
    scroll(bar, SB_PAGEDOWN);
    EXPECT_EQ(speedProbe.value(), 60);
    scroll(bar, SB_TOP);
    EXPECT_EQ(speedProbe.value(), 200);
    EXPECT_EQ(GetScrollPos(bar, SB_CTL), 10);
}

TEST_F(BoundWindow, DraggingRaisesScrollAndTheDropRaisesOneChange) {
    HWND bar = control(form.V1);
    int scrolls = 0, changes = 0;
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
    EXPECT_EQ(form.V1.value(), -1500);
    EXPECT_EQ(GetScrollPos(bar, SB_CTL), -1500);

    // A program write moves the thumb and raises no user event.
    form.V1.onChange = nullptr;
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

TEST_F(BoundWindow, ThePositionIsInTwipsOfTheOuterWindowAndKeptWhileMinimised) {
    window.moveTo(450, 600);
    RECT outer{};
    GetWindowRect(window.handle(), &outer);
    EXPECT_EQ(outer.left, 30);
    EXPECT_EQ(outer.top, 40);
    EXPECT_EQ(window.left(), 450);
    EXPECT_EQ(window.top(), 600);
    EXPECT_GT(window.outerWidth(), 6255);
    EXPECT_GT(window.outerHeight(), 6465);
    window.moveTo(-1500, 300);  // on a screen left of the main one
    EXPECT_EQ(window.left(), -1500);

    window.moveTo(450, 600);
    ShowWindow(window.handle(), SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window.handle()));
    EXPECT_EQ(window.left(), 450);
    EXPECT_EQ(window.top(), 600);
    // Placing a minimised window sets where it comes back to.
    window.moveTo(900, 750);
    EXPECT_EQ(window.left(), 900);
    ShowWindow(window.handle(), SW_RESTORE);
    GetWindowRect(window.handle(), &outer);
    EXPECT_EQ(outer.left, 60);
    EXPECT_EQ(outer.top, 50);

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
