#include "platform/windows/win32_window.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "window/form.h"

namespace tarnwick {

namespace {

constexpr const char* kMainWindowClass = "TarnwickMainWindow";
constexpr DWORD kMainStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPSIBLINGS;
constexpr DWORD kMainExStyle = 0;
// Control ids start above the dialog ids (IDOK, IDCANCEL) that the dialog
// keyboard sends for Enter and Escape.
constexpr int kFirstControlId = 1000;
constexpr const char* kFontFace = "MS Sans Serif";

// Sets a flag for the lifetime of the object and restores the old value, so
// that nested model-to-control updates keep the guard up until the
// outermost one ends.
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

// Colours are 0xBBGGRR, which is what a COLORREF holds.
COLORREF toColorRef(Colour c) { return static_cast<COLORREF>(c & 0xFFFFFF); }

// A bar whose Min exceeds its Max runs the other way. Native bars always run
// from their minimum at the top or left, so such a bar is shown mirrored:
// the model's value v is the bar's position min + max - v over the range
// [max, min]. Mirroring the value (rather than the drawing) keeps the arrows
// and track clicks moving towards the end they point at.
int mirroredIfReversed(const ScrollBar& bar, int v) { return bar.min() > bar.max() ? bar.min() + bar.max() - v : v; }

int depthOf(const Control& c) {
    int depth = 0;
    for (const Control* p = c.container(); p != nullptr; p = p->container()) ++depth;
    return depth;
}

bool hasPicture(const Control& c) { return c.name() == "Command1" || c.name() == "Command2" || c.name() == "Command3"; }

WNDPROC g_editProc = nullptr;

// Small pictures for the Play, Stop and Load File buttons, drawn in GDI so
// that they scale with the button.
void drawPicture(HDC dc, const std::string& name, RECT box) {
    const int side = std::min(box.right - box.left, box.bottom - box.top);
    const int x = box.left, y = box.top + (box.bottom - box.top - side) / 2;
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    if (name == "Command1") {  // a green triangle pointing right
        HBRUSH green = CreateSolidBrush(RGB(0, 150, 40));
        HGDIOBJ old = SelectObject(dc, green);
        const POINT tri[3] = {
            {x + side / 5, y + side / 8}, {x + side / 5, y + side - side / 8}, {x + side, y + side / 2}};
        Polygon(dc, tri, 3);
        SelectObject(dc, old);
        DeleteObject(green);
    } else if (name == "Command2") {  // a dark red square
        HBRUSH red = CreateSolidBrush(RGB(180, 20, 20));
        const RECT square{x + side / 6, y + side / 6, x + side - side / 6, y + side - side / 6};
        FillRect(dc, &square, red);
        DeleteObject(red);
    } else {  // an open folder
        HBRUSH yellow = CreateSolidBrush(RGB(230, 190, 60));
        HBRUSH dark = CreateSolidBrush(RGB(160, 120, 20));
        const RECT tab{x + side / 10, y + side / 5, x + side / 2, y + side / 3};
        const RECT body{x + side / 10, y + side / 3 - 1, x + side, y + side - side / 8};
        FillRect(dc, &tab, dark);
        FillRect(dc, &body, yellow);
        FrameRect(dc, &body, dark);
        DeleteObject(yellow);
        DeleteObject(dark);
    }
    SelectObject(dc, oldPen);
}

}  // namespace

Win32MainWindow::Win32MainWindow(HINSTANCE instance) : instance_(instance) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Win32MainWindow::windowProc;
    wc.hInstance = instance_;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kMainWindowClass;
    // Resource 1 is the program's icon (tarnwick.rc); test programs have none.
    wc.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(1));
    if (wc.hIcon == nullptr) wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wc.hIconSm =
        static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                      GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("cannot register the main window's class: " + win32::errorText(GetLastError()));
    }

    HDC screen = GetDC(nullptr);
    dpi_ = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    if (dpi_ <= 0) dpi_ = 96;

    RECT frame{0, 0, toPixels(kClientWidthTwips), toPixels(kClientHeightTwips)};
    AdjustWindowRectEx(&frame, kMainStyle, FALSE, kMainExStyle);
    hwnd_ = CreateWindowExA(kMainExStyle, kMainWindowClass, "Form1", kMainStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance_, this);
    if (hwnd_ == nullptr) {
        throw std::runtime_error("cannot create the main window: " + win32::errorText(GetLastError()));
    }
    SetPropA(hwnd_, win32::kDialogKeysProperty, reinterpret_cast<HANDLE>(1));
}

Win32MainWindow::~Win32MainWindow() {
    if (form_ != nullptr) form_->removeObserver(this);
    if (hwnd_ != nullptr) {
        RemovePropA(hwnd_, win32::kDialogKeysProperty);
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    for (auto& [key, f] : fonts_) DeleteObject(f);
    for (auto& [key, b] : brushes_) DeleteObject(b);
}

int Win32MainWindow::toPixels(int twips) const {
    return static_cast<int>(std::lround(twips * static_cast<double>(dpi_) / 1440.0));
}

int Win32MainWindow::toTwips(int pixels) const {
    return static_cast<int>(std::lround(pixels * 1440.0 / static_cast<double>(dpi_)));
}

HFONT Win32MainWindow::font(double points, bool bold) {
    const int height = -static_cast<int>(std::lround(points * dpi_ / 72.0));
    const auto key = std::make_pair(height, bold);
    auto it = fonts_.find(key);
    if (it != fonts_.end()) return it->second;
    HFONT f =
        CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, kFontFace);
    fonts_[key] = f;
    return f;
}

HBRUSH Win32MainWindow::brush(Colour colour) {
    auto it = brushes_.find(colour);
    if (it != brushes_.end()) return it->second;
    HBRUSH b = CreateSolidBrush(toColorRef(colour));
    brushes_[colour] = b;
    return b;
}

void Win32MainWindow::bind(Form& form) {
    form_ = &form;
    int id = kFirstControlId;
    for (Control* c : form.controls()) {
        if (c->kind() == ControlKind::Timer || c->kind() == ControlKind::FileDialog || c->outside()) continue;
        HWND w = createControl(*c, id++);
        if (w == nullptr) {
            throw std::runtime_error("cannot create the control " + c->name() + ": " +
                                     win32::errorText(GetLastError()));
        }
        windows_[c] = w;
        controls_[w] = c;
        SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(font(c->fontPoints(), c->bold())), FALSE);
        refresh(*c, w);
    }
    stackControls();
    SetWindowTextA(hwnd_, form.caption().c_str());
    form.addObserver(this);
}

HWND Win32MainWindow::createControl(Control& c, int id) {
    const char* cls = "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    const bool centre = c.alignment() == Align::Centre;
    switch (c.kind()) {
        case ControlKind::Label:
            style |= SS_NOPREFIX | (centre ? SS_CENTER : SS_LEFT);
            break;
        case ControlKind::TextBox:
            cls = "EDIT";
            style |= WS_TABSTOP | ES_AUTOHSCROLL | (centre ? ES_CENTER : ES_LEFT);
            exStyle |= WS_EX_CLIENTEDGE;
            break;
        case ControlKind::CheckBox:
            // Not the automatic kind: a click goes to the model, which
            // decides the new value and shows it.
            cls = "BUTTON";
            style |= WS_TABSTOP | BS_3STATE;
            break;
        case ControlKind::CommandButton:
            cls = "BUTTON";
            style |= WS_TABSTOP | (hasPicture(c) ? BS_OWNERDRAW : BS_PUSHBUTTON);
            break;
        case ControlKind::Frame:
            cls = "BUTTON";
            style |= BS_GROUPBOX;
            break;
        case ControlKind::HScrollBar:
            cls = "SCROLLBAR";
            style |= WS_TABSTOP | SBS_HORZ;
            break;
        case ControlKind::VScrollBar:
            cls = "SCROLLBAR";
            style |= WS_TABSTOP | SBS_VERT;
            break;
        case ControlKind::Timer:
        case ControlKind::FileDialog:
            return nullptr;
    }
    const TwipsRect g = c.windowGeometry();
    const int x = toPixels(g.left), y = toPixels(g.top);
    const int w = toPixels(g.left + g.width) - x, h = toPixels(g.top + g.height) - y;
    HWND hwnd = CreateWindowExA(exStyle, cls, "", style, x, y, w, h, hwnd_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    if (hwnd != nullptr && c.kind() == ControlKind::TextBox) {
        // Subclassed to refuse a paste that the digits-only rule forbids,
        // before it reaches the box.
        WNDPROC previous = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32MainWindow::editProc)));
        if (g_editProc == nullptr) g_editProc = previous;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    return hwnd;
}

void Win32MainWindow::stackControls() {
    // Frames lie under the controls drawn over them: every other control is
    // stacked above every frame, in creation order (which is also the Tab
    // order); the frames follow, nested ones above their container and,
    // among equals, later ones above earlier ones (Frame1 and Frame5 over
    // Frame8).
    std::vector<Control*> others, frames;
    for (Control* c : form_->controls()) {
        if (windows_.count(c) == 0) continue;
        (c->kind() == ControlKind::Frame ? frames : others).push_back(c);
    }
    std::stable_sort(frames.begin(), frames.end(),
                     [](const Control* a, const Control* b) { return depthOf(*a) > depthOf(*b); });
    // Within one depth, later-made frames go first (higher).
    for (auto first = frames.begin(); first != frames.end();) {
        auto last =
            std::find_if(first, frames.end(), [&](const Control* c) { return depthOf(*c) != depthOf(**first); });
        std::reverse(first, last);
        first = last;
    }
    HWND after = HWND_TOP;
    for (const std::vector<Control*>* group : {&others, &frames}) {
        for (Control* c : *group) {
            HWND w = windows_.at(c);
            SetWindowPos(w, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            after = w;
        }
    }
}

HWND Win32MainWindow::controlWindow(const Control& control) const {
    auto it = windows_.find(&control);
    return it == windows_.end() ? nullptr : it->second;
}

void Win32MainWindow::refresh(Control& c, HWND w) {
    Raise guard(updating_);
    switch (c.kind()) {
        case ControlKind::Label:
        case ControlKind::Frame:
        case ControlKind::CommandButton: {
            const std::string& caption = static_cast<Captioned&>(c).caption();
            // The counters and clocks change many times a second: only a
            // changed text is set, so nothing flickers.
            if (win32::windowText(w) != caption) SetWindowTextA(w, caption.c_str());
            break;
        }
        case ControlKind::CheckBox: {
            auto& box = static_cast<CheckBox&>(c);
            if (win32::windowText(w) != box.caption()) SetWindowTextA(w, box.caption().c_str());
            const WPARAM state = box.value() == 1 ? BST_CHECKED : box.value() == 2 ? BST_INDETERMINATE : BST_UNCHECKED;
            if (static_cast<WPARAM>(SendMessageA(w, BM_GETCHECK, 0, 0)) != state)
                SendMessageA(w, BM_SETCHECK, state, 0);
            break;
        }
        case ControlKind::TextBox:
            refreshTextBox(static_cast<TextBox&>(c), w);
            break;
        case ControlKind::HScrollBar:
        case ControlKind::VScrollBar:
            refreshScrollBar(static_cast<ScrollBar&>(c), w);
            break;
        case ControlKind::Timer:
        case ControlKind::FileDialog:
            break;
    }
}

void Win32MainWindow::refreshTextBox(TextBox& box, HWND edit) {
    // The typing limit; like the model's, it does not cut a longer text that
    // the program writes.
    SendMessageA(edit, EM_LIMITTEXT, static_cast<WPARAM>(box.maxLength() > 0 ? box.maxLength() : 0), 0);
    // The digits-only rule is the edit control's own ES_NUMBER style, set
    // through the window style functions as the rule describes.
    const LONG style = GetWindowLongA(edit, GWL_STYLE);
    const LONG wanted = box.digitsOnly() ? (style | ES_NUMBER) : (style & ~static_cast<LONG>(ES_NUMBER));
    if (wanted != style) SetWindowLongA(edit, GWL_STYLE, wanted);
    // An accepted user edit comes back here with the text the control
    // already shows; leaving it alone keeps the caret and undo.
    if (win32::windowText(edit) != box.text()) SetWindowTextA(edit, box.text().c_str());
}

void Win32MainWindow::refreshScrollBar(ScrollBar& bar, HWND hwnd) {
    Raise guard(updating_);
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    // A bar with an empty range (H1 before a file is loaded) stays visible,
    // greyed, instead of losing its thumb.
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_DISABLENOSCROLL;
    si.nMin = bar.lowEnd();
    si.nMax = bar.highEnd();
    si.nPage = 0;
    // While the user drags, the thumb stays under the mouse; the model's
    // value is shown again when the drag ends.
    if (!bar.dragging()) {
        si.fMask |= SIF_POS;
        si.nPos = mirroredIfReversed(bar, bar.value());
    }
    SetScrollInfo(hwnd, SB_CTL, &si, TRUE);
    if (bar.lowEnd() < bar.highEnd()) EnableScrollBar(hwnd, SB_CTL, ESB_ENABLE_BOTH);
}

void Win32MainWindow::controlChanged(Control& control, Property property) {
    HWND w = controlWindow(control);
    if (w == nullptr) return;
    if (property == Property::ForeColor) InvalidateRect(w, nullptr, TRUE);
    refresh(control, w);
}

void Win32MainWindow::captionChanged(const std::string& caption) { SetWindowTextA(hwnd_, caption.c_str()); }

void Win32MainWindow::onCommand(HWND child, int code) {
    auto it = controls_.find(child);
    if (it == controls_.end()) return;
    Control& c = *it->second;
    switch (c.kind()) {
        case ControlKind::CommandButton:
            if (code == BN_CLICKED && !updating_) static_cast<CommandButton&>(c).userClick();
            break;
        case ControlKind::CheckBox:
            if (code == BN_CLICKED && !updating_) {
                auto& box = static_cast<CheckBox&>(c);
                box.userToggle();
                refresh(box, child);
            }
            break;
        case ControlKind::TextBox:
            if (code == EN_CHANGE && !updating_) onEditChanged(static_cast<TextBox&>(c), child);
            break;
        default:
            break;
    }
}

void Win32MainWindow::onEditChanged(TextBox& box, HWND edit) {
    // EN_CHANGE comes for typing, pasting, cutting and undo; program writes
    // are under the guard. So this is exactly the user's edits.
    const std::string proposed = win32::windowText(edit);
    if (proposed == box.text()) return;
    DWORD caret = 0;
    SendMessageA(edit, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&caret));
    const int grown = static_cast<int>(proposed.size()) - static_cast<int>(box.text().size());
    if (!box.userEdit(proposed)) {
        Raise guard(updating_);
        SetWindowTextA(edit, box.text().c_str());
        const int back = std::max(0, static_cast<int>(caret) - std::max(0, grown));
        SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(back), static_cast<LPARAM>(back));
    }
}

bool Win32MainWindow::pasteAllowed(TextBox& box, HWND edit) const {
    if (!box.digitsOnly()) return true;
    if (!IsClipboardFormatAvailable(CF_TEXT) || !OpenClipboard(edit)) return true;
    std::string pasted;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* text = static_cast<const char*>(GlobalLock(data))) {
            pasted = text;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    // A one-line box takes the first line only.
    pasted = pasted.substr(0, pasted.find_first_of("\r\n"));
    return std::all_of(pasted.begin(), pasted.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

void Win32MainWindow::onScroll(ScrollBar& bar, HWND hwnd, int code, int thumb) {
    if (updating_) return;
    // Steps are worked out in the bar's own (possibly mirrored) positions.
    int target = GetScrollPos(hwnd, SB_CTL);
    switch (code) {
        case SB_LINEUP:
            target -= bar.smallChange();
            break;
        case SB_LINEDOWN:
            target += bar.smallChange();
            break;
        case SB_PAGEUP:
            target -= bar.largeChange();
            break;
        case SB_PAGEDOWN:
            target += bar.largeChange();
            break;
        case SB_TOP:
            target = bar.lowEnd();
            break;
        case SB_BOTTOM:
            target = bar.highEnd();
            break;
        case SB_THUMBTRACK:
            // Dragging: the scroll event, once per move.
            bar.userScroll(mirroredIfReversed(bar, thumb));
            return;
        case SB_THUMBPOSITION:
            target = thumb;
            break;
        case SB_ENDSCROLL:
            // A drag that ended without a final position settles where it is.
            if (bar.dragging()) bar.userChange(bar.value());
            refreshScrollBar(bar, hwnd);
            return;
        default:
            return;
    }
    target = std::clamp(target, bar.lowEnd(), bar.highEnd());
    bar.userChange(mirroredIfReversed(bar, target));
    refreshScrollBar(bar, hwnd);
}

HBRUSH Win32MainWindow::colourMessage(HWND child, HDC dc, bool edit) {
    auto it = controls_.find(child);
    const Control* c = it == controls_.end() ? nullptr : it->second;
    SetTextColor(dc, toColorRef(c != nullptr ? c->foreColour() : kBlack));
    if (edit) {
        const COLORREF back =
            c != nullptr && c->hasBackColour() ? toColorRef(c->backColour()) : GetSysColor(COLOR_WINDOW);
        SetBkColor(dc, back);
        return brush(back);
    }
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return GetSysColorBrush(COLOR_BTNFACE);
}

void Win32MainWindow::drawPictureButton(const DRAWITEMSTRUCT& item) {
    auto it = controls_.find(item.hwndItem);
    if (it == controls_.end()) return;
    const Control& c = *it->second;
    HDC dc = item.hDC;
    RECT r = item.rcItem;
    const bool pushed = (item.itemState & ODS_SELECTED) != 0;
    DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    const int shift = pushed ? 1 : 0;
    const std::string& caption = static_cast<const Captioned&>(c).caption();
    HGDIOBJ oldFont = SelectObject(dc, font(c.fontPoints(), c.bold()));
    SIZE textSize{};
    GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &textSize);

    // The picture sits left of the caption and gives way to it: it shrinks
    // where the button is narrow, and is left out when it would be too
    // small to read (the caption always shows whole).
    const int inset = std::max<int>(2, (r.bottom - r.top) / 6);
    const int gap = 3;
    const int room = (r.right - r.left) - 2 * inset - textSize.cx - gap;
    const int side = std::min<int>((r.bottom - r.top) - 2 * inset, room);
    RECT text{r.left + shift, r.top + shift, r.right + shift, r.bottom + shift};
    if (side >= 8) {
        // Picture and caption are centred together.
        const int left = r.left + ((r.right - r.left) - (side + gap + textSize.cx)) / 2 + shift;
        const int top = r.top + ((r.bottom - r.top) - side) / 2 + shift;
        drawPicture(dc, c.name(), RECT{left, top, left + side, top + side});
        text.left = left + side + gap;
        text.right = text.left + textSize.cx + 1;
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor((item.itemState & ODS_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    DrawTextA(dc, caption.c_str(), -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, oldFont);
    if ((item.itemState & ODS_FOCUS) != 0) {
        RECT focus = r;
        InflateRect(&focus, -3, -3);
        DrawFocusRect(dc, &focus);
    }
}

void Win32MainWindow::endSession() {
    if (onSessionEnding) onSessionEnding();
}

void Win32MainWindow::askToClose() {
    if (askingToClose_ || !onCloseRequested) return;
    Raise guard(askingToClose_);
    onCloseRequested();
}

LRESULT CALLBACK Win32MainWindow::editProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self != nullptr && message == WM_PASTE) {
        auto it = self->controls_.find(hwnd);
        if (it != self->controls_.end() && !self->pasteAllowed(static_cast<TextBox&>(*it->second), hwnd)) {
            MessageBeep(MB_OK);
            return 0;
        }
    }
    return CallWindowProcA(g_editProc, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK Win32MainWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self == nullptr || self->hwnd_ == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
    return self->handleMessage(message, wParam, lParam);
}

LRESULT Win32MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (lParam != 0) onCommand(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
            return 0;
        case WM_HSCROLL:
        case WM_VSCROLL: {
            auto it = controls_.find(reinterpret_cast<HWND>(lParam));
            if (it != controls_.end()) {
                // The thumb's position is a signed 16-bit value, as the
                // bars' values are.
                onScroll(static_cast<ScrollBar&>(*it->second), reinterpret_cast<HWND>(lParam), LOWORD(wParam),
                         static_cast<short>(HIWORD(wParam)));
            }
            return 0;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return reinterpret_cast<LRESULT>(
                colourMessage(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam), false));
        case WM_CTLCOLOREDIT:
            return reinterpret_cast<LRESULT>(
                colourMessage(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam), true));
        case WM_DRAWITEM:
            drawPictureButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_CLOSE:
            // The window never closes on its own: the answer to the question
            // decides, and a Yes ends the program from inside the callback.
            askToClose();
            return 0;
        case WM_QUERYENDSESSION:
            // A critical end of the session comes whatever the answer, and
            // the question would never be seen answered: end at once.
            if ((static_cast<DWORD>(lParam) & ENDSESSION_CRITICAL) != 0) endSession();
            // Returning means the user kept the program: refuse the end of
            // the session (a Yes never returns).
            askToClose();
            return FALSE;
        case WM_ENDSESSION:
            // The session ends now, asked or not (a forced log-off or
            // shutdown, also while the question is still open): the process
            // is ended once this returns.
            if (wParam != FALSE) endSession();
            return 0;
        case WM_ACTIVATE:
            // Remember which control had the focus, to give it back when the
            // user returns to the window, as a dialog does.
            if (LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus != nullptr && IsChild(hwnd_, focus)) lastFocus_ = focus;
            }
            return DefWindowProcA(hwnd_, message, wParam, lParam);
        case WM_SETFOCUS: {
            HWND target =
                lastFocus_ != nullptr && IsWindow(lastFocus_) ? lastFocus_ : GetNextDlgTabItem(hwnd_, nullptr, FALSE);
            if (target != nullptr) SetFocus(target);
            return 0;
        }
        default:
            return DefWindowProcA(hwnd_, message, wParam, lParam);
    }
}

RECT Win32MainWindow::normalRect() const {
    // A minimised window's own rectangle is parked off screen; its normal
    // placement is where it will come back, in workspace coordinates (which
    // are offset from the screen's by the task bar on the left or top).
    if (IsIconic(hwnd_)) {
        WINDOWPLACEMENT wp{};
        wp.length = sizeof wp;
        if (GetWindowPlacement(hwnd_, &wp)) {
            RECT r = wp.rcNormalPosition;
            MONITORINFO mi{};
            mi.cbSize = sizeof mi;
            if (GetMonitorInfoA(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &mi)) {
                OffsetRect(&r, mi.rcWork.left - mi.rcMonitor.left, mi.rcWork.top - mi.rcMonitor.top);
            }
            return r;
        }
    }
    RECT r{};
    GetWindowRect(hwnd_, &r);
    return r;
}

void Win32MainWindow::moveTo(int leftTwips, int topTwips) {
    const int x = toPixels(leftTwips), y = toPixels(topTwips);
    if (IsIconic(hwnd_)) {
        WINDOWPLACEMENT wp{};
        wp.length = sizeof wp;
        if (GetWindowPlacement(hwnd_, &wp)) {
            RECT target = wp.rcNormalPosition;
            OffsetRect(&target, x - target.left, y - target.top);
            MONITORINFO mi{};
            mi.cbSize = sizeof mi;
            if (GetMonitorInfoA(MonitorFromRect(&target, MONITOR_DEFAULTTONEAREST), &mi)) {
                OffsetRect(&target, mi.rcMonitor.left - mi.rcWork.left, mi.rcMonitor.top - mi.rcWork.top);
            }
            wp.rcNormalPosition = target;
            SetWindowPlacement(hwnd_, &wp);
            return;
        }
    }
    SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int Win32MainWindow::left() const { return toTwips(normalRect().left); }
int Win32MainWindow::top() const { return toTwips(normalRect().top); }
int Win32MainWindow::outerWidth() const {
    const RECT r = normalRect();
    return toTwips(r.right - r.left);
}
int Win32MainWindow::outerHeight() const {
    const RECT r = normalRect();
    return toTwips(r.bottom - r.top);
}

std::vector<TwipsRect> Win32MainWindow::screens() const {
    struct Collect {
        const Win32MainWindow* window;
        std::vector<TwipsRect> primary, others;
    } collect{this, {}, {}};
    struct Each {
        static BOOL CALLBACK monitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
            auto* out = reinterpret_cast<Collect*>(data);
            MONITORINFO mi{};
            mi.cbSize = sizeof mi;
            if (!GetMonitorInfoA(monitor, &mi)) return TRUE;
            const RECT& w = mi.rcWork;
            const TwipsRect r{out->window->toTwips(w.left), out->window->toTwips(w.top),
                              out->window->toTwips(w.right - w.left), out->window->toTwips(w.bottom - w.top)};
            ((mi.dwFlags & MONITORINFOF_PRIMARY) != 0 ? out->primary : out->others).push_back(r);
            return TRUE;
        }
    };
    EnumDisplayMonitors(nullptr, nullptr, &Each::monitor, reinterpret_cast<LPARAM>(&collect));
    std::vector<TwipsRect> out = collect.primary;
    out.insert(out.end(), collect.others.begin(), collect.others.end());
    return out;
}

void Win32MainWindow::show() {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
}

}  // namespace tarnwick
