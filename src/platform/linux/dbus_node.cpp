#include "platform/linux/dbus_node.h"

#include <QDBusMessage>
#include <dbus/dbus.h>

#include <cstring>
#include <memory>
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
//
// The calls go through a private libdbus connection of their own, made and
// waited on in the calling (window) thread. QtDBus would hand each blocking
// call to its bus thread and back, two thread switches per call; at the two
// hundred calls a second an idle program makes, that alone cost more than
// the rest of the program. Signals stay with QtDBus, which queues them to
// the event loop.
class NodeCaller {
public:
    struct Reply {
        std::shared_ptr<DBusMessage> msg;
        const char* operation;

        // The single result, which must have the D-Bus type `signature`
        // (one basic type); raises Failure otherwise.
        void read(const char* signature, void* out) const {
            const char* got = dbus_message_get_signature(msg.get());
            if (std::strcmp(got, signature) != 0) {
                fail(std::string(operation) + ": the node answered with the D-Bus type \"" + got + "\" instead of \"" +
                     signature + "\"");
            }
            DBusMessageIter it;
            dbus_message_iter_init(msg.get(), &it);
            dbus_message_iter_get_basic(&it, out);
        }
        std::string readString(const char* signature) const {
            const char* text = nullptr;
            read(signature, &text);
            return text != nullptr ? text : "";
        }
    };

    NodeCaller(std::shared_ptr<DBusConnection> conn, std::string owner)
        : conn_(std::move(conn)), owner_(std::move(owner)) {}

    // A blocking call with the node timeout. `append` adds the arguments.
    // Raises Failure with "<operation>: <error name>: <message>" for an
    // error reply or no reply. The wait runs no event loop: no timer tick
    // and no node event can run inside a call.
    template <typename Append>
    Reply call(const std::string& path, const char* interface, const char* operation, Append append) {
        std::shared_ptr<DBusMessage> msg(
            dbus_message_new_method_call(owner_.c_str(), path.c_str(), interface, operation), dbus_message_unref);
        if (!msg) fail(std::string(operation) + ": out of memory");
        DBusMessageIter args;
        dbus_message_iter_init_append(msg.get(), &args);
        if (!append(args)) fail(std::string(operation) + ": out of memory");
        DBusError err;
        dbus_error_init(&err);
        DBusMessage* reply = dbus_connection_send_with_reply_and_block(conn_.get(), msg.get(), kNodeCallTimeoutMs, &err);
        // Nothing but replies is meant for this connection (the bus's own
        // greeting, say); drop it so that it does not pile up.
        while (dbus_connection_get_dispatch_status(conn_.get()) == DBUS_DISPATCH_DATA_REMAINS) {
            dbus_connection_dispatch(conn_.get());
        }
        if (reply == nullptr) {
            std::string what = std::string(operation) + ": " +
                               (dbus_error_is_set(&err) ? err.name : "org.freedesktop.DBus.Error.Failed") + ": " +
                               (dbus_error_is_set(&err) && err.message != nullptr ? err.message : "");
            dbus_error_free(&err);
            fail(what);
        }
        return Reply{std::shared_ptr<DBusMessage>(reply, dbus_message_unref), operation};
    }

    Reply call(const char* operation) {
        return call(kNodePath, kNodeInterface, operation, [](DBusMessageIter&) { return true; });
    }

    Reply callInt16(const char* operation, NodeBool value) {
        const dbus_int16_t v = value;
        return call(kNodePath, kNodeInterface, operation,
                    [&](DBusMessageIter& it) { return dbus_message_iter_append_basic(&it, DBUS_TYPE_INT16, &v); });
    }

    // A call sent with the bus's "no reply expected" flag, and not waited
    // for. Raises Failure only when it cannot be sent at all.
    void sendInt16(const char* operation, NodeBool value) {
        std::shared_ptr<DBusMessage> msg(
            dbus_message_new_method_call(owner_.c_str(), kNodePath, kNodeInterface, operation), dbus_message_unref);
        const dbus_int16_t v = value;
        if (!msg || !dbus_message_append_args(msg.get(), DBUS_TYPE_INT16, &v, DBUS_TYPE_INVALID)) {
            fail(std::string(operation) + ": out of memory");
        }
        dbus_message_set_no_reply(msg.get(), TRUE);
        if (!dbus_connection_get_is_connected(conn_.get()) || !dbus_connection_send(conn_.get(), msg.get(), nullptr)) {
            fail(std::string(operation) + ": org.freedesktop.DBus.Error.Disconnected: the session bus is gone");
        }
        dbus_connection_flush(conn_.get());
    }

    NodeBool callBool(const char* operation) {
        dbus_int16_t v = 0;
        call(operation).read("n", &v);
        return v;
    }

private:
    std::shared_ptr<DBusConnection> conn_;
    std::string owner_;
};

// A private connection to the session bus, closed when the last link that
// uses it has gone.
std::shared_ptr<DBusConnection> openCallConnection() {
    DBusError err;
    dbus_error_init(&err);
    DBusConnection* conn = dbus_bus_get_private(DBUS_BUS_SESSION, &err);
    if (conn == nullptr) {
        std::string what = "no EchoLink node: the session bus cannot be reached (" +
                           std::string(dbus_error_is_set(&err) && err.message != nullptr ? err.message : "") + ")";
        dbus_error_free(&err);
        fail(what);
    }
    // A bus that goes away makes calls fail; it must not end the program
    // behind the error report's back.
    dbus_connection_set_exit_on_disconnect(conn, FALSE);
    return std::shared_ptr<DBusConnection>(conn, [](DBusConnection* c) {
        dbus_connection_close(c);
        dbus_connection_unref(c);
    });
}

class DbusSysopInfo : public SysopInfo {
public:
    DbusSysopInfo(NodeCaller caller, std::string path) : caller_(std::move(caller)), path_(std::move(path)) {}

    std::string GetCallsign() override {
        return caller_.call(path_, kSysopInfoInterface, "GetCallsign", [](DBusMessageIter&) { return true; })
            .readString("s");
    }

private:
    NodeCaller caller_;
    std::string path_;
};

class DbusNodeLink : public NodeLink {
public:
    DbusNodeLink(QDBusConnection bus, QString owner, NodeCaller caller, std::unique_ptr<NodeEventReceiver> receiver)
        : bus_(std::move(bus)), owner_(std::move(owner)), caller_(std::move(caller)), receiver_(std::move(receiver)) {}

    ~DbusNodeLink() override {
        // No event may reach NodeEvents once the link is gone.
        disconnectSignals(bus_, owner_, receiver_.get());
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

    void SetPtt(NodeBool on) override { caller_.callInt16("SetPtt", on); }
    NodeBool GetBusyFlagA() override { return caller_.callBool("GetBusyFlagA"); }
    NodeBool GetReceivingSignal() override { return caller_.callBool("GetReceivingSignal"); }
    NodeBool GetPttState() override { return caller_.callBool("GetPttState"); }
    NodeBool GetBusyFlagB() override { return caller_.callBool("GetBusyFlagB"); }

    // The text goes as a variant holding a string, the automation server's
    // VARIANT. Text that is not valid UTF-8 has its bad bytes replaced, as
    // the bus refuses them.
    void SendCwText(std::int32_t mode, const std::string& text) override {
        const QByteArray clean = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8();
        const char* str = clean.constData();
        const dbus_int32_t m = mode;
        caller_.call(kNodePath, kNodeInterface, "SendCwText", [&](DBusMessageIter& it) {
            DBusMessageIter var;
            return dbus_message_iter_append_basic(&it, DBUS_TYPE_INT32, &m) &&
                   dbus_message_iter_open_container(&it, DBUS_TYPE_VARIANT, "s", &var) &&
                   dbus_message_iter_append_basic(&var, DBUS_TYPE_STRING, &str) &&
                   dbus_message_iter_close_container(&it, &var);
        });
    }

    std::unique_ptr<SysopInfo> GetSysopInfo() override {
        const std::string path = caller_.call("GetSysopInfo").readString("o");
        return std::make_unique<DbusSysopInfo>(caller_, path);
    }

    void SetListedBusy(NodeBool busy) override { caller_.callInt16("SetListedBusy", busy); }
    void SetPttIgnoringAnswer(NodeBool on) override { caller_.sendInt16("SetPtt", on); }
    void SetListedBusyIgnoringAnswer(NodeBool busy) override { caller_.sendInt16("SetListedBusy", busy); }

private:
    QDBusConnection bus_;
    QString owner_;
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
    return std::make_unique<DbusNodeLink>(bus_, owner, NodeCaller(openCallConnection(), utf8(owner)),
                                          std::move(receiver));
}

}  // namespace tarnwick

#include "dbus_node.moc"
