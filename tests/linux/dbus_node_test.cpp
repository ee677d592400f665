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
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include "shared/node_link_contract.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

constexpr int kWaitMs = 10'000;

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

bool nodeNameOwned() {
    QDBusMessage query = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                        "org.freedesktop.DBus", QStringLiteral("NameHasOwner"));
    query << QLatin1String(kNodeService);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(query, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

// `tarnwick-nodesim --ctl ARGS...`; its exit status.
int ctl(std::initializer_list<const char*> args) {
    QStringList line{"--ctl"};
    for (const char* a : args) line << QString::fromUtf8(a);
    QProcess p;
    p.start(QStringLiteral(NODESIM_PATH), line);
    if (!p.waitForFinished(kWaitMs)) return -1;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A running stand-in with its own trace file.
class StandIn {
public:
    StandIn() {
        EXPECT_TRUE(runEventsUntil([] { return !nodeNameOwned(); })) << "an earlier stand-in still owns the name";
        tracePath_ = dir_.filePath(QStringLiteral("trace.txt"));
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(NODESIM_PATH), {"--headless", "--trace", tracePath_});
        EXPECT_TRUE(process_.waitForStarted(kWaitMs));
        EXPECT_TRUE(runEventsUntil(nodeNameOwned)) << "the stand-in never took " << kNodeService;
    }

    ~StandIn() {
        if (process_.state() == QProcess::NotRunning) return;
        ::kill(static_cast<pid_t>(process_.processId()), SIGCONT);  // in case a test stopped it
        process_.terminate();
        if (!process_.waitForFinished(kWaitMs)) process_.kill();
    }

    QProcess& process() { return process_; }

    std::string text() const {
        QFile file(tracePath_);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll().toStdString();
    }

private:
    QTemporaryDir dir_;
    QString tracePath_;
    QProcess process_;
};

using test::failureOf;

// The contract against a stand-in of the test's own.
class DbusNodeContract : public ::testing::Test {
protected:
    test::NodeBench bench() {
        test::NodeBench b;
        b.connect = [](NodeEvents& e) { return DbusNodeConnector().create(e); };
        b.connectHasty = [](NodeEvents& e) {
            return DbusNodeConnector(QDBusConnection::sessionBus(), 1000ms).create(e);
        };
        b.pumpUntil = [](const std::function<bool()>& done) { return runEventsUntil(done); };
        b.stampedText = [this] { return node.text(); };
        b.cwText = "CQ \xC3\xBC \"x\" \\";  // UTF-8 too
        b.setFlag = [](const std::string& flag, bool on) { EXPECT_EQ(ctl({flag.c_str(), on ? "1" : "0"}), 0); };
        b.failNext = [](const std::string& op) { EXPECT_EQ(ctl({"fail", op.c_str()}), 0); };
        b.failedText = [](const std::string& op) { return op + ": org.tarnwick.Node.Error.Failed: "; };
        b.slowNext = [](std::chrono::milliseconds d) {
            EXPECT_EQ(ctl({"stall", std::to_string(d.count()).c_str()}), 0);
        };
        b.hang = [this] { ::kill(static_cast<pid_t>(node.process().processId()), SIGSTOP); };
        b.timedOutText = [](const std::string& op) { return op + ": org.freedesktop.DBus.Error.NoReply"; };
        b.raiseDtmf = [](const std::string& digits) {
            EXPECT_EQ(ctl({"dtmf", digits.c_str()}), 0);
            std::this_thread::sleep_for(200ms);  // the signal is on its way or queued: a call must not hand it over
        };
        b.raiseClosing = [] { EXPECT_EQ(ctl({"close"}), 0); };
        b.vanish = [this] {
            EXPECT_EQ(ctl({"vanish"}), 0);
            EXPECT_TRUE(node.process().waitForFinished(3000));
            EXPECT_EQ(node.process().exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(node.process().exitCode(), 0);
        };
        return b;
    }
    StandIn node;
};

TARNWICK_NODE_LINK_CONTRACT(DbusNodeContract)
TEST_F(DbusNodeContract, ASlowNodeIsWaitedFor) { test::aSlowNodeIsWaitedFor(bench()); }

// Another program sending the node's signals is not the node.
TEST_F(DbusNodeContract, OnlyTheNodesEventsArrive) {
    test::EventLog events;
    auto link = DbusNodeConnector().create(events);
    QDBusConnection impostor = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("impostor"));
    ASSERT_TRUE(impostor.isConnected());
    auto signal = [](const char* name) {
        return QDBusMessage::createSignal(QLatin1String(kNodePath), QLatin1String(kNodeInterface), name);
    };
    ASSERT_TRUE(impostor.send(signal("DTMFString") << QStringLiteral("666")));
    ASSERT_TRUE(impostor.send(signal("Closing")));
    ASSERT_EQ(ctl({"dtmf", "1234"}), 0);
    ASSERT_TRUE(runEventsUntil([&] { return !events.events.empty(); }));
    runEventsUntil([] { return false; }, 300);  // what arrives meanwhile
    EXPECT_EQ(events.events, std::vector<std::string>{"DTMFString 1234"});
    EXPECT_FALSE(link->closingAnnounced());
    QDBusConnection::disconnectFromBus(QStringLiteral("impostor"));
}

// Without a node there is no link; a link made stays with its node.
TEST(DbusNode, NoNodeNoLinkAndALinkStaysWithTheNodeItWasMadeFor) {
    ASSERT_TRUE(runEventsUntil([] { return !nodeNameOwned(); }));
    test::EventLog events;
    const std::string what = failureOf([&] { DbusNodeConnector().create(events); }).description();
    EXPECT_NE(what.find("org.tarnwick.Node has no owner"), std::string::npos) << what;

    auto first = std::make_unique<StandIn>();
    auto link = DbusNodeConnector().create(events);
    first.reset();  // that node is gone
    EXPECT_EQ(failureOf([&] { link->GetPttState(); }).number(), err::kAutomationError);

    // A node that takes the name later is another node: the old link does
    // not quietly talk to it, and its events are not the old link's.
    StandIn second;
    EXPECT_EQ(failureOf([&] { link->GetPttState(); }).number(), err::kAutomationError);
    ASSERT_EQ(ctl({"dtmf", "5"}), 0);
    runEventsUntil([] { return false; }, 300);  // what arrives meanwhile
    EXPECT_TRUE(events.events.empty());
    EXPECT_EQ(test::stampedTrace(second.text()).bodies, test::Lines{R"(event DTMFString "5")"});

    test::EventLog fresh;
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
