// The stand-in's window: what a person trying Tarnwick out sees of the node.
//
// It shows the call sign, the transmitter (a lamp, red while keyed, and how
// long it has been keyed), whether the node is listed busy, and the Morse
// texts received; it has switches for the receiver and the two busy flags,
// a DTMF field whose Send raises DTMFString, and Close, which raises
// Closing and quits as EchoLink does when it closes.
#pragma once

#include <QTimer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarnwick::nodesim {

class NodeFace;

class NodeWindow : public QWidget {
    Q_OBJECT

public:
    explicit NodeWindow(NodeFace& face);
    ~NodeWindow() override;

protected:
    // The close box is the Close button: EchoLink closing.
    void closeEvent(QCloseEvent* event) override;

private:
    void refresh();
    void refreshTransmitter();
    void addCwText(const std::string& text);
    void sendDtmf();

    NodeFace& face_;
    QLabel* lamp_;
    QLabel* transmitter_;
    QLabel* listed_;
    QCheckBox* receiving_;
    QCheckBox* busyA_;
    QCheckBox* busyB_;
    QLineEdit* dtmf_;
    QPushButton* send_;
    QListWidget* cwTexts_;
    QTimer lampTimer_;
};

}  // namespace tarnwick::nodesim
