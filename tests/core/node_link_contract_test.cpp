// The node-link contract on the recording node in virtual time, with the
// calls sent without waiting held as the COM link holds them.
#include "platform/fake/recording_node.h"
#include "platform/fake/virtual_event_loop.h"
#include "shared/node_link_contract.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

class RecordingNodeContract : public ::testing::Test {
protected:
    NodeBench bench() const { return bench_; }
    RecordingNodeContract() {
        node.sendLate = true;
        bench_.connect = [this](NodeEvents& e) { return connector.create(e); };
        bench_.connectHasty = [this](NodeEvents& e) {
            node.callLimit = std::chrono::milliseconds(1000);
            return connector.create(e);
        };
        bench_.pumpUntil = [this](const std::function<bool()>& done) {
            for (int i = 0; i < 1000 && !done(); ++i) loop.advance(std::chrono::milliseconds(10));
            return done();
        };
        bench_.bodies = [this] { return node.trace; };
        bench_.setFlag = [this](const std::string& flag, bool on) {
            (flag == "rx" ? node.rx : flag == "busy-a" ? node.busyA : node.busyB) = nodeBool(on);
        };
        bench_.failNext = [this](const std::string& op) { node.failNext.insert(op); };
        bench_.failedText = [](const std::string& op) { return "Automation error: " + op + " failed"; };
        bench_.hang = [this] { node.stallNext = true; };
        bench_.timedOutText = [](const std::string& op) { return op + ": the node did not answer within 1 s"; };
        bench_.raiseDtmf = [this](const std::string& digits) { node.raiseDTMF(digits); };
        bench_.raiseClosing = [this] { node.raiseClosing(); };
        bench_.vanish = [this] {
            node.raiseClosing();
            node.tracing = false;  // gone: nothing reaches it
            for (const char* op : {"SetPtt", "GetPttState", "SetListedBusy"}) node.failing.insert(op);
        };
    }

    VirtualEventLoop loop;
    RecordingNode node;
    RecordingNodeConnector connector{node, loop};
    NodeBench bench_;
};

TARNWICK_NODE_LINK_CONTRACT(RecordingNodeContract)

}  // namespace
}  // namespace tarnwick::test
