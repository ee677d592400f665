#include "nodesim/windows/win32_node_window.h"

#include <stdexcept>

#include "nodesim/windows/com_node_face.h"
#include "nodesim/windows/win_text.h"

namespace tarnwick::nodesim {

namespace {

constexpr const wchar_t* kWindowClass = L"TarnwickNodeSimWindow";
constexpr UINT_PTR kLampTimer = 1;
constexpr UINT kLampTimerMs = 100;
constexpr int kMaxCwRows = 200;
constexpr int kMaxDtmfDigits = 32;
constexpr int kClientWidth = 336;
constexpr int kClientHeight = 428;

enum ControlId : int {
    kLamp = 101,
    kReceiving,
    kBusyA,
    kBusyB,
    kDtmf,
    kSend,
    kCwTexts,
    kClose,
};

std::wstring clockText(std::int64_t ms) {
    const std::int64_t s = ms / 1000;
    wchar_t text[32];
    if (s >= 3600) {
        wsprintfW(text, L"%d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>((s / 60) % 60),
                  static_cast<int>(s % 60));
    } else {
        wsprintfW(text, L"%02d:%02d", static_cast<int>((s / 60) % 60), static_cast<int>(s % 60));
    }
    return text;
}

bool dtmfDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'D') || (c >= L'a' && c <= L'd') || c == L'*' || c == L'#';
}

std::wstring textOf(HWND hwnd) {
    const int n = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, text.data(), n + 1);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

}  // namespace

NodeWindow::NodeWindow(NodeFace& face, HINSTANCE instance) : face_(face), instance_(instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &NodeWindow::windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("cannot register the window class: " + errorText(GetLastError()));
    }
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const std::wstring title = L"Stand-in node - " + wideFromUtf8(face_.sim().callsign());
    hwnd_ = CreateWindowExW(0, kWindowClass, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this);
    if (hwnd_ == nullptr) throw std::runtime_error("cannot create the window: " + errorText(GetLastError()));
    build();
    face_.sim().onChange = [this] { refresh(); };
    face_.sim().onCwText = [this](const std::string& text) { addCwText(text); };
    SetTimer(hwnd_, kLampTimer, kLampTimerMs, nullptr);
    refresh();
}

NodeWindow::~NodeWindow() {
    face_.sim().onChange = nullptr;
    face_.sim().onCwText = nullptr;
    if (hwnd_ != nullptr) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    if (bigFont_ != nullptr) DeleteObject(bigFont_);
}

void NodeWindow::show() {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
}

HWND NodeWindow::child(const wchar_t* cls, const std::wstring& text, DWORD style, int id, int x, int y, int w, int h) {
    HWND hwnd = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return hwnd;
}

void NodeWindow::build() {
    font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    bigFont_ = CreateFontW(-22, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    const NodeSim& sim = face_.sim();

    HWND callsign = child(L"STATIC", wideFromUtf8(sim.callsign()), SS_LEFT | SS_NOPREFIX, 0, 12, 10, 312, 30);
    SendMessageW(callsign, WM_SETFONT, reinterpret_cast<WPARAM>(bigFont_ ? bigFont_ : font_), FALSE);

    child(L"STATIC", L"Transmitter:", SS_LEFT, 0, 12, 50, 80, 18);
    lamp_ = child(L"STATIC", L"", SS_OWNERDRAW, kLamp, 96, 50, 14, 14);
    transmitter_ = child(L"STATIC", L"off", SS_LEFT | SS_NOPREFIX, 0, 116, 50, 208, 18);
    child(L"STATIC", L"Listed:", SS_LEFT, 0, 12, 72, 80, 18);
    listed_ = child(L"STATIC", L"free", SS_LEFT, 0, 96, 72, 228, 18);

    child(L"BUTTON", L"Switches", BS_GROUPBOX, 0, 8, 96, 320, 92);
    receiving_ =
        child(L"BUTTON", L"Receiving a signal", BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, kReceiving, 20, 114, 290, 20);
    busyA_ = child(L"BUTTON", L"Busy flag A", BS_AUTOCHECKBOX | WS_TABSTOP, kBusyA, 20, 136, 290, 20);
    busyB_ = child(L"BUTTON", L"Busy flag B", BS_AUTOCHECKBOX | WS_TABSTOP, kBusyB, 20, 158, 290, 20);

    child(L"BUTTON", L"DTMF received", BS_GROUPBOX, 0, 8, 194, 320, 56);
    dtmf_ =
        child(L"EDIT", L"", WS_BORDER | WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL | ES_UPPERCASE, kDtmf, 20, 214, 200, 24);
    SendMessageW(dtmf_, EM_SETLIMITTEXT, kMaxDtmfDigits, 0);
    send_ = child(L"BUTTON", L"Send", BS_DEFPUSHBUTTON | WS_TABSTOP, kSend, 232, 213, 84, 26);
    EnableWindow(send_, FALSE);

    const std::wstring cwTitle = L"Morse sent (" + std::to_wstring(sim.cwWpm()) + L" wpm)";
    child(L"BUTTON", cwTitle, BS_GROUPBOX, 0, 8, 256, 320, 128);
    cwTexts_ =
        child(L"LISTBOX", L"", WS_BORDER | WS_VSCROLL | LBS_NOSEL | LBS_NOINTEGRALHEIGHT, kCwTexts, 20, 274, 296, 100);

    child(L"BUTTON", L"Close", BS_PUSHBUTTON | WS_TABSTOP, kClose, 244, 394, 84, 26);
}

LRESULT CALLBACK NodeWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* window = reinterpret_cast<NodeWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (window == nullptr || window->hwnd_ == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    return window->handle(message, wParam, lParam);
}

LRESULT NodeWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            NodeSim& sim = face_.sim();
            const bool checked = code == BN_CLICKED && id >= kReceiving && id <= kBusyB &&
                                 SendMessageW(reinterpret_cast<HWND>(lParam), BM_GETCHECK, 0, 0) == BST_CHECKED;
            if (id == kReceiving && code == BN_CLICKED) sim.setReceiving(checked);
            if (id == kBusyA && code == BN_CLICKED) sim.setBusyA(checked);
            if (id == kBusyB && code == BN_CLICKED) sim.setBusyB(checked);
            if ((id == kSend && code == BN_CLICKED) || id == IDOK) sendDtmf();
            if (id == kClose && code == BN_CLICKED) face_.closeAndQuit();
            if (id == kDtmf && code == EN_CHANGE && !filtering_) {
                // Only DTMF keys stay in the field.
                std::wstring text = textOf(dtmf_);
                std::wstring kept;
                for (wchar_t c : text) {
                    if (dtmfDigit(c)) kept += c;
                }
                if (kept != text) {
                    filtering_ = true;
                    SetWindowTextW(dtmf_, kept.c_str());
                    SendMessageW(dtmf_, EM_SETSEL, kept.size(), kept.size());
                    filtering_ = false;
                }
                EnableWindow(send_, !kept.empty());
            }
            return 0;
        }
        case WM_DRAWITEM:
            if (wParam == kLamp) {
                drawLamp(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
                return TRUE;
            }
            break;
        case WM_TIMER:
            if (wParam == kLampTimer) {
                refreshTransmitter();
                return 0;
            }
            break;
        case WM_CLOSE:
            // EchoLink closing: the node raises Closing and quits once its
            // callers have gone; the window goes with the process.
            face_.closeAndQuit();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void NodeWindow::drawLamp(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    FillRect(dc, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    HBRUSH fill = CreateSolidBrush(lampLit_ ? RGB(0xE0, 0x10, 0x10) : RGB(0x9A, 0x9A, 0x9A));
    HPEN edge = CreatePen(PS_SOLID, 1, lampLit_ ? RGB(0x7A, 0, 0) : RGB(0x5A, 0x5A, 0x5A));
    HGDIOBJ oldBrush = SelectObject(dc, fill);
    HGDIOBJ oldPen = SelectObject(dc, edge);
    Ellipse(dc, item.rcItem.left, item.rcItem.top, item.rcItem.right, item.rcItem.bottom);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(fill);
    DeleteObject(edge);
}

void NodeWindow::refresh() {
    const NodeSim& sim = face_.sim();
    refreshTransmitter();
    SetWindowTextW(listed_, sim.listedBusy() ? L"busy" : L"free");
    // BM_SETCHECK sends no click, so --ctl changes do not echo back.
    SendMessageW(receiving_, BM_SETCHECK, sim.receiving() ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageW(busyA_, BM_SETCHECK, sim.busyA() ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageW(busyB_, BM_SETCHECK, sim.busyB() ? BST_CHECKED : BST_UNCHECKED, 0);
}

void NodeWindow::refreshTransmitter() {
    const NodeSim& sim = face_.sim();
    const auto keyedFor = sim.keyedForMs();
    if (keyedFor.has_value() != lampLit_) {
        lampLit_ = keyedFor.has_value();
        InvalidateRect(lamp_, nullptr, TRUE);
    }
    std::wstring text = L"off";
    if (keyedFor) text = L"keyed " + clockText(*keyedFor) + (sim.pttHeld() ? L"" : L" (sending Morse)");
    if (textOf(transmitter_) != text) SetWindowTextW(transmitter_, text.c_str());
}

void NodeWindow::addCwText(const std::string& text) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[16];
    wsprintfW(stamp, L"%02d:%02d:%02d  ", now.wHour, now.wMinute, now.wSecond);
    const std::wstring row = stamp + wideFromUtf8(text);
    SendMessageW(cwTexts_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    while (SendMessageW(cwTexts_, LB_GETCOUNT, 0, 0) > kMaxCwRows) SendMessageW(cwTexts_, LB_DELETESTRING, 0, 0);
    const LRESULT count = SendMessageW(cwTexts_, LB_GETCOUNT, 0, 0);
    SendMessageW(cwTexts_, LB_SETTOPINDEX, count > 0 ? count - 1 : 0, 0);
}

void NodeWindow::sendDtmf() {
    std::wstring digits = textOf(dtmf_);
    if (digits.empty()) return;
    CharUpperW(digits.data());
    SetWindowTextW(dtmf_, L"");
    face_.raiseDtmf(utf8FromWide(digits));
}

}  // namespace tarnwick::nodesim
