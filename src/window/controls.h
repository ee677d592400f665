// The window model: the controls of the main window as plain objects.
//
// Controls are the system's state. The platform window binds its widgets to
// them both ways: it observes every property change (ControlObserver) to
// redraw, and it reports what the user did through the user* entries, which
// apply the edit and raise the control's event like a program write would.
//
// Event rules (the rest of the system relies on them):
//   * every setText() raises the box's change event, also when the text is
//     unchanged;
//   * a scroll bar raises change only when its value actually changes, and
//     Min may exceed Max (the bar then runs the other way);
//   * check boxes hold 0, 1 or 2 (greyed); there is no change event;
//   * timers hold an interval and an enabled flag; ticking them is the
//     TimerBinder's job (station/timer_binder.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarnwick {

class Form;
class Control;

enum class ControlKind { Label, TextBox, CheckBox, CommandButton, Frame, HScrollBar, VScrollBar, Timer, FileDialog };

enum class Property { Caption, Text, Value, Range, Enabled, Interval, Style, ForeColor };

enum class Align { Left, Centre };

// Twips: 1/1440 inch; 15 twips are one pixel at 96 dpi.
struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidthTwips = 6255;
inline constexpr int kClientHeightTwips = 6465;

// Colours are 0xBBGGRR, as Win32 COLORREF values are.
using Colour = std::uint32_t;
inline constexpr Colour kBlack = 0x000000;
inline constexpr Colour kRed = 0x0000FF;
inline constexpr Colour kGreen = 0x008000;

// Edit style flag that restricts typing to the digits 0-9.
inline constexpr std::uint32_t kEsNumber = 0x2000;

class ControlObserver {
public:
    virtual ~ControlObserver() = default;
    // Called after a property of `control` changed (before its event runs).
    virtual void controlChanged(Control& control, Property property) = 0;
    // The window caption changed.
    virtual void captionChanged(const std::string& /*caption*/) {}
};

using Handler = std::function<void()>;

class Control {
public:
    Control(Form& form, std::string name, ControlKind kind, Control* container, TwipsRect geometry);
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    const std::string& name() const { return name_; }
    ControlKind kind() const { return kind_; }
    Control* container() const { return container_; }
    Form& form() const { return form_; }

    // Geometry in twips, relative to the container (the window for top-level
    // controls). A width or height of 0 means "the platform's natural size".
    const TwipsRect& geometry() const { return geometry_; }
    // Geometry relative to the window's client area.
    TwipsRect windowGeometry() const;
    // True for controls that lie beyond the visible client area: they hold
    // state and behave like the others but the user cannot see them.
    bool outside() const;

    // Appearance, set once when the inventory is built (PTT's colour changes).
    Colour foreColour() const { return foreColour_; }
    void setForeColour(Colour c);
    bool hasBackColour() const { return hasBack_; }
    Colour backColour() const { return backColour_; }
    void setBackColour(Colour c) {
        backColour_ = c;
        hasBack_ = true;
    }
    double fontPoints() const { return fontPoints_; }
    bool bold() const { return bold_; }
    Align alignment() const { return align_; }
    enum class Weight { Normal, Bold };
    void setFont(double points, Weight weight) {
        fontPoints_ = points;
        bold_ = weight == Weight::Bold;
    }
    void setAlignment(Align a) { align_ = a; }

protected:
    void notify(Property p);
    void raise(const Handler& h, const char* event);

private:
    Form& form_;
    std::string name_;
    ControlKind kind_;
    Control* container_;
    TwipsRect geometry_;
    Colour foreColour_ = kBlack;
    Colour backColour_ = 0;
    bool hasBack_ = false;
    double fontPoints_ = 8.25;
    bool bold_ = false;
    Align align_ = Align::Left;
};

// A control with a caption: labels, frames, buttons, check boxes.
class Captioned : public Control {
public:
    Captioned(Form& f, std::string name, ControlKind k, Control* c, TwipsRect g, std::string caption)
        : Control(f, std::move(name), k, c, g), caption_(std::move(caption)) {}
    const std::string& caption() const { return caption_; }
    void setCaption(std::string caption);

private:
    std::string caption_;
};

class Label : public Captioned {
public:
    Label(Form& f, std::string name, Control* c, TwipsRect g, std::string caption)
        : Captioned(f, std::move(name), ControlKind::Label, c, g, std::move(caption)) {}
};

class Frame : public Captioned {
public:
    Frame(Form& f, std::string name, Control* c, TwipsRect g, std::string caption)
        : Captioned(f, std::move(name), ControlKind::Frame, c, g, std::move(caption)) {}
};

class CommandButton : public Captioned {
public:
    CommandButton(Form& f, std::string name, Control* c, TwipsRect g, std::string caption)
        : Captioned(f, std::move(name), ControlKind::CommandButton, c, g, std::move(caption)) {}
    Handler onClick;
    // The user clicked the button.
    void userClick() { raise(onClick, "Click"); }
};

class CheckBox : public Captioned {
public:
    CheckBox(Form& f, std::string name, Control* c, TwipsRect g, std::string caption)
        : Captioned(f, std::move(name), ControlKind::CheckBox, c, g, std::move(caption)) {}
    int value() const { return value_; }
    // 0 unticked, 1 ticked, 2 greyed; anything else raises Failure 380.
    void setValue(int v);
    // The user clicked the box: ticked becomes unticked, anything else ticked.
    void userToggle();

private:
    int value_ = 0;
};

class TextBox : public Control {
public:
    TextBox(Form& f, std::string name, Control* c, TwipsRect g, std::string text)
        : Control(f, std::move(name), ControlKind::TextBox, c, g), text_(std::move(text)) {}
    const std::string& text() const { return text_; }
    // A program write: always raises change, also for an unchanged text.
    void setText(std::string text);

    int maxLength() const { return maxLength_; }  // 0: no limit (limits typing only)
    void setMaxLength(int n) { maxLength_ = n; }

    // The edit window's style bits; kEsNumber restricts typing to digits.
    std::uint32_t style() const { return style_; }
    void setStyle(std::uint32_t style);
    bool digitsOnly() const { return (style_ & kEsNumber) != 0; }

    // Whether the user may turn the text into `proposed` by typing or
    // pasting: within the maximum length, and only digits when digitsOnly().
    bool acceptsUserText(const std::string& proposed) const;
    // The user edited the text. Returns false (and changes nothing) when the
    // edit is refused; the platform then puts the widget back to text().
    bool userEdit(const std::string& proposed);

    Handler onChange;

private:
    std::string text_;
    int maxLength_ = 0;
    std::uint32_t style_ = 0;
};

class ScrollBar : public Control {
public:
    ScrollBar(Form& f, std::string name, ControlKind k, Control* c, TwipsRect g, int min, int max, int smallChange,
              int largeChange, int value)
        : Control(f, std::move(name), k, c, g),
          min_(min),
          max_(max),
          small_(smallChange),
          large_(largeChange),
          value_(value) {}
    int min() const { return min_; }
    int max() const { return max_; }
    int smallChange() const { return small_; }
    int largeChange() const { return large_; }
    int value() const { return value_; }
    // Values are signed 16-bit; a value outside the range between Min and Max
    // (in either direction) raises Failure 380. Raises change only when the
    // value changes.
    void setValue(int v);
    // Changing Max (or Min) clamps the value into the new range, which
    // raises change when it moves the value.
    void setMax(int v);
    void setMin(int v);
    void setRange(int min, int max);
    int lowEnd() const { return min_ < max_ ? min_ : max_; }
    int highEnd() const { return min_ < max_ ? max_ : min_; }

    // The user drags the thumb (scroll event, once per move), or the bar's
    // value settles (a click on an arrow or the track, or the end of a drag):
    // change, when the value differs from where it stood before.
    void userScroll(int v);
    void userChange(int v);
    bool dragging() const { return dragging_; }

    Handler onChange;
    Handler onScroll;

private:
    bool inRange(int v) const;
    int min_, max_, small_, large_, value_;
    bool dragging_ = false;
    int dragStart_ = 0;
};

class Timer : public Control {
public:
    // Whether the timer is enabled in the window's design.
    enum class Design { Disabled, Enabled };
    Timer(Form& f, std::string name, Control* c, int intervalMs, Design design)
        : Control(f, std::move(name), ControlKind::Timer, c, {}),
          interval_(intervalMs),
          enabled_(design == Design::Enabled) {}
    int interval() const { return interval_; }
    bool enabled() const { return enabled_; }
    // Enabling an enabled timer changes nothing; a new interval restarts it.
    void setEnabled(bool on);
    void setInterval(int ms);
    Handler onTick;
    // Delivered by the TimerBinder. A tick that comes while this timer's
    // handler runs is dropped: a handler that sets its own interval gets a
    // new queue entry, not marked as running, and a modal box or dialog it
    // opens pumps the loop, yet a tick never re-enters its handler.
    void tick();

private:
    int interval_;
    bool enabled_;
    bool ticking_ = false;
};

// The file-open dialog's state: the file name it starts from and returns,
// and its type filter. Showing it is the platform's (Dialogs::openFile).
class FileDialog : public Control {
public:
    FileDialog(Form& f, std::string name) : Control(f, std::move(name), ControlKind::FileDialog, nullptr, {}) {}
    std::string fileName;
    std::string filter;
};

}  // namespace tarnwick
