#include "platform/windows/win32_dialogs.h"

#include <cderr.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace tarnwick {

namespace {

constexpr const char* kAboutClass = "TarnwickAboutWindow";
constexpr int kProductId = 101;
constexpr int kVersionId = 102;
constexpr int kSummaryId = 104;
constexpr int kCloseId = IDCANCEL;  // Escape closes the window too
constexpr int kLogBoxId = 108;
constexpr COLORREF kLinkColour = RGB(0, 0, 204);
constexpr COLORREF kProblemColour = RGB(176, 0, 0);

std::string trimmed(const std::string& s) {
    const std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> split(const std::string& s, char bar) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = s.find(bar, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

int scaled(int pixelsAt96, int dpi) { return static_cast<int>(std::lround(pixelsAt96 * dpi / 96.0)); }

}  // namespace

std::string win32::openFileFilter(const std::string& filter) {
    if (filter.empty()) return {};
    const std::vector<std::string> parts = split(filter, '|');
    std::string out;
    for (std::size_t i = 0; i < parts.size(); i += 2) {
        const std::string& description = parts[i];
        std::string patterns;
        for (const std::string& p : split(i + 1 < parts.size() ? parts[i + 1] : parts[i], ';')) {
            const std::string glob = trimmed(p);
            if (glob.empty()) continue;
            if (!patterns.empty()) patterns += ';';
            patterns += glob;
        }
        if (patterns.empty()) patterns = "*.*";
        out += description;
        out += '\0';
        out += patterns;
        out += '\0';
    }
    out += '\0';
    return out;
}

Win32Dialogs::Win32Dialogs(HWND owner, HINSTANCE instance) : owner_(owner), instance_(instance) {
    openLink = [this](const std::string& link) {
        ShellExecuteA(about_, "open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    };
}

Win32Dialogs::~Win32Dialogs() {
    if (about_ != nullptr) {
        SetWindowLongPtrA(about_, GWLP_USERDATA, 0);
        DestroyWindow(about_);
    }
    for (HFONT f : {normalFont_, titleFont_, linkFont_, fixedFont_}) {
        if (f != nullptr) DeleteObject(f);
    }
}

HWND Win32Dialogs::visibleOwner() const {
    // A box owned by a hidden window would be placed relative to where that
    // window is not; during start-up the boxes stand alone.
    return owner_ != nullptr && IsWindowVisible(owner_) ? owner_ : nullptr;
}

MsgResult Win32Dialogs::messageBox(const std::string& text, const std::string& title, int style) {
    const int answer = MessageBoxA(visibleOwner(), text.c_str(), title.c_str(), static_cast<UINT>(style));
    const bool yesNo = (style & mb::kButtonsMask) == mb::kYesNo;
    switch (answer) {
        case IDYES:
            return MsgResult::Yes;
        case IDNO:
            return MsgResult::No;
        default:
            return yesNo ? MsgResult::No : MsgResult::Ok;
    }
}

std::string Win32Dialogs::openFile(const std::string& fileName, const std::string& filter) {
    const std::string filterText = win32::openFileFilter(filter);
    std::vector<char> file(32768, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::fill(file.begin(), file.end(), '\0');
        if (attempt == 0) fileName.copy(file.data(), std::min(fileName.size(), file.size() - 1));
        OPENFILENAMEA ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = visibleOwner();
        ofn.lpstrFilter = filterText.empty() ? nullptr : filterText.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = file.data();
        ofn.nMaxFile = static_cast<DWORD>(file.size());
        // The program's own working folder stays where it was.
        ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                    OFN_ENABLESIZING;
        if (GetOpenFileNameA(&ofn)) return std::string(file.data());
        // Cancel, or a start name the dialog cannot use: then once more
        // without it.
        if (CommDlgExtendedError() != FNERR_INVALIDFILENAME) return {};
    }
    return {};
}

void Win32Dialogs::createAbout() {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Win32Dialogs::aboutProc;
    wc.hInstance = instance_;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(1));
    wc.lpszClassName = kAboutClass;
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("cannot register the about window's class: " + win32::errorText(GetLastError()));
    }

    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    auto makeFont = [dpi](int points, bool bold, bool underline, const char* face = "MS Sans Serif") {
        const bool fixed = std::string(face) != "MS Sans Serif";
        return CreateFontA(-MulDiv(points, dpi, 72), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, underline, FALSE,
                           ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           fixed ? FIXED_PITCH | FF_MODERN : DEFAULT_PITCH | FF_SWISS, face);
    };
    normalFont_ = makeFont(8, false, false);
    titleFont_ = makeFont(14, true, false);
    linkFont_ = makeFont(8, false, true);
    fixedFont_ = makeFont(8, false, false, "Courier New");

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS;
    RECT frame{0, 0, scaled(680, dpi), scaled(482, dpi)};
    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
    about_ = CreateWindowExA(WS_EX_DLGMODALFRAME, kAboutClass, "About", style, CW_USEDEFAULT, CW_USEDEFAULT,
                             frame.right - frame.left, frame.bottom - frame.top, owner_, nullptr, instance_, this);
    if (about_ == nullptr) {
        throw std::runtime_error("cannot create the about window: " + win32::errorText(GetLastError()));
    }
    SetPropA(about_, win32::kDialogKeysProperty, reinterpret_cast<HANDLE>(1));

    struct Child {
        int id;
        const char* cls;
        DWORD style;
        int x, y, w, h;
        HFONT font;
    };
    // Pixels at 96 dpi. The log's field holds 20 lines of about 100
    // characters, a time stamp and a typical event.
    const Child children[] = {
        {kProductId, "STATIC", SS_CENTER | SS_NOPREFIX, 10, 12, 660, 28, titleFont_},
        {kVersionId, "STATIC", SS_CENTER | SS_NOPREFIX, 10, 44, 660, 16, normalFont_},
        {kSummaryId, "STATIC", SS_CENTER | SS_NOPREFIX, 10, 64, 660, 16, normalFont_},
        {kAboutLinkId, "STATIC", SS_CENTER | SS_NOPREFIX | SS_NOTIFY, 10, 84, 660, 16, linkFont_},
        {kLogBoxId, "BUTTON", BS_GROUPBOX, 10, 108, 660, 330, normalFont_},
        {kLogPlaceId, "EDIT", ES_READONLY | ES_AUTOHSCROLL, 20, 128, 640, 16, normalFont_},
        {kLogProblemId, "STATIC", SS_LEFT | SS_NOPREFIX, 20, 146, 640, 16, normalFont_},
        {kLogId, "EDIT",
         ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_HSCROLL | WS_VSCROLL | WS_BORDER, 20, 166,
         640, 264, fixedFont_},
        {kCloseId, "BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, 300, 448, 80, 24, normalFont_},
    };
    for (const Child& c : children) {
        const char* text = c.id == kCloseId ? "Close" : c.id == kLogBoxId ? "Station log" : "";
        HWND w = CreateWindowExA(0, c.cls, text, WS_CHILD | WS_VISIBLE | c.style, scaled(c.x, dpi), scaled(c.y, dpi),
                                 scaled(c.w, dpi), scaled(c.h, dpi), about_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance_, nullptr);
        SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(c.font), FALSE);
    }
}

void Win32Dialogs::showLog(const AboutInfo& info) {
    SetDlgItemTextA(about_, kLogPlaceId, ("File: " + (info.logPlace.empty() ? "(no place)" : info.logPlace)).c_str());
    HWND problem = GetDlgItem(about_, kLogProblemId);
    SetWindowTextA(problem, ("Cannot be written: " + info.logProblem).c_str());
    ShowWindow(problem, info.logProblem.empty() ? SW_HIDE : SW_SHOWNA);
    std::string lines;
    for (const std::string& line : info.logLines) lines += (lines.empty() ? "" : "\r\n") + line;
    HWND log = GetDlgItem(about_, kLogId);
    SetWindowTextA(log, lines.empty() ? "(no lines yet)" : lines.c_str());
    // The latest line in view.
    const int end = GetWindowTextLengthA(log);
    SendMessageA(log, EM_SETSEL, end, end);
    SendMessageA(log, EM_SCROLLCARET, 0, 0);
}

void Win32Dialogs::showAbout(const AboutInfo& info) {
    const bool first = about_ == nullptr;
    if (first) createAbout();
    link_ = info.link;
    SetWindowTextA(about_, ("About " + info.product).c_str());
    SetDlgItemTextA(about_, kProductId, info.product.c_str());
    SetDlgItemTextA(about_, kVersionId, ("Version " + info.version).c_str());
    SetDlgItemTextA(about_, kSummaryId, info.summary.c_str());
    SetDlgItemTextA(about_, kAboutLinkId, info.link.c_str());
    showLog(info);
    if (first) {
        // Beside the main window, so that the window and its timers stay in
        // sight; on a screen too narrow for both, against its right edge,
        // over as little of the main window as it can; centred on the
        // screen without one; never off the screen.
        RECT mine{}, over{}, work{};
        GetWindowRect(about_, &mine);
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
        const int w = mine.right - mine.left, h = mine.bottom - mine.top;
        int x = 0, y = 0;
        if (owner_ != nullptr && IsWindowVisible(owner_) && GetWindowRect(owner_, &over)) {
            x = over.right + 8;
            y = over.top;
        } else {
            x = work.left + (work.right - work.left - w) / 2;
            y = work.top + (work.bottom - work.top - h) / 2;
        }
        x = static_cast<int>(std::max<LONG>(work.left, std::min<LONG>(x, work.right - w)));
        y = static_cast<int>(std::max<LONG>(work.top, std::min<LONG>(y, work.bottom - h)));
        SetWindowPos(about_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ShowWindow(about_, SW_SHOWNORMAL);
    SetForegroundWindow(about_);
    SetFocus(GetDlgItem(about_, kCloseId));
}

LRESULT CALLBACK Win32Dialogs::aboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Dialogs*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == kAboutLinkId && HIWORD(wParam) == STN_CLICKED) {
                if (self->openLink) self->openLink(self->link_);
            } else if (LOWORD(wParam) == kCloseId) {
                ShowWindow(hwnd, SW_HIDE);
            }
            return 0;
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            // The log's lines read as a document; the rest as the window.
            const int back = id == kLogId ? COLOR_WINDOW : COLOR_BTNFACE;
            SetTextColor(dc, id == kAboutLinkId    ? kLinkColour
                             : id == kLogProblemId ? kProblemColour
                             : id == kLogId        ? GetSysColor(COLOR_WINDOWTEXT)
                                                   : GetSysColor(COLOR_BTNTEXT));
            SetBkColor(dc, GetSysColor(back));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(back));
        }
        case WM_SETCURSOR:
            // The hand over the link says it can be clicked.
            if (reinterpret_cast<HWND>(wParam) == GetDlgItem(hwnd, kAboutLinkId)) {
                SetCursor(LoadCursorA(nullptr, IDC_HAND));
                return TRUE;
            }
            break;
        case WM_CLOSE:
            // Closing only hides it: the next "About" shows it again.
            ShowWindow(hwnd, SW_HIDE);
            return 0;
        default:
            break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace tarnwick
