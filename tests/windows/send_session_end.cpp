// Sends Tarnwick's main window the messages Windows sends at the end of a
// session, for the black-box scenarios under Wine:
//   send_session_end.exe query      WM_QUERYENDSESSION for a log-off, not waiting
//                                   for the answer (the program asks its question)
//   send_session_end.exe critical   WM_QUERYENDSESSION with ENDSESSION_CRITICAL
//   send_session_end.exe end        WM_ENDSESSION: the session ends now
// Exit status 0 when the window was found and the message sent.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    const std::string what = argc == 2 ? argv[1] : "";
    HWND window = nullptr;
    EnumWindows(
        [](HWND hwnd, LPARAM found) -> BOOL {
            char title[64] = {};
            GetWindowTextA(hwnd, title, sizeof title);
            // The caption: "Tarnwick", four blanks, the call sign.
            if (std::strncmp(title, "Tarnwick    ", 12) != 0) return TRUE;
            *reinterpret_cast<HWND*>(found) = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&window));
    if (window == nullptr) {
        std::fprintf(stderr, "send_session_end: no Tarnwick window\n");
        return 1;
    }
    DWORD_PTR answer = 0;
    if (what == "query") return SendNotifyMessageA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF) ? 0 : 1;
    // The program ends while it handles these: no answer comes.
    if (what == "critical") {
        SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_CRITICAL, SMTO_ABORTIFHUNG, 10000, &answer);
        return 0;
    }
    if (what == "end") {
        SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 10000, &answer);
        return 0;
    }
    std::fprintf(stderr, "usage: send_session_end.exe query|critical|end\n");
    return 2;
}
