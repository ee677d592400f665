#include "window/form.h"

#include <algorithm>

namespace tarnwick {

namespace {
constexpr Colour kBeaconGreen = 0x008000;
constexpr Colour kNavy = 0x800000;
constexpr Colour kDarkNavy = 0x400000;
constexpr Colour kDarkGreen = 0x004000;
constexpr Colour kVolumeFrame = 0x404080;
constexpr Colour kVolumeLabels = 0x004080;
constexpr Colour kMaroon = 0x000080;
}  // namespace

// Members are built in declaration order, so each container exists before its
// children. Geometry of controls inside a frame is relative to that frame.
Form::Form()
    : PTT(*this, "PTT", nullptr, {2520, 120, 1215, 255}, "PTT OFF"),
      PTT2(*this, "PTT2", nullptr, {120, 120, 2055, 255}, "Label21"),
      ShowTime(*this, "ShowTime", nullptr, {4560, 120, 1215, 255}, "00:00:00"),

      Frame4(*this, "Frame4", nullptr, {120, 480, 6015, 1095}, "Progress"),
      H1(*this, "H1", ControlKind::HScrollBar, &Frame4, {120, 420, 5775, 255}, 0, 0, 1, 10, 0),
      Label22(*this, "Label22", &Frame4, {120, 720, 1935, 255}, "00:00:00"),
      Label10(*this, "Label10", &Frame4, {120, 210, 495, 195}, "0%"),
      Label9(*this, "Label9", &Frame4, {2760, 210, 495, 195}, "50%"),
      Label8(*this, "Label8", &Frame4, {5400, 210, 495, 195}, "100%"),

      Command1(*this, "Command1", nullptr, {2400, 1200, 855, 255}, "Play"),
      Command2(*this, "Command2", nullptr, {3480, 1200, 855, 255}, "Stop"),
      Command4(*this, "Command4", nullptr, {4560, 1200, 855, 255}, "Resume"),

      Frame8(*this, "Frame8", nullptr, {120, 1680, 6015, 2775}, "The file you selected"),
      Text4(*this, "Text4", &Frame8, {120, 240, 4815, 285}, "Cleck the File button to select a file"),
      Command3(*this, "Command3", &Frame8, {5040, 240, 855, 285}, "Load File"),
      Sun3(*this, "Sun3", &Frame8, {120, 630, 780, 255}, "Sun"),
      Mon3(*this, "Mon3", &Frame8, {960, 630, 780, 255}, "Mon"),
      Tue3(*this, "Tue3", &Frame8, {1800, 630, 780, 255}, "Tue"),
      Wed3(*this, "Wed3", &Frame8, {2640, 630, 780, 255}, "Wed"),
      Thur3(*this, "Thur3", &Frame8, {3480, 630, 780, 255}, "Thur"),
      Fri3(*this, "Fri3", &Frame8, {4320, 630, 780, 255}, "Fri"),
      Sat3(*this, "Sat3", &Frame8, {5160, 630, 780, 255}, "Sat"),
      Timer2(*this, "Timer2", &Frame8, 1000, Timer::Design::Enabled),
      Frame9(*this, "Frame9", &Frame8, {3600, 1080, 1095, 975}, "Hour : Mins"),
      Hour3(*this, "Hour3", &Frame9, {120, 360, 375, 285}, "24"),
      Mins3(*this, "Mins3", &Frame9, {600, 360, 375, 285}, "00"),
      Frame7(*this, "Frame7", &Frame8, {4800, 1080, 1095, 975}, "DTMF"),
      DTMFInfo3(*this, "DTMFInfo3", &Frame7, {120, 360, 855, 285}, "AA"),

      Frame1(*this, "Frame1", nullptr, {240, 2760, 3375, 975}, "Volume"),
      V1(*this, "V1", ControlKind::HScrollBar, &Frame1, {120, 420, 3135, 255}, -3000, 0, 50, 1, 0),
      VolSet(*this, "VolSet", &Frame1, {2400, 690, 855, 240}, "Text4"),
      Label7(*this, "Label7", &Frame1, {120, 210, 495, 195}, "0%"),
      Label6(*this, "Label6", &Frame1, {1440, 210, 495, 195}, "50%"),
      Label5(*this, "Label5", &Frame1, {2760, 210, 495, 195}, "100%"),
      Label21(*this, "Label21", &Frame1, {120, 720, 2175, 195}, "Independent to link volume "),

      Frame5(*this, "Frame5", nullptr, {240, 3840, 5775, 615}, "Timed Beacon"),
      Label20(*this, "Label20", &Frame5, {120, 270, 1695, 195}, "Transmit Beacon Every"),
      BeaconPeriod6(*this, "BeaconPeriod6", &Frame5, {1860, 225, 495, 285}, "15"),
      BeaconSeconds6(*this, "BeaconSeconds6", &Frame5, {2460, 240, 855, 255}, "15"),
      StopClock6(*this, "StopClock6", &Frame5, {3480, 240, 735, 255}, "Use"),
      Command6(*this, "Command6", &Frame5, {4440, 210, 1215, 300}, "Send Now"),
      Beacon6(*this, "Beacon6", &Frame5, 1000, Timer::Design::Enabled),

      Frame11(*this, "Frame11", nullptr, {120, 4680, 6015, 615}, "CW Ident Callsign"),
      CWCallsign(*this, "CWCallsign", &Frame11, {120, 225, 1695, 285}, "Text1"),
      Label14(*this, "Label14", &Frame11, {1920, 270, 735, 195}, "ID Every"),
      BeaconPeriod7(*this, "BeaconPeriod7", &Frame11, {2700, 225, 495, 285}, "15"),
      BeaconSeconds7(*this, "BeaconSeconds7", &Frame11, {3300, 240, 855, 255}, "15"),
      StopClock7(*this, "StopClock7", &Frame11, {4260, 240, 735, 255}, "Use"),
      SendCW(*this, "SendCW", &Frame11, {5040, 210, 855, 300}, "Send ID"),
      Beacon7(*this, "Beacon7", &Frame11, 1000, Timer::Design::Enabled),

      Frame10(*this, "Frame10", nullptr, {120, 5400, 6015, 615}, "Set Node Status "),
      Check2(*this, "Check2", &Frame10, {120, 240, 3975, 255}, "If node in use dont send file"),

      Command7(*this, "Command7", nullptr, {120, 6120, 1215, 255}, "About"),
      Command5(*this, "Command5", nullptr, {1440, 6120, 2175, 255}, "Save"),
      SaveAndExit(*this, "SaveAndExit", nullptr, {3720, 6120, 2415, 255}, "Save / Exit"),

      ListAsBusyCheck(*this, "ListAsBusyCheck", nullptr, {6720, 3480, 3015, 255}, "Set The Node Busy During TX"),
      Label11(*this, "Label11", nullptr, {6960, 240, 855, 195}, "Time Left :"),
      Label12(*this, "Label12", nullptr, {6960, 480, 855, 195}, "Time Used :"),
      Label13(*this, "Label13", nullptr, {6960, 720, 855, 195}, "Lenght :"),
      Text1(*this, "Text1", nullptr, {7920, 240, 735, 165}, "00:00:00"),
      Text2(*this, "Text2", nullptr, {7920, 480, 735, 165}, "00:00:00"),
      Text3(*this, "Text3", nullptr, {7920, 720, 735, 165}, "00:00:00"),

      Frame6(*this, "Frame6", nullptr, {6480, 2520, 6015, 735},
             "Allow Break in Transmission. For Radios with Built in Time out"),
      Label15(*this, "Label15", &Frame6, {120, 300, 495, 195}, "Every"),
      BeaconPeriod8(*this, "BeaconPeriod8", &Frame6, {600, 240, 375, 285}, "5"),
      Label16(*this, "Label16", &Frame6, {1080, 300, 855, 195}, "Mins    For "),
      Text6(*this, "Text6", &Frame6, {2040, 240, 615, 285}, "100"),
      Label17(*this, "Label17", &Frame6, {2760, 300, 975, 195}, "Milliseconds"),
      StopClock8(*this, "StopClock8", &Frame6, {3840, 240, 735, 255}, "Use"),
      Label19(*this, "Label19", &Frame6, {4680, 120, 1215, 195}, "Sec       M/Sec"),
      BeaconSeconds8(*this, "BeaconSeconds8", &Frame6, {4680, 360, 615, 255}, "10"),
      Label18(*this, "Label18", &Frame6, {5400, 360, 495, 255}, "100"),
      Beacon8(*this, "Beacon8", &Frame6, 1000, Timer::Design::Enabled),
      Timer3(*this, "Timer3", &Frame6, 1, Timer::Design::Disabled),

      Frame3(*this, "Frame3", nullptr, {6960, 1080, 1815, 735}, "Balance"),
      H2(*this, "H2", ControlKind::HScrollBar, &Frame3, {120, 240, 1575, 255}, -5000, 5000, 10, 100, 0),
      Label1(*this, "Label1", &Frame3, {120, 480, 1575, 195}, "Left      Center     Right"),

      Frame2(*this, "Frame2", nullptr, {8880, 120, 975, 1935}, "Speed"),
      V2(*this, "V2", ControlKind::VScrollBar, &Frame2, {120, 240, 255, 1575}, 200, 10, 3, 40, 100),
      Label2(*this, "Label2", &Frame2, {420, 240, 495, 195}, "200%"),
      Label3(*this, "Label3", &Frame2, {420, 930, 495, 195}, "100%"),
      Label4(*this, "Label4", &Frame2, {420, 1620, 495, 195}, "<50%"),

      Timer1(*this, "Timer1", nullptr, 10, Timer::Design::Enabled),
      Timer4(*this, "Timer4", nullptr, 100, Timer::Design::Enabled),
      Timer5(*this, "Timer5", nullptr, 100, Timer::Design::Enabled),
      CommonDialog1(*this, "CommonDialog1") {
    PTT.setFont(9.75, Control::Weight::Bold);
    ShowTime.setFont(12, Control::Weight::Normal);
    ShowTime.setAlignment(Align::Centre);
    Label22.setAlignment(Align::Centre);

    Hour3.setAlignment(Align::Centre);
    Hour3.setMaxLength(2);
    Mins3.setAlignment(Align::Centre);
    Mins3.setMaxLength(2);
    VolSet.setAlignment(Align::Centre);
    BeaconPeriod6.setAlignment(Align::Centre);
    BeaconPeriod6.setMaxLength(3);
    BeaconSeconds6.setAlignment(Align::Centre);
    BeaconSeconds6.setFont(9.75, Control::Weight::Normal);
    BeaconPeriod7.setAlignment(Align::Centre);
    BeaconPeriod7.setMaxLength(3);
    BeaconSeconds7.setAlignment(Align::Centre);
    BeaconSeconds7.setFont(9.75, Control::Weight::Normal);
    BeaconPeriod8.setAlignment(Align::Centre);
    BeaconPeriod8.setMaxLength(3);
    Text6.setAlignment(Align::Centre);

    for (Control* c : {static_cast<Control*>(&Label20), static_cast<Control*>(&BeaconSeconds6),
                       static_cast<Control*>(&StopClock6), static_cast<Control*>(&BeaconPeriod6)}) {
        c->setForeColour(kBeaconGreen);
    }
    Check2.setForeColour(kNavy);
    VolSet.setForeColour(kNavy);
    Frame10.setForeColour(kDarkNavy);
    Frame5.setForeColour(kDarkGreen);
    Frame1.setForeColour(kVolumeFrame);
    for (Label* l : {&Label7, &Label6, &Label5, &Label21}) l->setForeColour(kVolumeLabels);
    Frame8.setForeColour(kMaroon);
    Text4.setForeColour(kMaroon);

    for (TextBox* t : {&BeaconPeriod6, &BeaconPeriod7, &CWCallsign, &DTMFInfo3, &Hour3, &Mins3, &Text4, &VolSet}) {
        t->setBackColour(kTooltipBack);
    }
    for (TextBox* t : {&Text1, &Text2, &Text3}) t->setBackColour(kButtonFace);
}

void Form::setCaption(std::string caption) {
    caption_ = std::move(caption);
    auto observers = observers_;
    for (ControlObserver* o : observers) o->captionChanged(caption_);
}

Control* Form::find(const std::string& name) const {
    for (Control* c : controls_) {
        if (c->name() == name) return c;
    }
    return nullptr;
}

std::vector<Timer*> Form::timers() const {
    std::vector<Timer*> out;
    for (Control* c : controls_) {
        if (c->kind() == ControlKind::Timer) out.push_back(static_cast<Timer*>(c));
    }
    return out;
}

void Form::removeObserver(ControlObserver* o) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), o), observers_.end());
}

void Form::notify(Control& c, Property p) {
    // Copy: an observer may remove itself while being told.
    auto observers = observers_;
    for (ControlObserver* o : observers) o->controlChanged(c, p);
}

void Form::raise(Control& c, const char* event, const Handler& h) {
    if (!h) return;
    if (gate_) {
        gate_(c, event, h);
    } else {
        h();
    }
}

}  // namespace tarnwick
