// The main window of the Windows program: native controls bound to the
// window model.
//
// The model (window/form.h) is the one source of truth. The window draws it
// and reports what the user did, never more:
//   * downwards, every property change the model announces is copied into
//     the control's window (controlChanged); the notifications the controls
//     send while that happens (EN_CHANGE for a SetWindowTextA, for one) are
//     ignored, so nothing echoes back into the model;
//   * upwards, user input enters only through the controls' user* entries
//     (TextBox::userEdit, CheckBox::userToggle, CommandButton::userClick,
//     ScrollBar::userScroll / userChange), which apply the edit and raise the
//     control's event; a refused edit puts the control back.
// Controls that lie outside the visible client area, timers and the file
// dialog get no window; they live in the model only.
//
// Each visible control is the native control of its kind, placed at its
// twips geometry: STATIC labels, EDIT boxes, BUTTON push buttons, check
// boxes (three-state, driven by the model) and group boxes for the frames,
// SCROLLBAR bars. All are children of the main window, so the frames' own
// children are placed at their window position and stacked above them.
//
// The window also is the WindowFrame seam: its position in twips, the
// screens, and showing it at the end of start-up.
//
// Pixels and twips: the program declares itself DPI-aware (main_windows.cpp),
// so one pixel is 1440 / dpi twips, 15 at the usual 96 dpi, and the layout
// and fonts stay sharp at every scale.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>

#include "platform/windows/win32_platform.h"
#include "seams/window_frame.h"
#include "window/controls.h"

namespace tarnwick {

class Form;
class ScrollBar;
class TextBox;

class Win32MainWindow : public ControlObserver, public WindowFrame {
public:
    // A hidden, fixed-size window with a caption, system menu and minimise
    // box, no maximise box and no sizing border; its client area is
    // 6255 x 6465 twips. Raises std::runtime_error when it cannot be made.
    explicit Win32MainWindow(HINSTANCE instance = GetModuleHandleA(nullptr));
    ~Win32MainWindow() override;
    Win32MainWindow(const Win32MainWindow&) = delete;
    Win32MainWindow& operator=(const Win32MainWindow&) = delete;

    // Creates a native control for every visible control of `form`, copies
    // the model's state into them and starts observing the form. Called
    // once, before start-up; `form` must outlive the window.
    void bind(Form& form);

    HWND handle() const { return hwnd_; }
    // The native control that shows `control`, or nullptr when it has none.
    HWND controlWindow(const Control& control) const;

    // Called whenever the window system asks the window to close (close box,
    // system menu, Alt+F4, the end of the session). The window never closes
    // by itself: the callback either ends the program or returns to keep it
    // running; at the end of a session a return refuses the log-off. A
    // request arriving while an earlier one is still being answered is
    // dropped (and refuses the end of the session).
    std::function<void()> onCloseRequested;

    // Called when the session ends without asking: WM_ENDSESSION saying it
    // ends, or WM_QUERYENDSESSION for a critical end, which no answer can
    // stop. The callback ends the program; if it returns (none set), the
    // window goes on as before.
    std::function<void()> onSessionEnding;

    // ControlObserver.
    void controlChanged(Control& control, Property property) override;
    void captionChanged(const std::string& caption) override;

    // WindowFrame. Positions are the outer top-left corner on the virtual
    // desktop; while minimised, those of the window's normal placement.
    void moveTo(int leftTwips, int topTwips) override;
    int left() const override;
    int top() const override;
    int outerWidth() const override;
    int outerHeight() const override;
    // The monitors' work areas (without the task bar), primary first.
    std::vector<TwipsRect> screens() const override;
    void show() override;

    int dpi() const { return dpi_; }
    int toPixels(int twips) const;
    int toTwips(int pixels) const;

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK editProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    HWND createControl(Control& control, int id);
    void stackControls();
    void refresh(Control& control, HWND hwnd);
    void refreshScrollBar(ScrollBar& bar, HWND hwnd);
    void refreshTextBox(TextBox& box, HWND hwnd);
    void onCommand(HWND child, int code);
    void onEditChanged(TextBox& box, HWND edit);
    void onScroll(ScrollBar& bar, HWND hwnd, int code, int thumb);
    bool pasteAllowed(TextBox& box, HWND edit) const;
    HBRUSH colourMessage(HWND child, HDC dc, bool edit);
    void drawPictureButton(const DRAWITEMSTRUCT& item);
    void askToClose();
    void endSession();
    RECT normalRect() const;

    HFONT font(double points, bool bold);
    HBRUSH brush(Colour colour);

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    int dpi_ = 96;
    Form* form_ = nullptr;
    std::map<const Control*, HWND> windows_;
    std::map<HWND, Control*> controls_;
    std::map<std::pair<int, bool>, HFONT> fonts_;
    std::map<Colour, HBRUSH> brushes_;
    // Set while the model's state is copied into the controls: notifications
    // the controls send meanwhile are not user input.
    bool updating_ = false;
    bool askingToClose_ = false;
    HWND lastFocus_ = nullptr;
};

}  // namespace tarnwick
