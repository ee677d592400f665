#include "nodesim/linux/dbus_node_face.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <cstdio>
#include <cstdlib>

#include "nodesim/linux/dbus_names.h"

namespace tarnwick::nodesim {

namespace {

QString failedText(Operation op) {
    return QStringLiteral("%1 failed: the stand-in was told to fail it (--ctl fail)")
        .arg(QLatin1String(operationName(op)));
}

std::string utf8(const QString& s) { return s.toUtf8().toStdString(); }

}  // namespace

// ---- org.tarnwick.Node ----------------------------------------------------

NodeObject::NodeObject(NodeSim& sim, QObject* parent) : QObject(parent), sim_(sim) {}

void NodeObject::noteCaller() {
    if (callers_ != nullptr && calledFromDBus()) callers_->insert(message().service());
}

qint16 NodeObject::answer(Operation op, std::optional<Bool16> value) {
    noteCaller();
    if (!value) {
        sendErrorReply(QLatin1String(kFailedError), failedText(op));
        return 0;
    }
    return *value;
}

void NodeObject::failUnless(Operation op, bool answered) {
    noteCaller();
    if (!answered) sendErrorReply(QLatin1String(kFailedError), failedText(op));
}

void NodeObject::SetPtt(qint16 on) { failUnless(Operation::SetPtt, sim_.SetPtt(on)); }

qint16 NodeObject::GetBusyFlagA() { return answer(Operation::GetBusyFlagA, sim_.GetBusyFlagA()); }

qint16 NodeObject::GetReceivingSignal() { return answer(Operation::GetReceivingSignal, sim_.GetReceivingSignal()); }

qint16 NodeObject::GetPttState() { return answer(Operation::GetPttState, sim_.GetPttState()); }

qint16 NodeObject::GetBusyFlagB() { return answer(Operation::GetBusyFlagB, sim_.GetBusyFlagB()); }

void NodeObject::SendCwText(int mode, const QDBusVariant& text) {
    const QVariant v = text.variant();
    if (v.metaType().id() != QMetaType::QString) {
        // A COM node would answer a non-string VARIANT with a type mismatch;
        // the caller learns it the same way here.
        const char* type = v.isValid() ? v.metaType().name() : "empty";
        sim_.traceRejected(Operation::SendCwText, std::to_string(mode) + " <" + type + ">");
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("SendCwText: the text must be a string variant"));
        return;
    }
    failUnless(Operation::SendCwText, sim_.SendCwText(mode, utf8(v.toString())));
}

QDBusObjectPath NodeObject::GetSysopInfo() {
    noteCaller();
    if (!sim_.GetSysopInfo()) {
        sendErrorReply(QLatin1String(kFailedError), failedText(Operation::GetSysopInfo));
        return {};
    }
    return QDBusObjectPath(QLatin1String(kSysopInfoPath));
}

void NodeObject::SetListedBusy(qint16 busy) { failUnless(Operation::SetListedBusy, sim_.SetListedBusy(busy)); }

// ---- org.tarnwick.SysopInfo -----------------------------------------------

SysopInfoObject::SysopInfoObject(NodeSim& sim, QObject* parent) : QObject(parent), sim_(sim) {}

QString SysopInfoObject::GetCallsign() {
    const auto callsign = sim_.GetCallsign();
    if (!callsign) {
        sendErrorReply(QLatin1String(kFailedError), failedText(Operation::GetCallsign));
        return {};
    }
    return QString::fromStdString(*callsign);
}

// ---- org.tarnwick.NodeSim -------------------------------------------------

ControlObject::ControlObject(NodeFace& face, QObject* parent) : QObject(parent), face_(face) {}

void ControlObject::Dtmf(const QString& digits) { face_.raiseDtmf(digits); }

void ControlObject::SetRx(bool on) { face_.sim().setReceiving(on); }

void ControlObject::SetBusyA(bool on) { face_.sim().setBusyA(on); }

void ControlObject::SetBusyB(bool on) { face_.sim().setBusyB(on); }

void ControlObject::Fail(const QString& operation) {
    const auto op = parseOperation(utf8(operation));
    if (!op) {
        sendErrorReply(QLatin1String(kUnknownOperationError),
                       QStringLiteral("unknown operation \"%1\" (one of %2)")
                           .arg(operation, QString::fromStdString(operationNames())));
        return;
    }
    face_.sim().failNext(*op);
}

void ControlObject::Stall(int ms) { face_.sim().stallNext(ms); }

void ControlObject::Vanish() {
    // Answered by hand before the end, since the stand-in never returns
    // from here to answer it the usual way.
    setDelayedReply(true);
    face_.vanish(message().createReply());
}

void ControlObject::Close() {
    face_.raiseClosing();
    // Quit only after this call's reply has gone out, so that --ctl close
    // sees success.
    QTimer::singleShot(0, &face_, &NodeFace::closeAndQuit);
}

QString ControlObject::State() { return QString::fromStdString(face_.sim().stateText()); }

// ---- NodeFace -------------------------------------------------------------

NodeFace::NodeFace(NodeSim& sim, QDBusConnection bus)
    : sim_(sim),
      bus_(std::move(bus)),
      node_(new NodeObject(sim, this)),
      sysopInfo_(new SysopInfoObject(sim, this)),
      control_(new ControlObject(*this, this)) {
    // A stand-in whose bus is gone can never be reached again; ending it
    // keeps test runs from leaving orphans behind.
    busWatch_.setInterval(1000);
    connect(&busWatch_, &QTimer::timeout, this, &NodeFace::quitIfBusLost);
    node_->setCallers(&callers_);
    callersWatch_.setInterval(20);
    connect(&callersWatch_, &QTimer::timeout, this, &NodeFace::quitWhenCallersGone);
}

NodeFace::~NodeFace() {
    if (ownsName_ && bus_.isConnected()) bus_.unregisterService(QLatin1String(kBusName));
}

QString NodeFace::start() {
    if (!bus_.isConnected()) {
        return QStringLiteral("cannot reach the session bus (%1)").arg(bus_.lastError().message());
    }
    const auto exported = QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals;
    if (!bus_.registerObject(QLatin1String(kNodePath), node_, exported) ||
        !bus_.registerObject(QLatin1String(kSysopInfoPath), sysopInfo_, exported) ||
        !bus_.registerObject(QLatin1String(kControlPath), control_, exported)) {
        return QStringLiteral("cannot export the node's objects on the session bus");
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus_.interface()->registerService(QLatin1String(kBusName), QDBusConnectionInterface::DontQueueService,
                                          QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        return QStringLiteral("cannot claim %1 on the session bus (%2)")
            .arg(QLatin1String(kBusName), reply.error().message());
    }
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        return QStringLiteral("%1 is already owned on the session bus: another node runs there")
            .arg(QLatin1String(kBusName));
    }
    ownsName_ = true;
    busWatch_.start();
    return {};
}

void NodeFace::raiseDtmf(const QString& digits) {
    sim_.noteDtmf(utf8(digits));
    emit node_->DTMFString(digits);
}

void NodeFace::raiseClosing() {
    if (closing_) return;
    closing_ = true;
    sim_.noteClosing();
    emit node_->Closing();
}

void NodeFace::closeAndQuit() {
    if (quitting_) return;
    quitting_ = true;
    raiseClosing();
    flush();
    closingSince_.start();
    callersWatch_.start();
    quitWhenCallersGone();
}

void NodeFace::vanish(const QDBusMessage& answer) {
    raiseClosing();
    bus_.send(answer);
    // The bus passes on one connection's messages in order: once the ping is
    // answered, Closing and the answer are on their way. Calls that arrive
    // meanwhile wait for the event loop, which never runs again.
    flush();
    std::fflush(nullptr);
    std::_Exit(0);
}

void NodeFace::quitWhenCallersGone() {
    bool anyLeft = false;
    if (bus_.isConnected()) {
        for (const QString& caller : std::as_const(callers_)) {
            if (bus_.interface()->isServiceRegistered(caller).value()) {
                anyLeft = true;
                break;
            }
        }
    }
    if (anyLeft && closingSince_.elapsed() < kClosingGraceMs) return;
    callersWatch_.stop();
    if (ownsName_) {
        bus_.unregisterService(QLatin1String(kBusName));
        ownsName_ = false;
    }
    QCoreApplication::quit();
}

void NodeFace::flush() {
    QDBusMessage ping =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    bus_.call(ping, QDBus::Block, 2000);
}

void NodeFace::quitIfBusLost() {
    if (bus_.isConnected()) return;
    ownsName_ = false;
    QCoreApplication::quit();
}

}  // namespace tarnwick::nodesim
