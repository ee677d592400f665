#include "nodesim/linux/qt_node_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QTime>
#include <QVBoxLayout>

#include "nodesim/linux/dbus_node_face.h"

namespace tarnwick::nodesim {

namespace {

constexpr int kMaxCwRows = 200;
constexpr int kLampSize = 14;

QString lampStyle(bool keyed) {
    return QStringLiteral("border-radius: %1px; border: 1px solid %2; background: %3;")
        .arg(kLampSize / 2)
        .arg(keyed ? QStringLiteral("#7a0000") : QStringLiteral("#5a5a5a"))
        .arg(keyed ? QStringLiteral("#e01010") : QStringLiteral("#9a9a9a"));
}

QString clockText(std::int64_t ms) {
    const std::int64_t s = ms / 1000;
    const QString mmss =
        QStringLiteral("%1:%2").arg((s / 60) % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
    return s >= 3600 ? QStringLiteral("%1:%2").arg(s / 3600).arg(mmss) : mmss;
}

}  // namespace

NodeWindow::NodeWindow(NodeFace& face) : face_(face) {
    NodeSim& sim = face_.sim();
    setWindowTitle(QStringLiteral("Stand-in node - %1").arg(QString::fromStdString(sim.callsign())));

    auto* callsign = new QLabel(QString::fromStdString(sim.callsign()));
    QFont big = callsign->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    callsign->setFont(big);
    callsign->setTextInteractionFlags(Qt::TextSelectableByMouse);

    lamp_ = new QLabel;
    lamp_->setFixedSize(kLampSize, kLampSize);
    transmitter_ = new QLabel;
    auto* transmitterRow = new QHBoxLayout;
    transmitterRow->setSpacing(6);
    transmitterRow->addWidget(lamp_);
    transmitterRow->addWidget(transmitter_, 1);
    listed_ = new QLabel;

    auto* status = new QFormLayout;
    status->setLabelAlignment(Qt::AlignLeft);
    status->addRow(QStringLiteral("Transmitter:"), transmitterRow);
    status->addRow(QStringLiteral("Listed:"), listed_);

    receiving_ = new QCheckBox(QStringLiteral("Receiving a signal"));
    busyA_ = new QCheckBox(QStringLiteral("Busy flag A"));
    busyB_ = new QCheckBox(QStringLiteral("Busy flag B"));
    auto* switches = new QGroupBox(QStringLiteral("Switches"));
    auto* switchesLayout = new QVBoxLayout(switches);
    switchesLayout->addWidget(receiving_);
    switchesLayout->addWidget(busyA_);
    switchesLayout->addWidget(busyB_);
    connect(receiving_, &QCheckBox::toggled, this, [&sim](bool on) { sim.setReceiving(on); });
    connect(busyA_, &QCheckBox::toggled, this, [&sim](bool on) { sim.setBusyA(on); });
    connect(busyB_, &QCheckBox::toggled, this, [&sim](bool on) { sim.setBusyB(on); });

    dtmf_ = new QLineEdit;
    dtmf_->setPlaceholderText(QStringLiteral("digits, e.g. 1234"));
    dtmf_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Da-d*#]{0,32}")), dtmf_));
    send_ = new QPushButton(QStringLiteral("Send"));
    send_->setEnabled(false);
    auto* dtmfBox = new QGroupBox(QStringLiteral("DTMF received"));
    auto* dtmfLayout = new QHBoxLayout(dtmfBox);
    dtmfLayout->addWidget(dtmf_, 1);
    dtmfLayout->addWidget(send_);
    connect(dtmf_, &QLineEdit::textChanged, this, [this](const QString& t) { send_->setEnabled(!t.isEmpty()); });
    connect(dtmf_, &QLineEdit::returnPressed, this, &NodeWindow::sendDtmf);
    connect(send_, &QPushButton::clicked, this, &NodeWindow::sendDtmf);

    cwTexts_ = new QListWidget;
    cwTexts_->setSelectionMode(QAbstractItemView::NoSelection);
    cwTexts_->setMinimumHeight(cwTexts_->fontMetrics().height() * 5);
    auto* cwBox = new QGroupBox(QStringLiteral("Morse sent (%1 wpm)").arg(sim.cwWpm()));
    auto* cwLayout = new QVBoxLayout(cwBox);
    cwLayout->addWidget(cwTexts_);

    auto* close = new QPushButton(QStringLiteral("Close"));
    close->setToolTip(QStringLiteral("Raise Closing, as EchoLink does when it closes, and quit"));
    connect(close, &QPushButton::clicked, &face_, &NodeFace::closeAndQuit);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(callsign);
    layout->addLayout(status);
    layout->addWidget(switches);
    layout->addWidget(dtmfBox);
    layout->addWidget(cwBox, 1);
    layout->addLayout(buttons);

    sim.onChange = [this] { refresh(); };
    sim.onCwText = [this](const std::string& text) { addCwText(text); };
    // The lamp goes out by itself when Morse ends, so it is polled.
    lampTimer_.setInterval(100);
    connect(&lampTimer_, &QTimer::timeout, this, &NodeWindow::refreshTransmitter);
    lampTimer_.start();
    refresh();
    // Room for about six Morse rows; the list takes any height added.
    resize(340, minimumSizeHint().height() + cwTexts_->fontMetrics().height() * 2);
}

NodeWindow::~NodeWindow() {
    face_.sim().onChange = nullptr;
    face_.sim().onCwText = nullptr;
}

void NodeWindow::closeEvent(QCloseEvent* event) {
    // Qt asks the windows to close when the loop quits; by then the node
    // has raised Closing and the close must go through.
    if (face_.quitting()) {
        event->accept();
        return;
    }
    event->ignore();
    face_.closeAndQuit();
}

void NodeWindow::refresh() {
    const NodeSim& sim = face_.sim();
    refreshTransmitter();
    listed_->setText(sim.listedBusy() ? QStringLiteral("busy") : QStringLiteral("free"));
    // The switches also move under --ctl; blocking keeps that from echoing
    // back as a user change.
    const QSignalBlocker r(receiving_), a(busyA_), b(busyB_);
    receiving_->setChecked(sim.receiving());
    busyA_->setChecked(sim.busyA());
    busyB_->setChecked(sim.busyB());
}

void NodeWindow::refreshTransmitter() {
    const NodeSim& sim = face_.sim();
    const auto keyedFor = sim.keyedForMs();
    lamp_->setStyleSheet(lampStyle(keyedFor.has_value()));
    if (!keyedFor) {
        transmitter_->setText(QStringLiteral("off"));
    } else {
        const QString why = sim.pttHeld() ? QString() : QStringLiteral(" (sending Morse)");
        transmitter_->setText(QStringLiteral("keyed %1%2").arg(clockText(*keyedFor), why));
    }
}

void NodeWindow::addCwText(const std::string& text) {
    cwTexts_->addItem(QStringLiteral("%1  %2").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")),
                                                   QString::fromStdString(text)));
    while (cwTexts_->count() > kMaxCwRows) delete cwTexts_->takeItem(0);
    cwTexts_->scrollToBottom();
}

void NodeWindow::sendDtmf() {
    const QString digits = dtmf_->text().toUpper();
    if (digits.isEmpty()) return;
    face_.raiseDtmf(digits);
    dtmf_->clear();
}

}  // namespace tarnwick::nodesim
