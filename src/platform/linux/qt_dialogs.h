// Message boxes, the file-open dialog and the about window on Qt Widgets.
//
// The modal ones run a nested Qt loop (exec), inside which QtEventLoop keeps
// delivering the system's timers and the bus keeps delivering node events.
// They are owned by the main window once it is on screen; before that (the
// start-up messages) they stand alone, centred on the screen.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>

#include "seams/dialogs.h"

class QLabel;
class QPlainTextEdit;
class QWidget;

namespace tarnwick {

// Turns a file-type filter of the form "description|pattern;pattern", with
// further "|description|patterns" pairs allowed, into Qt name filters
// "description (pattern pattern)". A filter without a bar is one entry whose
// description is the patterns themselves.
QStringList toQtNameFilters(const std::string& filter);

class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* owner = nullptr);
    ~QtDialogs() override;

    // The window that owns the dialogs (the main window).
    void setOwner(QWidget* owner) { owner_ = owner; }

    // Buttons: mb::kYesNo gives Yes and No (Yes is the default, No answers
    // Escape and the title bar's close); any other value gives OK. Icons:
    // error, question, exclamation, information, or none. "\r\n" in `text`
    // breaks the line. Application-modal.
    MsgResult messageBox(const std::string& text, const std::string& title, int style) override;

    // Qt's own dialog (not the desktop's, so that it works on any X server),
    // titled "Open", for an existing file. The filter's descriptions are
    // shown exactly as given. Returns "" on Cancel.
    std::string openFile(const std::string& fileName, const std::string& filter) override;

    // A small window with the product, version, summary and a link that
    // opens in the browser, and the station log: where it is, why it cannot
    // be written (if so), and its latest lines in a fixed-width font. Made
    // on first use, refreshed and raised on later calls.
    void showAbout(const AboutInfo& info) override;
    static constexpr int kLogLinesShown = 20;

    // The about window once it exists (for tests).
    QDialog* aboutWindow() const { return about_; }

private:
    QWidget* visibleOwner() const;
    QWidget* makeLogBox();
    void showLog(const AboutInfo& info);
    void placeAbout();

    QPointer<QWidget> owner_;
    QPointer<QDialog> about_;
    QLabel* aboutProduct_ = nullptr;
    QLabel* aboutVersion_ = nullptr;
    QLabel* aboutSummary_ = nullptr;
    QLabel* aboutLink_ = nullptr;
    QLabel* aboutLogPlace_ = nullptr;
    QLabel* aboutLogProblem_ = nullptr;
    QPlainTextEdit* aboutLog_ = nullptr;
    bool aboutPlaced_ = false;
};

}  // namespace tarnwick
