// Win32MainWindow: the native controls of the window model, bound both
// ways, keep the contract of every window; and what only Windows has.
#include "platform/windows/win32_window.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "shared/window_contract.h"
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

TEST_F(BoundWindow, KeepsTheContractOfEveryWindowWithNativeControls) {
    test::WindowDriver d{form, window, window.onCloseRequested, speedProbe};
    d.placed = [&](const Control& c) -> std::optional<test::PixelRect> {
        HWND w = window.controlWindow(c);
        if (w == nullptr || !IsWindowVisible(w)) return std::nullopt;
        EXPECT_EQ(GetParent(w), window.handle()) << c.name();
        for (const NativeKind& k : kNativeKinds) {
            if (k.kind != c.kind()) continue;
            EXPECT_EQ(lstrcmpiA(win32::className(w).c_str(), k.cls), 0) << c.name();
            EXPECT_EQ(GetWindowLongA(w, GWL_STYLE) & k.mask, k.style) << c.name();
        }
        RECT r{};
        GetWindowRect(w, &r);
        MapWindowPoints(nullptr, window.handle(), reinterpret_cast<POINT*>(&r), 2);
        return test::PixelRect{r.left, r.top, r.right, r.bottom};
    };
    d.onTopAt = [&](const Control& c, int x, int y) {
        return ChildWindowFromPointEx(window.handle(), POINT{x, y}, CWP_SKIPINVISIBLE) == control(c);
    };
    d.shownText = [&](const Control* c) { return win32::windowText(c != nullptr ? control(*c) : window.handle()); };
    // The colour a control asks its parent for (a COLORREF is 0xBBGGRR).
    d.textColour = [&](const Control& c) {
        HDC dc = CreateCompatibleDC(nullptr);
        const UINT message = c.kind() == ControlKind::TextBox ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC;
        SendMessageA(window.handle(), message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control(c)));
        const COLORREF colour = GetTextColor(dc);
        if (c.kind() == ControlKind::TextBox) {
            EXPECT_EQ(GetBkColor(dc), RGB(0xFF, 0xFF, 0xE1));  // light yellow
        }
        DeleteDC(dc);
        return static_cast<unsigned>(colour);
    };
    d.type = [&](const Control& c, const std::string& keys) {
        for (char ch : keys) SendMessageA(control(c), WM_CHAR, static_cast<unsigned char>(ch), 1);
    };
    d.paste = [&](const Control& c, const std::string& text) {
        ASSERT_TRUE(OpenClipboard(window.handle()));
        EmptyClipboard();
        HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
        memcpy(GlobalLock(data), text.c_str(), text.size() + 1);
        GlobalUnlock(data);
        SetClipboardData(CF_TEXT, data);
        CloseClipboard();
        SendMessageA(control(c), WM_PASTE, 0, 0);
    };
    d.forceText = [&](const Control& c, const std::string& text) { SetWindowTextA(control(c), text.c_str()); };
    d.setCaret = [&](const Control& c, int at) { SendMessageA(control(c), EM_SETSEL, at, at); };
    d.caret = [&](const Control& c) {
        DWORD caret = 0;
        SendMessageA(control(c), EM_GETSEL, 0, reinterpret_cast<LPARAM>(&caret));
        return static_cast<int>(caret);
    };
    d.click = [&](const Control& c) { SendMessageA(control(c), BM_CLICK, 0, 0); };
    d.checkState = [&](const Control& c) {
        const LRESULT state = SendMessageA(control(c), BM_GETCHECK, 0, 0);
        return state == BST_INDETERMINATE ? 2 : state == BST_CHECKED ? 1 : 0;
    };
    d.arrow = [&](const Control& c, bool down) { scroll(control(c), down ? SB_LINEDOWN : SB_LINEUP); };
    int dragged = 0;
    d.drag = [&](const Control& c, int value) { scroll(control(c), SB_THUMBTRACK, dragged = value); };
    d.drop = [&](const Control& c) {
        scroll(control(c), SB_THUMBPOSITION, dragged);
        scroll(control(c), SB_ENDSCROLL);
    };
    d.thumb = [&](const Control& c) { return GetScrollPos(control(c), SB_CTL); };
    d.thumbAtTop = [&](const Control& c) {
        int low = 0, high = 0;
        GetScrollRange(control(c), SB_CTL, &low, &high);
        return GetScrollPos(control(c), SB_CTL) == low;
    };
    // The close box, the system menu, and the end of the session, which
    // returning refuses.
    int way = 0;
    d.requestClose = [&] {
        const int now = way++ % 3;
        if (now == 2) {
            EXPECT_EQ(SendMessageA(window.handle(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
        } else {
            SendMessageA(window.handle(), now == 0 ? WM_CLOSE : WM_SYSCOMMAND, now == 0 ? 0 : SC_CLOSE, 0);
        }
    };
    d.stillShown = [&] { return IsWindowVisible(window.handle()) != FALSE; };
    d.outerReaches = [&](int x, int y) {
        RECT r{};
        GetWindowRect(window.handle(), &r);
        return r.left == x && r.top == y;
    };
    d.minimise = [&](bool down) {
        ShowWindow(window.handle(), down ? SW_MINIMIZE : SW_RESTORE);
        EXPECT_EQ(IsIconic(window.handle()) != FALSE, down);
    };
    d.clientSize = [&] {
        RECT client{};
        GetClientRect(window.handle(), &client);
        return std::pair<int, int>(client.right, client.bottom);
    };
    d.fixedSizeWithOnlyAMinimiseBox = [&] {
        const LONG style = GetWindowLongA(window.handle(), GWL_STYLE);
        return (style & (WS_MINIMIZEBOX | WS_SYSMENU | WS_MAXIMIZEBOX | WS_THICKFRAME)) ==
               (WS_MINIMIZEBOX | WS_SYSMENU);
    };
    d.primaryWorkArea = [] {
        RECT work{};
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
        return test::PixelRect{work.left, work.top, work.right, work.bottom};
    };
    test::keepsTheContractOfEveryWindow(d);
}

// The bar's whole range is the native one; a page and the top are mapped
// the reversed way too.
TEST_F(BoundWindow, AReversedBarMapsPagesAndTheTop) {
    HWND bar = control(speedProbe);
    int low = 0, high = 0;
    GetScrollRange(bar, SB_CTL, &low, &high);
    EXPECT_EQ(std::pair(low, high), std::pair(10, 200));
    speedProbe.setValue(100);
    int changes = 0;
    speedProbe.onChange = [&] { ++changes; };
    scroll(bar, SB_PAGEDOWN);
    EXPECT_EQ(speedProbe.value(), 60);
    scroll(bar, SB_TOP);
    EXPECT_EQ(speedProbe.value(), 200);
    EXPECT_EQ(GetScrollPos(bar, SB_CTL), 10);
    EXPECT_EQ(changes, 2);
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

TEST_F(BoundWindow, AMinimisedWindowMovesWhereItComesBack) {
    window.moveTo(450, 600);
    ShowWindow(window.handle(), SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window.handle()));
    window.moveTo(900, 750);
    EXPECT_EQ(std::pair(window.left(), window.top()), std::pair(900, 750));
    ShowWindow(window.handle(), SW_RESTORE);
    RECT r{};
    GetWindowRect(window.handle(), &r);
    EXPECT_EQ(std::pair(r.left, r.top), std::pair(60L, 50L));
}

}  // namespace
}  // namespace tarnwick
