// Message boxes, the file-open dialog and the about window on Win32.
//
// MessageBoxA and GetOpenFileNameA run their own modal loops; the wake-ups
// of Win32EventLoop and the node's COM calls are ordinary messages, which
// those loops dispatch, so the system's timers and node events go on while
// a box waits. The boxes are owned by the main window once it is on screen;
// before that (the start-up messages) they stand alone.
#pragma once

#include <functional>
#include <string>

#include "platform/windows/win32_platform.h"
#include "seams/dialogs.h"

namespace tarnwick {

namespace win32 {

// Turns a file-type filter of the form "description|pattern;pattern", with
// further "|description|patterns" pairs allowed, into the form
// GetOpenFileNameA takes: "description\0pattern;pattern\0...\0\0". A filter
// without a bar is one entry whose description is the patterns themselves;
// an empty filter gives an empty string (no filter).
std::string openFileFilter(const std::string& filter);

}  // namespace win32

class Win32Dialogs : public Dialogs {
public:
    explicit Win32Dialogs(HWND owner = nullptr, HINSTANCE instance = GetModuleHandleA(nullptr));
    ~Win32Dialogs() override;
    Win32Dialogs(const Win32Dialogs&) = delete;
    Win32Dialogs& operator=(const Win32Dialogs&) = delete;

    // The window that owns the dialogs (the main window).
    void setOwner(HWND owner) { owner_ = owner; }

    // MessageBoxA with `style` as it stands (mb:: values are the system's
    // MB_ bits). The box is modal to the owner when the owner is visible.
    // Returns the button pressed; a box that cannot be shown answers No to
    // a Yes/No question and Ok otherwise.
    MsgResult messageBox(const std::string& text, const std::string& title, int style) override;

    // GetOpenFileNameA for an existing file, starting from `fileName` (its
    // folder and name); a start name the dialog refuses (not a valid path)
    // is dropped and the dialog opens without one. Returns the chosen path,
    // or "" after Cancel or when the dialog cannot be shown.
    std::string openFile(const std::string& fileName, const std::string& filter) override;

    // A small window of its own class (not modal) with the product, the
    // version, the summary and the web address as a link that opens in the
    // browser (ShellExecuteA), and the station log: where it is (a read-only
    // field, to copy from), why it cannot be written (if so, in red), and its
    // latest lines in a fixed-width font. Made on first use, refreshed and
    // brought to the front on later calls. Raises std::runtime_error if it
    // cannot be made.
    void showAbout(const AboutInfo& info) override;

    // The about window once it exists (for tests), and its controls' ids.
    HWND aboutWindow() const { return about_; }
    static constexpr int kAboutLinkId = 103;
    static constexpr int kLogPlaceId = 105;
    static constexpr int kLogProblemId = 106;
    static constexpr int kLogId = 107;

    // Opens a link from the about window; the default is ShellExecuteA's
    // "open". Tests replace it.
    std::function<void(const std::string&)> openLink;

private:
    static LRESULT CALLBACK aboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void createAbout();
    void showLog(const AboutInfo& info);
    HWND visibleOwner() const;

    HWND owner_;
    HINSTANCE instance_;
    HWND about_ = nullptr;
    HFONT normalFont_ = nullptr;
    HFONT titleFont_ = nullptr;
    HFONT linkFont_ = nullptr;
    HFONT fixedFont_ = nullptr;
    std::string link_;
};

}  // namespace tarnwick
