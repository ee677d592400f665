#include "platform/linux/dbus_node.h"

#include <QAbstractEventDispatcher>
#include <QDBusMessage>
#include <QThread>
#include <dbus/dbus.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>
#include <QObject>
#include <QString>

#include "base/errors.h"

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
    const QDBusMessage reply = bus.call(query, QDBus::Block, static_cast<int>(kBusTimeoutMs.count()));
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

// The calls sent without waiting for an answer, written straight to the
// call connection's socket. Idle, the progress tick makes two of them a
// hundred times a second; building each message with libdbus and writing it
// on its own was most of what an idle program cost. Each operation's message
// is marshalled once; a send patches in its serial and value. A message may
// be held back so that it goes out with the next one in a single write: the
// node still sees every message in the order it was made, and the hold ends
// with the link's next operation or when the thread next waits.
class QuickSends {
public:
    QuickSends(std::shared_ptr<DBusConnection> conn, std::string owner)
        : conn_(std::move(conn)), owner_(std::move(owner)) {}

    // Adds operation(value) to what waits to be written.
    void add(const char* operation, NodeBool value) {
        const std::string& form = formFor(operation);
        const std::size_t at = pending_.size();
        pending_ += form;
        char* msg = pending_.data() + at;
        const bool little = msg[0] == 'l';
        // Serials of these messages count in the upper half, apart from the
        // ones libdbus gives its own calls; nothing answers them, so a
        // serial seen again after years does no harm.
        serial_ = serial_ == 0xFFFFFFFFu ? 0x80000000u : serial_ + 1;
        put(msg + 8, serial_, 4, little);
        put(msg + form.size() - 2, static_cast<std::uint16_t>(value), 2, little);
    }

    bool empty() const { return pending_.empty(); }

    // Writes whatever waits, in one go where the socket takes it. Returns
    // false when the bus is gone or does not take it within kBusTimeoutMs;
    // what waited is then dropped (it was sent ignoring failures).
    bool write() {
        if (pending_.empty()) return true;
        const std::string data = std::move(pending_);
        pending_.clear();
        DBusConnection* c = conn_.get();
        if (!dbus_connection_get_is_connected(c)) return false;
        const auto deadline = std::chrono::steady_clock::now() + kBusTimeoutMs;
        // A call of libdbus's own that timed out may have left part of its
        // message unwritten; ours must not cut into it.
        while (dbus_connection_has_messages_to_send(c)) {
            const auto left = remainingMs(deadline);
            if (left <= 0 || !dbus_connection_read_write(c, left)) return false;
        }
        int fd = -1;
        if (!dbus_connection_get_socket(c, &fd)) return false;
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            pollfd p{fd, POLLOUT, 0};
            const int left = remainingMs(deadline);
            if (n < 0 && errno == EAGAIN && left > 0 && ::poll(&p, 1, left) >= 0) continue;
            // A message cut off in the middle would garble every later
            // one: the connection is closed, and each later call fails as
            // it would on a bus that has gone.
            if (done > 0) dbus_connection_close(c);
            return false;
        }
        return true;
    }

private:
    static int remainingMs(std::chrono::steady_clock::time_point deadline) {
        using namespace std::chrono;
        return static_cast<int>(ceil<milliseconds>(deadline - steady_clock::now()).count());
    }

    static void put(char* at, std::uint32_t v, int bytes, bool little) {
        for (int i = 0; i < bytes; ++i) {
            const int shift = 8 * (little ? i : bytes - 1 - i);
            at[i] = static_cast<char>((v >> shift) & 0xFF);
        }
    }

    // The marshalled message of `operation` with one int16 argument, which
    // ends it (the body is two bytes).
    const std::string& formFor(const char* operation) {
        for (const auto& [op, form] : forms_) {
            if (op == operation) return form;
        }
        std::shared_ptr<DBusMessage> msg(
            dbus_message_new_method_call(owner_.c_str(), kNodePath, kNodeInterface, operation), dbus_message_unref);
        const dbus_int16_t zero = 0;
        char* bytes = nullptr;
        int length = 0;
        if (!msg || !dbus_message_append_args(msg.get(), DBUS_TYPE_INT16, &zero, DBUS_TYPE_INVALID)) {
            fail(std::string(operation) + ": out of memory");
        }
        dbus_message_set_no_reply(msg.get(), TRUE);
        dbus_message_set_serial(msg.get(), 1);
        if (!dbus_message_marshal(msg.get(), &bytes, &length)) fail(std::string(operation) + ": out of memory");
        forms_.emplace_back(operation, std::string(bytes, static_cast<std::size_t>(length)));
        dbus_free(bytes);
        return forms_.back().second;
    }

    std::shared_ptr<DBusConnection> conn_;
    std::string owner_;
    std::vector<std::pair<std::string, std::string>> forms_;
    std::string pending_;
    std::uint32_t serial_ = 0x80000000u;
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

    NodeCaller(std::shared_ptr<DBusConnection> conn, std::string owner, std::chrono::milliseconds timeout)
        : conn_(conn),
          owner_(owner),
          timeoutMs_(static_cast<int>(timeout.count())),
          quick_(std::make_shared<QuickSends>(std::move(conn), std::move(owner))),
          closing_(std::make_shared<bool>(false)) {}

    // Has the node's Closing come to this connection too: a call answered
    // after it then shows whether the node has raised it. Raises Failure
    // when the bus refuses.
    void watchClosing() {
        const std::string rule = "type='signal',sender='" + owner_ + "',path='" + kNodePath + "',interface='" +
                                 kNodeInterface + "',member='Closing'";
        DBusError err;
        dbus_error_init(&err);
        dbus_bus_add_match(conn_.get(), rule.c_str(), &err);
        if (dbus_error_is_set(&err)) {
            std::string what = "cannot subscribe to the EchoLink node's events (" +
                               std::string(err.message != nullptr ? err.message : "") + ")";
            dbus_error_free(&err);
            fail(what);
        }
    }
    bool closingSeen() const { return *closing_; }

    // A blocking call with the node timeout. `append` adds the arguments.
    // Raises Failure with "<operation>: <error name>: <message>" for an
    // error reply or no reply. The wait runs no event loop: no timer tick
    // and no node event can run inside a call.
    template <typename Append>
    Reply call(const std::string& path, const char* interface, const char* operation, Append append) {
        // A message held back goes first; if it cannot go, this call finds
        // the bus gone by itself.
        quick_->write();
        std::shared_ptr<DBusMessage> msg(
            dbus_message_new_method_call(owner_.c_str(), path.c_str(), interface, operation), dbus_message_unref);
        if (!msg) fail(std::string(operation) + ": out of memory");
        DBusMessageIter args;
        dbus_message_iter_init_append(msg.get(), &args);
        if (!append(args)) fail(std::string(operation) + ": out of memory");
        DBusError err;
        dbus_error_init(&err);
        DBusMessage* reply = dbus_connection_send_with_reply_and_block(conn_.get(), msg.get(), timeoutMs_, &err);
        // Besides replies only the node's Closing is meant for this
        // connection (watchClosing); anything else (the bus's greeting)
        // is dropped so that it does not pile up. The bus passes on the
        // node's messages in order, so a node that raised Closing and quit
        // has its Closing read here before the failure of a call it left.
        while (DBusMessage* m = dbus_connection_pop_message(conn_.get())) {
            if (dbus_message_is_signal(m, kNodeInterface, "Closing")) *closing_ = true;
            dbus_message_unref(m);
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
    // for. Held back, it goes out with the link's next operation or when
    // the thread next waits (writeHeld). Raises Failure when it cannot be
    // sent at all.
    void sendInt16(const char* operation, NodeBool value, bool hold) {
        quick_->add(operation, value);
        if (hold) return;
        if (!quick_->write()) {
            fail(std::string(operation) + ": org.freedesktop.DBus.Error.Disconnected: the session bus is gone");
        }
    }

    // Writes a message held back; a failure is dropped with it, as its
    // caller ignored failures.
    void writeHeld() { quick_->write(); }

    NodeBool callBool(const char* operation) {
        dbus_int16_t v = 0;
        call(operation).read("n", &v);
        return v;
    }

private:
    std::shared_ptr<DBusConnection> conn_;
    std::string owner_;
    int timeoutMs_;
    // Shared with the SysopInfo objects the link hands out, whose calls
    // must come after it too.
    std::shared_ptr<QuickSends> quick_;
    std::shared_ptr<bool> closing_;
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
        : bus_(std::move(bus)), owner_(std::move(owner)), caller_(std::move(caller)), receiver_(std::move(receiver)) {
        // A message held back goes out before the thread sleeps; and before
        // the program ends (the loop's end says so too).
        if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance(QThread::currentThread())) {
            waiting_ = QObject::connect(d, &QAbstractEventDispatcher::aboutToBlock, [this] { caller_.writeHeld(); });
        }
    }

    ~DbusNodeLink() override {
        QObject::disconnect(waiting_);
        caller_.writeHeld();
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
    // The key goes out at once; the listing may wait for the next call (the
    // progress tick's unkey follows it at once) and share its write.
    void SetPttIgnoringAnswer(NodeBool on) override { caller_.sendInt16("SetPtt", on, false); }
    void SetListedBusyIgnoringAnswer(NodeBool busy) override { caller_.sendInt16("SetListedBusy", busy, true); }
    // The key goes to the socket before SetPttIgnoringAnswer returns, and
    // the kernel hands the bus what was written even after the process has
    // gone: nothing keying is ever left behind. A listing held back is
    // written now, as the program ends without sleeping again.
    void awaitSent(std::chrono::milliseconds) override { caller_.writeHeld(); }
    bool closingAnnounced() const override { return caller_.closingSeen(); }

private:
    QDBusConnection bus_;
    QString owner_;
    NodeCaller caller_;
    std::unique_ptr<NodeEventReceiver> receiver_;
    QMetaObject::Connection waiting_;
};

}  // namespace

DbusNodeConnector::DbusNodeConnector(QDBusConnection bus, std::chrono::milliseconds callTimeout)
    : bus_(std::move(bus)), callTimeout_(callTimeout) {}

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
    NodeCaller caller(openCallConnection(), utf8(owner), callTimeout_);
    try {
        caller.watchClosing();
    } catch (const Failure&) {
        DbusNodeLink::disconnectSignals(bus_, owner, receiver.get());
        throw;
    }
    return std::make_unique<DbusNodeLink>(bus_, owner, std::move(caller), std::move(receiver));
}

}  // namespace tarnwick

#include "dbus_node.moc"
