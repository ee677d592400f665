// The stand-in's window on Windows: what a person trying Tarnwick out sees
// of the node, the same as the Linux one.
//
// It shows the call sign, the transmitter (a lamp, red while keyed, and how
// long it has been keyed), whether the node is listed busy, and the Morse
// texts received; it has switches for the receiver and the two busy flags,
// a DTMF field whose Send raises DTMFString, and Close, which raises
// Closing and quits as EchoLink does when it closes. The close box is the
// Close button.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

namespace tarnwick::nodesim {

class NodeFace;

class NodeWindow {
public:
    // Creates the window, hidden. Raises std::runtime_error when the window
    // system refuses it.
    NodeWindow(NodeFace& face, HINSTANCE instance);
    ~NodeWindow();
    NodeWindow(const NodeWindow&) = delete;
    NodeWindow& operator=(const NodeWindow&) = delete;

    void show();
    HWND handle() const { return hwnd_; }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    HWND child(const wchar_t* cls, const std::wstring& text, DWORD style, int id, int x, int y, int w, int h);
    void build();
    void refresh();
    void refreshTransmitter();
    void addCwText(const std::string& text);
    void sendDtmf();
    void drawLamp(const DRAWITEMSTRUCT& item);

    NodeFace& face_;
    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    HWND lamp_ = nullptr;
    HWND transmitter_ = nullptr;
    HWND listed_ = nullptr;
    HWND receiving_ = nullptr;
    HWND busyA_ = nullptr;
    HWND busyB_ = nullptr;
    HWND dtmf_ = nullptr;
    HWND send_ = nullptr;
    HWND cwTexts_ = nullptr;
    HFONT font_ = nullptr;
    HFONT bigFont_ = nullptr;
    bool lampLit_ = false;
    bool filtering_ = false;
};

}  // namespace tarnwick::nodesim
