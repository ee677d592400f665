// The stand-in's D-Bus face: NodeSim's operations as bus methods.
//
//   /org/tarnwick/Node             org.tarnwick.Node       the node
//   /org/tarnwick/Node/SysopInfo   org.tarnwick.SysopInfo  GetCallsign() -> s
//   /org/tarnwick/NodeSim          org.tarnwick.NodeSim    the --ctl commands
//
// Booleans are int16 ("n"). A call made to fail gets the error reply
// org.tarnwick.Node.Error.Failed. Everything runs on the main thread: Qt
// delivers bus calls to these objects from the event loop.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include "nodesim/node_sim.h"

namespace tarnwick::nodesim {

class NodeFace;

// org.tarnwick.Node on /org/tarnwick/Node.
class NodeObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tarnwick.Node")

public:
    NodeObject(NodeSim& sim, QObject* parent);
    // Where the unique bus names of the node's callers are collected.
    void setCallers(QSet<QString>* callers) { callers_ = callers; }

public Q_SLOTS:
    Q_SCRIPTABLE void SetPtt(qint16 on);
    Q_SCRIPTABLE qint16 GetBusyFlagA();
    Q_SCRIPTABLE qint16 GetReceivingSignal();
    Q_SCRIPTABLE qint16 GetPttState();
    Q_SCRIPTABLE qint16 GetBusyFlagB();
    Q_SCRIPTABLE void SendCwText(int mode, const QDBusVariant& text);
    Q_SCRIPTABLE QDBusObjectPath GetSysopInfo();
    Q_SCRIPTABLE void SetListedBusy(qint16 busy);

Q_SIGNALS:
    Q_SCRIPTABLE void DTMFString(const QString& digits);
    Q_SCRIPTABLE void Closing();

private:
    qint16 answer(Operation op, std::optional<Bool16> value);
    void failUnless(Operation op, bool answered);
    void noteCaller();

    NodeSim& sim_;
    QSet<QString>* callers_ = nullptr;
};

// org.tarnwick.SysopInfo on /org/tarnwick/Node/SysopInfo.
class SysopInfoObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tarnwick.SysopInfo")

public:
    SysopInfoObject(NodeSim& sim, QObject* parent);

public Q_SLOTS:
    Q_SCRIPTABLE QString GetCallsign();

private:
    NodeSim& sim_;
};

// org.tarnwick.NodeSim on /org/tarnwick/NodeSim: what --ctl calls. These
// calls are not node calls and are not traced; the events they raise are.
class ControlObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tarnwick.NodeSim")

public:
    ControlObject(NodeFace& face, QObject* parent);

public Q_SLOTS:
    Q_SCRIPTABLE void Dtmf(const QString& digits);
    Q_SCRIPTABLE void SetRx(bool on);
    Q_SCRIPTABLE void SetBusyA(bool on);
    Q_SCRIPTABLE void SetBusyB(bool on);
    Q_SCRIPTABLE void Fail(const QString& operation);
    Q_SCRIPTABLE void Stall(int ms);
    // Raises Closing, answers, then the stand-in quits.
    Q_SCRIPTABLE void Close();
    // Raises Closing, answers, and the stand-in ends there and then.
    Q_SCRIPTABLE void Vanish();
    Q_SCRIPTABLE QString State();

private:
    NodeFace& face_;
};

// Owns the exported objects and the bus name, and raises the node's events
// for the window and the control.
class NodeFace : public QObject {
    Q_OBJECT

public:
    NodeFace(NodeSim& sim, QDBusConnection bus);
    ~NodeFace() override;

    // Exports the objects, then claims the bus name, so that the node is
    // complete the moment the name appears. Returns an empty string, or a
    // sentence saying why the stand-in cannot run (no bus, the name is
    // owned by another program).
    QString start();

    NodeSim& sim() { return sim_; }

    // Traces the event, then sends the signal.
    void raiseDtmf(const QString& digits);
    void raiseClosing();
    // Raises Closing (once), makes sure the signal has left for the bus,
    // and ends the event loop once every program that called the node has
    // left the bus (at most kClosingGraceMs later). Until then the node
    // still answers: a closing node hears out the unkey and the last calls
    // of its clients, as a real one does while its closing event runs.
    // Safe to call again.
    void closeAndQuit();
    static constexpr int kClosingGraceMs = 5000;
    bool quitting() const { return quitting_; }
    // Raises Closing (once), sends `answer` (the --ctl call's reply), and
    // ends the process as soon as both have left for the bus, without
    // answering anything more: a node program that does not wait for its
    // clients. No event is handled in between.
    [[noreturn]] void vanish(const QDBusMessage& answer);

private:
    // Returns once the bus daemon has taken every message sent so far: it
    // handles one connection's messages in order, so its answer to a ping
    // comes after it has routed the earlier ones.
    void flush();
    void quitIfBusLost();
    void quitWhenCallersGone();

    NodeSim& sim_;
    QDBusConnection bus_;
    NodeObject* node_;
    SysopInfoObject* sysopInfo_;
    ControlObject* control_;
    QTimer busWatch_;
    QTimer callersWatch_;
    QElapsedTimer closingSince_;
    QSet<QString> callers_;
    bool ownsName_ = false;
    bool closing_ = false;
    bool quitting_ = false;
};

}  // namespace tarnwick::nodesim
