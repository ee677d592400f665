// The main window of the Linux program: Qt widgets bound to the window model.
//
// The model (window/form.h) is the one source of truth. The window draws it
// and reports what the user did, never more:
//   * downwards, every property change the model announces is copied into
//     the control's widget (controlChanged); signals the widgets raise while
//     that happens are ignored, so nothing echoes back into the model;
//   * upwards, user input enters only through the controls' user* entries
//     (TextBox::userEdit, CheckBox::userToggle, CommandButton::userClick,
//     ScrollBar::userScroll / userChange), which apply the edit and raise the
//     control's event; a refused edit puts the widget back.
// Controls that lie outside the visible client area, timers and the file
// dialog get no widget; they live in the model only.
//
// The window also is the WindowFrame seam: its position in twips, the
// screens, and showing it at the end of start-up.
#pragma once

#include <QIcon>
#include <QPoint>
#include <QWidget>
#include <functional>
#include <map>
#include <string>

#include "seams/window_frame.h"
#include "window/controls.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace tarnwick {

class Form;
class ScrollBar;
class TextBox;

// The program's icon (a mast sending waves), drawn in code.
QIcon tarnwickIcon();

// Pixels from twips and back, at 15 twips per pixel.
int twipsToPixels(int twips);
int pixelsToTwips(int pixels);

class QtMainWindow : public QWidget, public ControlObserver, public WindowFrame {
    Q_OBJECT
public:
    // A hidden, fixed-size window with a minimise box and no maximise box.
    explicit QtMainWindow(QWidget* parent = nullptr);
    ~QtMainWindow() override;

    // Builds a widget for every visible control of `form`, copies the
    // model's state into them and starts observing the form. Called once,
    // before start-up; `form` must outlive the window.
    void bind(Form& form);

    // The widget that shows `control`, or nullptr when it has none.
    QWidget* widgetFor(const Control& control) const;

    // Called whenever the window system asks the window to close (close box,
    // system menu, session log-off). The window never closes by itself: the
    // callback either ends the program or returns to keep it running. A
    // request arriving while an earlier one is still being answered is
    // dropped.
    std::function<void()> onCloseRequested;

    // ControlObserver.
    void controlChanged(Control& control, Property property) override;
    void captionChanged(const std::string& caption) override;

    // WindowFrame. Positions are the outer (frame) top-left corner; without a
    // window manager the frame is the client area.
    void moveTo(int leftTwips, int topTwips) override;
    int left() const override;
    int top() const override;
    int outerWidth() const override;
    int outerHeight() const override;
    std::vector<TwipsRect> screens() const override;
    void show() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    QWidget* createWidget(Control& control, QWidget* parent);
    QLineEdit* createTextBox(TextBox& box, QWidget* parent);
    QScrollBar* createScrollBar(ScrollBar& bar, QWidget* parent);
    void refresh(Control& control, QWidget* widget);
    void refreshScrollBar(ScrollBar& bar, QScrollBar* widget);
    void refreshTextLimits(TextBox& box, QLineEdit* edit);
    void applyLook(Control& control, QWidget* widget);
    void askToClose();
    QPoint normalTopLeft() const;

    Form* form_ = nullptr;
    std::map<const Control*, QWidget*> widgets_;
    // Set while the model's state is copied into the widgets: signals the
    // widgets raise meanwhile are not user input.
    bool updating_ = false;
    bool askingToClose_ = false;
    bool lookReset_ = false;  // refresh must fit the font again
    // Where the window was last seen in its normal state, for left()/top()
    // while it is minimised.
    QPoint lastNormalPos_;
};

}  // namespace tarnwick
