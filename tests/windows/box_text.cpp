// Prints the words of a message box that another program shows, one control
// a line (the text, then the buttons), for the black-box scenarios under
// Wine: a box's words are not on the X server, where the scenarios look.
//   box_text.exe TITLE    (exit status 1 when no such box is shown)
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: box_text.exe TITLE\n", stderr);
        return 2;
    }
    const HWND box = FindWindowA("#32770", argv[1]);  // the dialog class of message boxes
    if (box == nullptr || !IsWindowVisible(box)) {
        std::fprintf(stderr, "box_text: no message box \"%s\" on the screen\n", argv[1]);
        return 1;
    }
    // Across processes this reads the text the window system keeps for each
    // control, which a box's static text and buttons keep there.
    EnumChildWindows(
        box,
        [](HWND control, LPARAM) -> BOOL {
            char text[4096] = {};
            if (GetWindowTextA(control, text, sizeof text) > 0) std::printf("%s\n", text);
            return TRUE;
        },
        0);
    return 0;
}
