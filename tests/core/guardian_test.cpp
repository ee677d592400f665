// The guardian's behaviour: what it makes of Tarnwick's keying words, and
// how it makes the node safe, on a recording node and a virtual clock.
#include "base/errors.h"
#include "guard/guardian.h"
#include "platform/fake/recording_node.h"
#include "platform/fake/virtual_event_loop.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;

struct StringFeed : guard::KeyingFeed {
    std::deque<char> words;
    explicit StringFeed(const std::string& text) : words(text.begin(), text.end()) {}
    std::optional<char> next() override {
        if (words.empty()) return std::nullopt;
        const char c = words.front();
        words.pop_front();
        return c;
    }
};

TEST(GuardianFeed, OnlyTheLastWordCounts) {
    const std::pair<std::string, bool> cases[] = {
        {"", false},                        // Tarnwick ended before it ever keyed
        {"K", true},                        // killed while keyed
        {"KU", false},                      // ended after its unkey
        {"KUKUK", true}, {"K?U\n", false},  // stray bytes change nothing
        {"KU?x", false},
    };
    for (const auto& [words, keyed] : cases) {
        StringFeed feed(words);
        EXPECT_EQ(guard::endedKeyed(feed), keyed) << '"' << words << '"';
        EXPECT_TRUE(feed.words.empty()) << "the feed is read to its end";
    }
}

struct NodeSafety : ::testing::Test {
    VirtualEventLoop loop;
    RecordingNode node;
    RecordingNodeConnector connector{node, loop};
    struct NoEvents : NodeEvents {
        void DTMFString(const std::string&) override {}
        void Closing() override {}
    } events;
    std::chrono::steady_clock::time_point clock{};
    std::vector<std::string> reports;
    int connects = 0;
    // Runs before each attempt's calls: a test makes the node come back.
    std::function<void()> beforeConnect;

    guard::NodeAccess access{
        [this] {
            ++connects;
            if (beforeConnect) beforeConnect();
            return connector.create(events);
        },
        [this] { return clock; },
        [this](std::chrono::milliseconds ms) { clock += ms; },
        [this](const std::string& text) { reports.push_back(text); },
        nullptr,
    };

    guard::SafeOutcome run() { return guard::makeNodeSafe(access, "Tarnwick (process 42)"); }
    static bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
};

TEST_F(NodeSafety, ANodeThatAnswersIsUnkeyedAndListedFreeAtOnce) {
    EXPECT_TRUE(run().done());
    EXPECT_EQ(node.traceText(), "SetPtt 0\nSetListedBusy 0");
    EXPECT_EQ(clock, std::chrono::steady_clock::time_point{});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(has(reports[0], "Tarnwick (process 42) ended with the transmitter keyed"));
    EXPECT_TRUE(has(reports[0], "unkeyed the node and listed it free"));
}

// A node that is not there yet, or stalls, is tried again on a fresh link;
// the failure is told once, not on every try.
TEST_F(NodeSafety, ANodeThatComesBackIsTriedUntilItAnswers) {
    node.available = false;
    beforeConnect = [&] {
        if (connects == 4) node.available = true;
    };
    EXPECT_TRUE(run().done());
    EXPECT_EQ(connects, 4);
    EXPECT_EQ(clock.time_since_epoch(), 3 * guard::kRetryPause);
    EXPECT_EQ(node.traceText(), "SetPtt 0\nSetListedBusy 0");
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(has(reports[0], "did not take the unkey (ActiveX component can't create object)"));
    EXPECT_TRUE(has(reports[0], "trying again for up to 60.0 s"));
    EXPECT_TRUE(has(reports[1], "listed it free (750 ms after it ended)"));
}

// An unkey that went through is not sent again while the listing is retried.
TEST_F(NodeSafety, OnlyTheStepThatFailedIsTriedAgain) {
    node.failing = {"SetListedBusy"};
    beforeConnect = [&] {
        if (connects == 3) node.failing.clear();
    };
    EXPECT_TRUE(run().done());
    EXPECT_EQ(node.traceText(), "SetPtt 0\nSetListedBusy => error\nSetListedBusy => error\nSetListedBusy 0");
    EXPECT_TRUE(has(reports[0], "did not take the listing free"));
}

TEST_F(NodeSafety, ANodeThatNeverAnswersIsGivenUpAfterAMinute) {
    node.failing = {"SetPtt"};
    const guard::SafeOutcome out = run();
    EXPECT_FALSE(out.unkeyed);
    EXPECT_FALSE(out.listedFree);
    EXPECT_LE(clock.time_since_epoch(), guard::kPatience);
    EXPECT_GT(clock.time_since_epoch(), guard::kPatience - guard::kRetryPause);
    EXPECT_EQ(connects, guard::kPatience / guard::kRetryPause + 1);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(has(reports[1], "gave up after 60.0 s"));
    EXPECT_TRUE(has(reports[1], "it may still be keyed"));

    // Unkeyed but never listed free: said as such.
    reports.clear();
    node.failing = {"SetListedBusy"};
    clock = {};
    const guard::SafeOutcome half = run();
    EXPECT_TRUE(half.unkeyed);
    EXPECT_FALSE(half.listedFree);
    EXPECT_TRUE(has(reports.back(), "unkeyed the node, but gave up listing it free"));

    // A node lost for good (the session bus has gone) is not tried for a minute.
    node.failing = {"SetPtt"};
    clock = {};
    connects = 0;
    access.lostForGood = [&] { return connects == 2; };
    EXPECT_FALSE(run().unkeyed);
    EXPECT_EQ(connects, 2);
    EXPECT_TRUE(has(reports.back(), "gave up after 250 ms"));
}

}  // namespace
}  // namespace tarnwick::test
