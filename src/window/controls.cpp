#include "window/controls.h"

#include "base/errors.h"
#include "window/form.h"

namespace tarnwick {

Control::Control(Form& form, std::string name, ControlKind kind, Control* container, TwipsRect geometry)
    : form_(form), name_(std::move(name)), kind_(kind), container_(container), geometry_(geometry) {
    form_.registerControl(this);
}

TwipsRect Control::windowGeometry() const {
    TwipsRect r = geometry_;
    for (Control* c = container_; c != nullptr; c = c->container()) {
        r.left += c->geometry().left;
        r.top += c->geometry().top;
    }
    return r;
}

bool Control::outside() const {
    for (const Control* c = this; c != nullptr; c = c->container()) {
        if (c->kind() != ControlKind::Timer && c->geometry().left >= kClientWidthTwips) return true;
    }
    return windowGeometry().left >= kClientWidthTwips;
}

void Control::setForeColour(Colour c) {
    foreColour_ = c;
    notify(Property::ForeColor);
}

void Control::notify(Property p) { form_.notify(*this, p); }

void Control::raise(const Handler& h, const char* event) { form_.raise(*this, event, h); }

void Captioned::setCaption(std::string caption) {
    caption_ = std::move(caption);
    notify(Property::Caption);
}

void CheckBox::setValue(int v) {
    if (v < 0 || v > 2) throw Failure(err::kInvalidPropertyValue, "Invalid property value");
    value_ = v;
    notify(Property::Value);
}

void CheckBox::userToggle() { setValue(value_ == 1 ? 0 : 1); }

void TextBox::setText(std::string text) {
    text_ = std::move(text);
    notify(Property::Text);
    raise(onChange, "Change");
}

void TextBox::setStyle(std::uint32_t style) {
    style_ = style;
    notify(Property::Style);
}

bool TextBox::acceptsUserText(const std::string& proposed) const {
    if (maxLength_ > 0 && static_cast<int>(proposed.size()) > maxLength_ && proposed.size() > text_.size()) {
        return false;
    }
    if (digitsOnly()) {
        for (char ch : proposed) {
            if (ch < '0' || ch > '9') return false;
        }
    }
    return true;
}

bool TextBox::userEdit(const std::string& proposed) {
    if (!acceptsUserText(proposed)) return false;
    setText(proposed);
    return true;
}

bool ScrollBar::inRange(int v) const { return v >= lowEnd() && v <= highEnd(); }

void ScrollBar::setValue(int v) {
    if (!inRange(v)) throw Failure(err::kInvalidPropertyValue, "Invalid property value");
    if (v == value_) return;
    value_ = v;
    notify(Property::Value);
    raise(onChange, "Change");
}

void ScrollBar::setRange(int min, int max) {
    if (min < -32768 || min > 32767 || max < -32768 || max > 32767) throw Failure(err::kOverflow, "Overflow");
    min_ = min;
    max_ = max;
    notify(Property::Range);
    if (value_ < lowEnd()) setValue(lowEnd());
    if (value_ > highEnd()) setValue(highEnd());
}

void ScrollBar::setMax(int v) { setRange(min_, v); }
void ScrollBar::setMin(int v) { setRange(v, max_); }

void ScrollBar::userScroll(int v) {
    if (!inRange(v)) return;
    if (!dragging_) {
        dragging_ = true;
        dragStart_ = value_;
    }
    value_ = v;
    raise(onScroll, "Scroll");
}

void ScrollBar::userChange(int v) {
    if (!inRange(v)) return;
    const int before = dragging_ ? dragStart_ : value_;
    dragging_ = false;
    value_ = v;
    if (v != before) raise(onChange, "Change");
}

void Timer::tick() {
    if (ticking_) return;
    ticking_ = true;
    struct Done {
        bool& ticking;
        ~Done() { ticking = false; }
    } done{ticking_};
    raise(onTick, "Timer");
}

void Timer::setEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    notify(Property::Enabled);
}

void Timer::setInterval(int ms) {
    interval_ = ms;
    notify(Property::Interval);
}

}  // namespace tarnwick
