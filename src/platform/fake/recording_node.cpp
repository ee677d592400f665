#include "platform/fake/recording_node.h"

#include "base/errors.h"

namespace tarnwick {

namespace {

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

class RecordingSysopInfo : public SysopInfo {
public:
    explicit RecordingSysopInfo(RecordingNode& n) : n_(n) {}
    std::string GetCallsign() override {
        n_.check("GetCallsign");
        n_.record("GetCallsign => " + quoted(n_.callsign));
        return n_.callsign;
    }

private:
    RecordingNode& n_;
};

class RecordingLink : public NodeLink {
public:
    explicit RecordingLink(RecordingNode& n) : n_(n) {}
    ~RecordingLink() override { n_.events = nullptr; }

    void SetPtt(NodeBool on) override {
        n_.check("SetPtt");
        key(n_, on);
    }
    NodeBool GetBusyFlagA() override { return query("GetBusyFlagA", n_.busyA); }
    NodeBool GetReceivingSignal() override { return query("GetReceivingSignal", n_.rx); }
    NodeBool GetPttState() override {
        n_.check("GetPttState");  // before the read: the calls on their way go first
        return answer("GetPttState", n_.cwKeyed ? kNodeTrue : n_.ptt);
    }
    NodeBool GetBusyFlagB() override { return query("GetBusyFlagB", n_.busyB); }
    void SendCwText(std::int32_t mode, const std::string& text) override {
        n_.check("SendCwText");
        n_.record("SendCwText " + std::to_string(mode) + " " + quoted(text));
    }
    std::unique_ptr<SysopInfo> GetSysopInfo() override {
        n_.check("GetSysopInfo");
        n_.record("GetSysopInfo");
        return std::make_unique<RecordingSysopInfo>(n_);
    }
    void SetListedBusy(NodeBool busy) override {
        n_.check("SetListedBusy");
        listBusy(n_, busy);
    }
    void SetPttIgnoringAnswer(NodeBool on) override {
        send("SetPtt", [&n = n_, on] { key(n, on); });
    }
    void SetListedBusyIgnoringAnswer(NodeBool busy) override {
        send("SetListedBusy", [&n = n_, busy] { listBusy(n, busy); });
    }
    bool closingAnnounced() const override { return n_.closingRaised; }
    std::uint64_t lastSent() const override { return n_.sentNumber; }
    bool taken(std::uint64_t n) const override {
        return n == 0 || (n_.takenNumber >= n && n_.failedNumber < n);  // 0: none was queued
    }
    void awaitSent(std::chrono::milliseconds limit) override {
        if (n_.sentStall && !n_.onItsWay.empty()) {
            if (n_.blocked) n_.blocked(limit);
            return;
        }
        n_.deliverSent();
    }

private:
    template <typename Effect>
    void send(const char* op, Effect effect) {
        if (!n_.sendLate) {
            n_.check(op, false);
            effect();
            return;
        }
        const std::uint64_t n = ++n_.sentNumber;
        n_.onItsWay.push_back([&node = n_, op, effect, n] {
            try {
                node.check(op, false);
                effect();
            } catch (const Failure&) {
                node.failedNumber = n;
            }
            node.takenNumber = n;
        });
    }
    static void key(RecordingNode& n, NodeBool on) {
        n.record("SetPtt " + std::to_string(on));
        n.ptt = on != 0 ? kNodeTrue : kNodeFalse;
    }
    static void listBusy(RecordingNode& n, NodeBool busy) {
        n.record("SetListedBusy " + std::to_string(busy));
        n.listedBusy = busy != 0 ? kNodeTrue : kNodeFalse;
    }
    NodeBool query(const char* op, const NodeBool& v) {
        n_.check(op);
        return answer(op, v);
    }
    NodeBool answer(const char* op, NodeBool v) {
        n_.record(std::string(op) + " => " + std::to_string(v));
        return v;
    }
    RecordingNode& n_;
};

}  // namespace

std::string RecordingNode::traceText(std::size_t from) const {
    std::string out;
    for (std::size_t i = from; i < trace.size(); ++i) {
        if (!out.empty()) out += "\n";
        out += trace[i];
    }
    return out;
}

void RecordingNode::deliverSent() {
    std::vector<std::function<void()>> calls;
    calls.swap(onItsWay);
    for (auto& call : calls) call();
}

void RecordingNode::check(const std::string& op, bool awaited) {
    if (awaited) deliverSent();  // they went ahead of this call
    if (awaited && stallNext) {
        stallNext = false;
        if (blocked) blocked(callLimit);
        record(op + " => timeout");
        throw Failure(err::kAutomationError,
                      op + ": the node did not answer within " + std::to_string(callLimit.count() / 1000) + " s");
    }
    if (failNext.erase(op) != 0 || failing.count(op) != 0 || (failsNow && failsNow(op, awaited))) {
        record(op + " => error");
        throw Failure(err::kAutomationError, "Automation error: " + op + " failed");
    }
}

void RecordingNode::raiseDTMF(const std::string& digits) {
    record("event DTMFString " + quoted(digits));
    if (loop == nullptr) return;
    loop->post([this, digits] {
        if (events != nullptr) events->DTMFString(digits);
    });
}

void RecordingNode::raiseClosing() {
    record("event Closing");
    closingRaised = true;
    if (loop == nullptr) return;
    loop->post([this] {
        if (events != nullptr) events->Closing();
    });
}

std::unique_ptr<NodeLink> RecordingNodeConnector::create(NodeEvents& events) {
    if (!node_.available) {
        throw Failure(429, "ActiveX component can't create object");
    }
    node_.events = &events;
    node_.loop = &loop_;
    return std::make_unique<RecordingLink>(node_);
}

}  // namespace tarnwick
