#include "platform/linux/dbus_node.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QObject>
#include <QString>

#include "window/errors.h"

namespace tarnwick {

namespace {

const QString kBusDaemon = QStringLiteral("org.freedesktop.DBus");
const QString kBusDaemonPath = QStringLiteral("/org/freedesktop/DBus");

[[noreturn]] void fail(const std::string& text) { throw Failure(err::kAutomationError, text); }

std::string utf8(const QString& s) { return s.toUtf8().toStdString(); }

// The bus daemon's answer to GetNameOwner: the unique name of the program
// that owns `name` now, or an empty string when nobody does.
QString ownerOf(QDBusConnection& bus, const QString& name) {
    QDBusMessage query =
        QDBusMessage::createMethodCall(kBusDaemon, kBusDaemonPath, kBusDaemon, QStringLiteral("GetNameOwner"));
    query << name;
    const QDBusMessage reply = bus.call(query, QDBus::Block, kNodeCallTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage && reply.signature() == QLatin1String("s")) {
        return reply.arguments().constFirst().toString();
    }
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) return {};
    fail("no EchoLink node: the session bus did not say who owns " + std::string(kNodeService) + " (" +
         utf8(reply.errorName()) + ": " + utf8(reply.errorMessage()) + ")");
}

// Hands the node's signals to NodeEvents. Qt queues a signal from the bus
// to this object's thread, so the events run from the event loop between
// other handlers, never inside a node call (those block without running
// the loop).
class NodeEventReceiver : public QObject {
    Q_OBJECT

public:
    explicit NodeEventReceiver(NodeEvents& events) : events_(events) {}

public Q_SLOTS:
    void dtmfString(const QString& digits) { events_.DTMFString(utf8(digits)); }
    void closing() { events_.Closing(); }

private:
    NodeEvents& events_;
};

// One node program, addressed by the unique name it had when the link was
// made. Another program that takes org.tarnwick.Node later is a different
// node: calls to the old one fail, as they would to a vanished COM server,
// and its signals are not ours.
class NodeCaller {
public:
    NodeCaller(QDBusConnection bus, QString owner) : bus_(std::move(bus)), owner_(std::move(owner)) {}

    // A blocking call with the node timeout. Raises Failure with
    // "<operation>: <error name>: <message>" for an error reply or no reply.
    QDBusMessage call(const QString& path, const char* interface, const char* operation, const QVariantList& args) {
        QDBusMessage msg =
            QDBusMessage::createMethodCall(owner_, path, QLatin1String(interface), QLatin1String(operation));
        msg.setArguments(args);
        // QDBus::Block waits without running the event loop: no timer tick
        // and no node event can run inside a call.
        const QDBusMessage reply = bus_.call(msg, QDBus::Block, kNodeCallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            const QString name = reply.type() == QDBusMessage::ErrorMessage
                                     ? reply.errorName()
                                     : QStringLiteral("org.freedesktop.DBus.Error.Failed");
            fail(std::string(operation) + ": " + utf8(name) + ": " + utf8(reply.errorMessage()));
        }
        return reply;
    }

    // The single result of `reply`, which must have `signature`.
    static QVariant result(const QDBusMessage& reply, const char* operation, const char* signature) {
        if (reply.signature() != QLatin1String(signature)) {
            fail(std::string(operation) + ": the node answered with the D-Bus type \"" + utf8(reply.signature()) +
                 "\" instead of \"" + signature + "\"");
        }
        return reply.arguments().constFirst();
    }

    NodeBool callBool(const char* operation) {
        const QDBusMessage reply = call(QLatin1String(kNodePath), kNodeInterface, operation, {});
        return result(reply, operation, "n").value<qint16>();
    }

    QDBusConnection& bus() { return bus_; }
    const QString& owner() const { return owner_; }

private:
    QDBusConnection bus_;
    QString owner_;
};

class DbusSysopInfo : public SysopInfo {
public:
    DbusSysopInfo(NodeCaller caller, QString path) : caller_(std::move(caller)), path_(std::move(path)) {}

    std::string GetCallsign() override {
        const QDBusMessage reply = caller_.call(path_, kSysopInfoInterface, "GetCallsign", {});
        return utf8(NodeCaller::result(reply, "GetCallsign", "s").toString());
    }

private:
    NodeCaller caller_;
    QString path_;
};

class DbusNodeLink : public NodeLink {
public:
    DbusNodeLink(NodeCaller caller, std::unique_ptr<NodeEventReceiver> receiver)
        : caller_(std::move(caller)), receiver_(std::move(receiver)) {}

    ~DbusNodeLink() override {
        // No event may reach NodeEvents once the link is gone.
        disconnectSignals(caller_.bus(), caller_.owner(), receiver_.get());
    }

    static bool connectSignals(QDBusConnection& bus, const QString& owner, NodeEventReceiver* receiver) {
        const QString path = QLatin1String(kNodePath);
        const QString iface = QLatin1String(kNodeInterface);
        return bus.connect(owner, path, iface, QStringLiteral("DTMFString"), receiver, SLOT(dtmfString(QString))) &&
               bus.connect(owner, path, iface, QStringLiteral("Closing"), receiver, SLOT(closing()));
    }

    static void disconnectSignals(QDBusConnection& bus, const QString& owner, NodeEventReceiver* receiver) {
        const QString path = QLatin1String(kNodePath);
        const QString iface = QLatin1String(kNodeInterface);
        bus.disconnect(owner, path, iface, QStringLiteral("DTMFString"), receiver, SLOT(dtmfString(QString)));
        bus.disconnect(owner, path, iface, QStringLiteral("Closing"), receiver, SLOT(closing()));
    }

    void SetPtt(NodeBool on) override { callNode("SetPtt", {QVariant::fromValue<qint16>(on)}); }
    NodeBool GetBusyFlagA() override { return caller_.callBool("GetBusyFlagA"); }
    NodeBool GetReceivingSignal() override { return caller_.callBool("GetReceivingSignal"); }
    NodeBool GetPttState() override { return caller_.callBool("GetPttState"); }
    NodeBool GetBusyFlagB() override { return caller_.callBool("GetBusyFlagB"); }

    void SendCwText(std::int32_t mode, const std::string& text) override {
        callNode(
            "SendCwText",
            {QVariant::fromValue<qint32>(mode),
             QVariant::fromValue(QDBusVariant(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))))});
    }

    std::unique_ptr<SysopInfo> GetSysopInfo() override {
        const QDBusMessage reply = callNode("GetSysopInfo", {});
        const QString path = NodeCaller::result(reply, "GetSysopInfo", "o").value<QDBusObjectPath>().path();
        return std::make_unique<DbusSysopInfo>(caller_, path);
    }

    void SetListedBusy(NodeBool busy) override { callNode("SetListedBusy", {QVariant::fromValue<qint16>(busy)}); }

private:
    // The calls that take arguments and answer nothing the system reads:
    // whatever the reply carries is not looked at.
    QDBusMessage callNode(const char* operation, const QVariantList& args) {
        return caller_.call(QLatin1String(kNodePath), kNodeInterface, operation, args);
    }

    NodeCaller caller_;
    std::unique_ptr<NodeEventReceiver> receiver_;
};

}  // namespace

DbusNodeConnector::DbusNodeConnector(QDBusConnection bus) : bus_(std::move(bus)) {}

std::unique_ptr<NodeLink> DbusNodeConnector::create(NodeEvents& events) {
    if (!bus_.isConnected()) {
        fail("no EchoLink node: the session bus cannot be reached (" + utf8(bus_.lastError().message()) + ")");
    }
    const QString service = QLatin1String(kNodeService);
    const QString owner = ownerOf(bus_, service);
    if (owner.isEmpty()) {
        fail("no EchoLink node on the session bus (" + std::string(kNodeService) + " has no owner)");
    }

    auto receiver = std::make_unique<NodeEventReceiver>(events);
    if (!DbusNodeLink::connectSignals(bus_, owner, receiver.get())) {
        fail("cannot subscribe to the EchoLink node's events (" + utf8(bus_.lastError().message()) + ")");
    }
    // Asking again does two things: the answer comes after the bus has
    // installed the subscription (it handles our messages in order), so no
    // event raised from now on is missed; and it catches a node that was
    // replaced in between.
    if (ownerOf(bus_, service) != owner) {
        DbusNodeLink::disconnectSignals(bus_, owner, receiver.get());
        fail("no EchoLink node on the session bus (" + std::string(kNodeService) + " changed owner while connecting)");
    }
    return std::make_unique<DbusNodeLink>(NodeCaller(bus_, owner), std::move(receiver));
}

}  // namespace tarnwick

#include "dbus_node.moc"
