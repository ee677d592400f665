// Form1, the one working window: the full inventory of its controls.
//
// The names are those the settings keys and the users' files rely on, so they
// stay as they are; the comment at each declaration says what it holds.
// Geometry is in twips relative to the container; the frames Frame1 and
// Frame5 sit on the window over the lower part of Frame8.
#pragma once

#include "window/controls.h"

#include <functional>
#include <string>
#include <vector>

namespace tarnwick {

// Background colours of the desktop scheme that some boxes use.
inline constexpr Colour kTooltipBack = 0xE1FFFF;  // pale yellow
inline constexpr Colour kButtonFace = 0xF0F0F0;

class Form {
public:
    Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    // The window caption (set once by start-up).
    const std::string& caption() const { return caption_; }
    void setCaption(std::string caption);

    // Every control, in creation order (containers before their children).
    const std::vector<Control*>& controls() const { return controls_; }
    Control* find(const std::string& name) const;
    std::vector<Timer*> timers() const;

    // Observers see every property change; the platform window is one, the
    // timer binder another.
    void addObserver(ControlObserver* o) { observers_.push_back(o); }
    void removeObserver(ControlObserver* o);

    // All control events pass through the gate (the dispatcher), which runs
    // the handler under the uncaught-error regime. Without a gate handlers
    // run directly.
    using EventGate = std::function<void(Control&, const char* event, const Handler&)>;
    void setEventGate(EventGate gate) { gate_ = std::move(gate); }

    // Used by controls.
    void registerControl(Control* c) { controls_.push_back(c); }
    void notify(Control& c, Property p);
    void raise(Control& c, const char* event, const Handler& h);

private:
    std::string caption_ = "Form1";
    std::vector<Control*> controls_;
    std::vector<ControlObserver*> observers_;
    EventGate gate_;

public:
    // ---- Indicators across the top -------------------------------------
    Label PTT;       // transmitter state, "PTT ON" red / "PTT OFF" green
    Label PTT2;      // "Receiving Signal" or six blanks
    Label ShowTime;  // time of day, the schedule's clock

    // ---- Progress ----------------------------------------------------
    Frame Frame4;
    ScrollBar H1;                   // playback position in whole seconds; Max = file length
    Label Label22;                  // time left, hh:mm:ss
    Label Label10, Label9, Label8;  // scale marks 0% 50% 100%

    CommandButton Command1;  // "Play"
    CommandButton Command2;  // "Stop"
    CommandButton Command4;  // "Resume"

    // ---- The file and the schedule -----------------------------------
    Frame Frame8;
    TextBox Text4;                                       // path of the media file to transmit
    CommandButton Command3;                              // "Load File"
    CheckBox Sun3, Mon3, Tue3, Wed3, Thur3, Fri3, Sat3;  // schedule weekdays
    Timer Timer2;                                        // 1 s: clock and schedule
    Frame Frame9;
    TextBox Hour3;  // schedule hour, digits only
    TextBox Mins3;  // schedule minutes, digits only
    Frame Frame7;
    TextBox DTMFInfo3;  // the DTMF command code

    // ---- Volume --------------------------------------------------------
    Frame Frame1;
    ScrollBar V1;    // volume, 1/100 dB, -3000..0
    TextBox VolSet;  // the volume as text (settings key VOLSET)
    Label Label7, Label6, Label5;
    Label Label21;

    // ---- Timed beacon (group 6) ----------------------------------------
    Frame Frame5;
    Label Label20;
    TextBox BeaconPeriod6;   // minutes between file beacons
    Label BeaconSeconds6;    // seconds left to the next beacon
    CheckBox StopClock6;     // "Use": the count runs
    CommandButton Command6;  // "Send Now"
    Timer Beacon6;           // 1 s countdown

    // ---- CW ident (group 7) ----------------------------------------------
    Frame Frame11;
    TextBox CWCallsign;  // text the node sends in Morse
    Label Label14;
    TextBox BeaconPeriod7;  // minutes between idents
    Label BeaconSeconds7;   // seconds left to the next ident
    CheckBox StopClock7;    // "Use"
    CommandButton SendCW;   // "Send ID"
    Timer Beacon7;          // 1 s countdown

    // ---- Node status ---------------------------------------------------
    Frame Frame10;
    CheckBox Check2;  // 1: hold automatic transmissions while the node is in use

    // ---- Buttons along the bottom --------------------------------------
    CommandButton Command7;     // "About"
    CommandButton Command5;     // "Save"
    CommandButton SaveAndExit;  // "Save / Exit"

    // ---- Outside the visible area ---------------------------------------
    CheckBox ListAsBusyCheck;  // list the node busy while transmitting
    Label Label11, Label12, Label13;
    TextBox Text1;  // length as seconds text
    TextBox Text2;  // playing position as seconds text
    TextBox Text3;  // loaded file's length as seconds text

    Frame Frame6;  // transmit break (group 8)
    Label Label15;
    TextBox BeaconPeriod8;  // keyed minutes between breaks
    Label Label16;
    TextBox Text6;  // break length
    Label Label17;
    CheckBox StopClock8;  // "Use": both break counts run
    Label Label19;
    Label BeaconSeconds8;  // keyed seconds left to the next break
    Label Label18;         // break countdown
    Timer Beacon8;         // 1 s: counts keyed seconds
    Timer Timer3;          // break countdown and re-key

    Frame Frame3;  // balance
    ScrollBar H2;  // balance, 1/100 dB, -5000..5000
    Label Label1;

    Frame Frame2;  // speed
    ScrollBar V2;  // speed percent, 200 at the top, 10 at the bottom
    Label Label2, Label3, Label4;

    Timer Timer1;  // 10 ms progress tick
    Timer Timer4;  // 100 ms receiving-signal indicator
    Timer Timer5;  // 100 ms PTT indicator

    FileDialog CommonDialog1;  // the file-open dialog
};

}  // namespace tarnwick
