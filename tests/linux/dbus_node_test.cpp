// The D-Bus node client against the real stand-in on a private session bus
// (support/with-session.sh --bus); each case starts its own and reads its trace.
#include "platform/linux/dbus_node.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include "node/node_link.h"
#include "window/errors.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

constexpr int kWaitMs = 10'000;

std::int64_t epochMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Lets queued events (the node's signals among them) run until `done` holds
// or the wait runs out.
bool runEventsUntil(const std::function<bool()>& done, int timeoutMs = kWaitMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Runs the events that are queued now and those that arrive within `ms`.
void runEventsFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    runEventsUntil([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

bool nodeNameOwned() {
    QDBusMessage query = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                        "org.freedesktop.DBus", QStringLiteral("NameHasOwner"));
    query << QLatin1String(kNodeService);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(query, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

// `tarnwick-nodesim --ctl ARGS...`; its exit status.
int ctl(std::initializer_list<const char*> args, QString* out = nullptr) {
    QStringList line{"--ctl"};
    for (const char* a : args) line << QString::fromUtf8(a);
    QProcess p;
    p.start(QStringLiteral(NODESIM_PATH), line);
    if (!p.waitForFinished(kWaitMs)) return -1;
    if (out) *out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

std::string nodeState() {
    QString state;
    EXPECT_EQ(ctl({"state"}, &state), 0);
    return state.toStdString();
}

// A running stand-in with its own trace file.
class StandIn {
public:
    explicit StandIn(const QStringList& options = {}) {
        EXPECT_TRUE(runEventsUntil([] { return !nodeNameOwned(); })) << "an earlier stand-in still owns the name";
        tracePath_ = dir_.filePath(QStringLiteral("trace.txt"));
        startedMs_ = epochMs();
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(NODESIM_PATH), QStringList{"--headless", "--trace", tracePath_} + options);
        EXPECT_TRUE(process_.waitForStarted(kWaitMs));
        EXPECT_TRUE(runEventsUntil(nodeNameOwned)) << "the stand-in never took " << kNodeService;
    }

    ~StandIn() {
        if (process_.state() == QProcess::NotRunning) return;
        ::kill(static_cast<pid_t>(process_.processId()), SIGCONT);  // in case a test stopped it
        process_.terminate();
        if (!process_.waitForFinished(kWaitMs)) {
            process_.kill();
            process_.waitForFinished(kWaitMs);
        }
    }

    QProcess& process() { return process_; }
    // (waitForFinished() answers false when QProcess saw the end already.)
    bool waitUntilEnded() { return process_.state() == QProcess::NotRunning || process_.waitForFinished(kWaitMs); }
    void signal(int sig) { ::kill(static_cast<pid_t>(process_.processId()), sig); }

    // The stamp of the first trace line with this body, or -1.
    std::int64_t stampOf(const std::string& body) const {
        QFile file(tracePath_);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        for (const QByteArray& raw : file.readAll().split('\n')) {
            const std::string line = raw.toStdString();
            const auto blank = line.find(' ');
            if (blank != std::string::npos && line.substr(blank + 1) == body) return std::stoll(line.substr(0, blank));
        }
        return -1;
    }

    // The trace without its stamps, each of which must be a time of this run
    // in milliseconds since the epoch.
    std::vector<std::string> trace() const {
        QFile file(tracePath_);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        std::vector<std::string> bodies;
        const std::int64_t now = epochMs();
        for (const QByteArray& raw : file.readAll().split('\n')) {
            if (raw.isEmpty()) continue;
            const std::string line = raw.toStdString();
            const auto blank = line.find(' ');
            bool numeric = false;
            const std::int64_t stamp = QByteArray::fromStdString(line.substr(0, blank)).toLongLong(&numeric);
            EXPECT_TRUE(numeric && stamp >= startedMs_ - 1000 && stamp <= now + 1000) << "bad stamp: " << line;
            bodies.push_back(blank == std::string::npos ? std::string() : line.substr(blank + 1));
        }
        return bodies;
    }

private:
    QTemporaryDir dir_;
    QString tracePath_;
    std::int64_t startedMs_ = 0;
    QProcess process_;
};

class EventLog : public NodeEvents {
public:
    void DTMFString(const std::string& digits) override { events.push_back("DTMFString " + digits); }
    void Closing() override { events.push_back("Closing"); }
    std::vector<std::string> events;
};

// The description of the Failure `call` raises, or "" if it raised none.
// Any failure must carry the automation error number.
std::string failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::kAutomationError) << f.description();
        return f.description();
    }
    return {};
}

class DbusNodeTest : public ::testing::Test {
protected:
    std::unique_ptr<NodeLink> connect() { return DbusNodeConnector().create(events); }
    EventLog events;
};

// Any non-zero boolean is true on the way in (1, 5), -1 on the way out.
TEST_F(DbusNodeTest, EveryOperationIsTracedAndAnswered) {
    StandIn node({"--call", "K1ABC-L"});
    auto link = connect();

    EXPECT_EQ(link->GetSysopInfo()->GetCallsign(), "K1ABC-L");
    const std::int64_t beforeKey = epochMs();
    link->SetPtt(1);
    const std::int64_t afterKey = epochMs();
    EXPECT_EQ(link->GetPttState(), kNodeTrue);
    const std::int64_t beforeUnkey = epochMs();
    link->SetPtt(kNodeFalse);
    const std::int64_t afterUnkey = epochMs();
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    EXPECT_FALSE(NodeInUse(*link));
    ASSERT_EQ(ctl({"rx", "1"}), 0);
    EXPECT_TRUE(NodeInUse(*link));
    ASSERT_EQ(ctl({"rx", "0"}), 0);
    ASSERT_EQ(ctl({"busy-a", "1"}), 0);
    EXPECT_EQ(link->GetBusyFlagA(), kNodeTrue);
    ASSERT_EQ(ctl({"busy-a", "0"}), 0);
    ASSERT_EQ(ctl({"busy-b", "1"}), 0);
    EXPECT_EQ(link->GetBusyFlagB(), kNodeTrue);
    link->SetListedBusy(5);
    link->SendCwText(0, "CQ \xC3\xBC \"x\" \\");  // UTF-8, with the characters the trace escapes

    const std::string state = nodeState();  // its ptt= is the Morse's
    EXPECT_NE(state.find("listed_busy=-1 rx=0 busy_a=0 busy_b=-1 cw=\"CQ \xC3\xBC \\\"x\\\" \\\\\""), std::string::npos)
        << state;
    EXPECT_EQ(node.trace(),
              (std::vector<std::string>{"GetSysopInfo", R"(GetCallsign => "K1ABC-L")", "SetPtt 1", "GetPttState => -1",
                                        "SetPtt 0", "GetPttState => 0",
                                        // NodeInUse: all three, in order
                                        "GetBusyFlagA => 0", "GetReceivingSignal => 0", "GetBusyFlagB => 0",
                                        "GetBusyFlagA => 0", "GetReceivingSignal => -1", "GetBusyFlagB => 0",
                                        "GetBusyFlagA => -1", "GetBusyFlagB => -1", "SetListedBusy 5",
                                        "SendCwText 0 \"CQ \xC3\xBC \\\"x\\\" \\\\\""}));
    // An air check reads the keying's stamps as the node's clock: each is the
    // wall clock, in ms since the epoch, when the call arrived.
    EXPECT_GE(node.stampOf("SetPtt 1"), beforeKey);
    EXPECT_LE(node.stampOf("SetPtt 1"), afterKey);
    EXPECT_GE(node.stampOf("SetPtt 0"), beforeUnkey);
    EXPECT_LE(node.stampOf("SetPtt 0"), afterUnkey);
}

// The calls sent without waiting: each one arrives, in the order made,
// whether it went out at once, with the next call, or when the thread
// waited.
TEST_F(DbusNodeTest, CallsSentWithoutWaitingArriveInTheirOrder) {
    StandIn node;
    auto link = connect();
    link->SetListedBusyIgnoringAnswer(kNodeTrue);
    link->SetPttIgnoringAnswer(kNodeTrue);
    EXPECT_EQ(link->GetPttState(), kNodeTrue);
    link->SetListedBusyIgnoringAnswer(kNodeFalse);  // held, then ahead of the call
    EXPECT_EQ(link->GetBusyFlagA(), kNodeFalse);
    for (int i = 0; i < 500; ++i) {
        link->SetListedBusyIgnoringAnswer(nodeBool(i % 2 == 0));
        link->SetPttIgnoringAnswer(nodeBool(i % 2 == 1));
    }
    EXPECT_EQ(link->GetPttState(), kNodeTrue);
    link->SetListedBusyIgnoringAnswer(kNodeTrue);  // alone: out when the thread waits
    QEventLoop wait;
    QTimer::singleShot(50, &wait, &QEventLoop::quit);
    wait.exec();
    EXPECT_NE(nodeState().find("listed_busy=-1"), std::string::npos);

    std::vector<std::string> expected{"SetListedBusy -1", "SetPtt -1", "GetPttState => -1", "SetListedBusy 0",
                                      "GetBusyFlagA => 0"};
    for (int i = 0; i < 500; ++i) {
        expected.push_back(i % 2 == 0 ? "SetListedBusy -1" : "SetListedBusy 0");
        expected.push_back(i % 2 == 1 ? "SetPtt -1" : "SetPtt 0");
    }
    expected.push_back("GetPttState => -1");
    expected.push_back("SetListedBusy -1");
    EXPECT_EQ(node.trace(), expected);
}

TEST_F(DbusNodeTest, SendCwTextKeysTheTransmitterForTheMorseTime) {
    StandIn node({"--cw-wpm", "40"});  // "PARIS " lasts 1500 ms
    auto link = connect();
    QElapsedTimer sent;
    sent.start();
    link->SendCwText(0, "PARIS ");
    EXPECT_EQ(link->GetPttState(), kNodeTrue);
    ASSERT_TRUE(runEventsUntil([&] { return link->GetPttState() == kNodeFalse; }));
    // The stand-in cannot unkey before the Morse has been sent; an upper
    // bound would only measure how busy this machine is.
    EXPECT_GE(sent.elapsed(), 1500 - 2);  // both sides count whole milliseconds
}

TEST_F(DbusNodeTest, OnlyTheNodesEventsArriveAndOnlyFromTheEventLoop) {
    StandIn node;
    auto link = connect();
    // Another program sending the node's signals is not the node.
    QDBusConnection impostor = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("impostor"));
    ASSERT_TRUE(impostor.isConnected());
    auto signal = [](const char* name) {
        return QDBusMessage::createSignal(QLatin1String(kNodePath), QLatin1String(kNodeInterface), name);
    };
    ASSERT_TRUE(impostor.send(signal("DTMFString") << QStringLiteral("666")));
    ASSERT_TRUE(impostor.send(signal("Closing")));
    runEventsFor(300);

    ASSERT_EQ(ctl({"dtmf", "1234"}), 0);
    std::this_thread::sleep_for(200ms);  // the signal is on its way or queued: a call must not hand it over
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    EXPECT_TRUE(events.events.empty());
    ASSERT_TRUE(runEventsUntil([&] { return !events.events.empty(); }));
    runEventsFor(100);
    EXPECT_EQ(events.events, std::vector<std::string>{"DTMFString 1234"});
    QDBusConnection::disconnectFromBus(QStringLiteral("impostor"));

    ASSERT_EQ(ctl({"close"}), 0);
    ASSERT_TRUE(runEventsUntil([&] { return events.events.size() == 2; }));
    EXPECT_EQ(events.events.back(), "Closing");
    ASSERT_TRUE(node.waitUntilEnded());
    EXPECT_EQ(node.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(node.process().exitCode(), 0);
    EXPECT_EQ(node.trace(),
              (std::vector<std::string>{R"(event DTMFString "1234")", "GetPttState => 0", "event Closing"}));
}

TEST_F(DbusNodeTest, CallMadeToFailRaisesFailureWithTheBusError) {
    StandIn node;
    auto link = connect();

    ASSERT_EQ(ctl({"fail", "GetPttState"}), 0);
    const std::string what = failureOf([&] { link->GetPttState(); });
    EXPECT_EQ(what.rfind("GetPttState: org.tarnwick.Node.Error.Failed: ", 0), 0u) << what;
    EXPECT_EQ(link->GetPttState(), kNodeFalse);  // only the next call failed

    ASSERT_EQ(ctl({"fail", "SetPtt"}), 0);
    EXPECT_NE(failureOf([&] { link->SetPtt(kNodeTrue); }), "");
    EXPECT_EQ(link->GetPttState(), kNodeFalse);  // the failed call keyed nothing

    ASSERT_EQ(ctl({"fail", "GetCallsign"}), 0);
    auto info = link->GetSysopInfo();
    EXPECT_EQ(failureOf([&] { info->GetCallsign(); }).rfind("GetCallsign: org.tarnwick.Node.Error.Failed: ", 0), 0u);

    EXPECT_EQ(node.trace(), (std::vector<std::string>{"GetPttState => error", "GetPttState => 0", "SetPtt -1 => error",
                                                      "GetPttState => 0", "GetSysopInfo", "GetCallsign => error"}));
}

TEST_F(DbusNodeTest, WithoutANodeCreateFailsAndASecondStandInIsRefused) {
    ASSERT_TRUE(runEventsUntil([] { return !nodeNameOwned(); }));
    const std::string what = failureOf([&] { connect(); });
    EXPECT_NE(what.find("org.tarnwick.Node has no owner"), std::string::npos) << what;
    EXPECT_NE(ctl({"state"}), 0);

    StandIn node;
    QProcess second;
    second.start(QStringLiteral(NODESIM_PATH), {"--headless"});
    ASSERT_TRUE(second.waitForFinished(kWaitMs));
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("already owned"));
    EXPECT_EQ(ctl({"state"}), 0);  // the first one still answers
}

// A node busy for a few seconds on its own thread is slow, not gone: the
// call is answered once the node gets to it, and what was sent meanwhile
// arrives after it, in order. A node that stays silent past the link's
// timeout fails the call (a link with a short one here; the program's is
// kNodeCallTimeoutMs).
TEST_F(DbusNodeTest, ASlowNodeIsWaitedForAndAHungOneFailsTheCall) {
    StandIn node;
    auto link = connect();
    ASSERT_EQ(ctl({"stall", "3000"}), 0);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    EXPECT_GE(timer.elapsed(), 3000 - 2);  // both sides count whole milliseconds
    ASSERT_EQ(ctl({"stall", "3000"}), 0);
    link->SetPttIgnoringAnswer(kNodeTrue);  // the call the node sits on
    EXPECT_EQ(link->GetPttState(), kNodeTrue);
    EXPECT_EQ(node.trace(), (std::vector<std::string>{"stall 3000", "GetPttState => 0", "stall 3000", "SetPtt -1",
                                                      "GetPttState => -1"}));

    auto hasty = DbusNodeConnector(QDBusConnection::sessionBus(), 1000ms).create(events);
    node.signal(SIGSTOP);
    timer.restart();
    const std::string what = failureOf([&] { hasty->GetPttState(); });
    EXPECT_LT(timer.elapsed(), 10'000);
    EXPECT_EQ(what.rfind("GetPttState: org.freedesktop.DBus.Error.NoReply", 0), 0u) << what;
}

// A node program that quits as soon as it has raised Closing: the event
// arrives, the program is gone although its caller still holds the link
// (a closing one waits up to 5 s for that), and the unkey that follows
// fails at once instead of waiting out the call timeout.
TEST_F(DbusNodeTest, AVanishingNodeRaisesClosingAndLeavesItsCallersAtOnce) {
    StandIn node;
    auto link = connect();
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    EXPECT_FALSE(link->closingAnnounced());
    ASSERT_EQ(ctl({"vanish"}), 0);
    ASSERT_TRUE(node.process().waitForFinished(3000));
    EXPECT_EQ(node.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(node.process().exitCode(), 0);
    ASSERT_TRUE(runEventsUntil([&] { return !events.events.empty(); }));
    EXPECT_EQ(events.events, std::vector<std::string>{"Closing"});
    QElapsedTimer timer;
    timer.start();
    EXPECT_NE(failureOf([&] { link->SetPtt(kNodeFalse); }), "");
    EXPECT_LT(timer.elapsed(), 2000);
    // Known by the failed call itself, whenever the event gets its turn.
    EXPECT_TRUE(link->closingAnnounced());
    EXPECT_EQ(node.trace(), (std::vector<std::string>{"GetPttState => 0", "event Closing"}));
}

TEST_F(DbusNodeTest, LinkStaysWithTheNodeItWasMadeFor) {
    auto first = std::make_unique<StandIn>();
    auto link = connect();
    first.reset();  // that node is gone
    EXPECT_NE(failureOf([&] { link->GetPttState(); }), "");

    // A node that takes the name later is another node: the old link does
    // not quietly talk to it, and its events are not the old link's.
    StandIn second;
    EXPECT_NE(failureOf([&] { link->GetPttState(); }), "");
    ASSERT_EQ(ctl({"dtmf", "5"}), 0);
    runEventsFor(300);
    EXPECT_TRUE(events.events.empty());
    EXPECT_EQ(second.trace(), std::vector<std::string>{R"(event DTMFString "5")"});

    EventLog fresh;
    auto relinked = DbusNodeConnector().create(fresh);
    EXPECT_EQ(relinked->GetPttState(), kNodeFalse);
}

}  // namespace
}  // namespace tarnwick

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
