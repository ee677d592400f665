// The main window's frame as the window system sees it: where it is, which
// screens exist, and when it is shown. The window's controls and caption
// are in the window model; this seam only places and shows the window.
#pragma once

#include "window/controls.h"

#include <vector>

namespace tarnwick {

class WindowFrame {
public:
    virtual ~WindowFrame() = default;

    // Places the window's outer top-left corner, in twips of the virtual
    // desktop (negative on a screen left of or above the main one).
    virtual void moveTo(int leftTwips, int topTwips) = 0;

    // The outer top-left corner of the window in its normal (restored)
    // state, also while it is minimised.
    virtual int left() const = 0;
    virtual int top() const = 0;
    // The outer size, in twips.
    virtual int outerWidth() const = 0;
    virtual int outerHeight() const = 0;

    // The work areas of the attached screens, in twips; the first is the
    // primary screen.
    virtual std::vector<TwipsRect> screens() const = 0;

    // Shows the window (the end of start-up).
    virtual void show() = 0;
};

}  // namespace tarnwick
