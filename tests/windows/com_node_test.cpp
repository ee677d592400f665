// The COM node client against the real stand-in, a COM local server of its
// own process, registered in the build's Wine prefix as --register does for
// a person trying Tarnwick out. Each case starts its own stand-in with a
// trace file and judges by what it traced. The main thread is a
// single-threaded apartment, as in the program.
#include "platform/windows/com_node.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/dispatcher.h"
#include "window/errors.h"
#include "windows/win_support.h"

namespace tarnwick {
namespace {

using testing::pumpUntil;
using Lines = std::vector<std::string>;

constexpr const char* kConnectAndDieFlag = "--connect-and-die";

std::string nodesimPath() { return testing::windowsPath(NODESIM_EXE_PATH); }

std::int64_t epochMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Runs the stand-in's program with `arguments`: its exit status, and its
// output (without the last line break) in `out`.
DWORD nodesim(const std::string& arguments, std::string* out = nullptr) {
    DWORD code = 0;
    std::string text = testing::runProgram(testing::quoted(nodesimPath()) + " " + arguments, code, true);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (out != nullptr) *out = text;
    return code;
}
DWORD ctl(const std::string& arguments, std::string* out = nullptr) { return nodesim("--ctl " + arguments, out); }
bool setRegistered(bool on) { return nodesim(on ? "--register" : "--unregister") == 0; }

// A stand-in started by hand (headless) with its own trace file; ended when
// the object goes, whatever state it is in.
class StandIn {
public:
    explicit StandIn(const std::string& options = "") {
        // An earlier case's stand-in must be gone, or this one cannot start.
        pumpUntil([] { return ctl("state") != 0; });
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        std::string command =
            testing::quoted(nodesimPath()) + " --headless --trace " + testing::quoted(trace_) + " " + options;
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
        process_ = pi.hProcess;
        thread_ = pi.hThread;
        up_ = pumpUntil([this] { return ctl("state") == 0 || ended(0); }) && !ended(0);
    }
    ~StandIn() {
        if (process_ == nullptr) return;
        ResumeThread(thread_);  // in case a case suspended it
        if (!ended(0)) {
            ctl("close");
            if (!ended(10000)) TerminateProcess(process_, 99);
            WaitForSingleObject(process_, testing::kHangGuardMs);
        }
        CloseHandle(thread_);
        CloseHandle(process_);
    }
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    bool up() const { return up_; }
    HANDLE process() const { return process_; }
    HANDLE mainThread() const { return thread_; }
    // Whether it has ended within `guardMs`, pumping meanwhile so that this
    // thread's COM keeps working.
    bool ended(DWORD guardMs = testing::kHangGuardMs) const {
        auto gone = [this] { return process_ == nullptr || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; };
        return guardMs == 0 ? gone() : pumpUntil(gone, guardMs);
    }
    DWORD exitCode() const {
        DWORD code = 0xFFFFFFFF;
        GetExitCodeProcess(process_, &code);
        return code;
    }

    // The stamp of the first trace line with this body, or -1.
    std::int64_t stampOf(const std::string& body) const {
        const std::string text = testing::readFile(trace_);
        for (std::size_t from = 0, end; from < text.size(); from = end + 1) {
            end = std::min(text.find('\n', from), text.size());
            const std::size_t blank = text.find(' ', from);
            if (blank < end && text.compare(blank + 1, end - blank - 1, body) == 0)
                return std::stoll(text.substr(from, blank - from));
        }
        return -1;
    }

    // The trace lines without their stamps (whose form the core tests check).
    Lines trace() const {
        Lines bodies;
        const std::string text = testing::readFile(trace_);
        for (std::size_t from = 0, end; from < text.size(); from = end + 1) {
            end = std::min(text.find('\n', from), text.size());
            const std::size_t blank = text.find(' ', from);
            if (end > from) bodies.push_back(blank < end ? text.substr(blank + 1, end - blank - 1) : std::string());
        }
        return bodies;
    }

private:
    testing::TempDir dir_;
    std::string trace_ = dir_.file("trace.txt");
    HANDLE process_ = nullptr;
    HANDLE thread_ = nullptr;
    bool up_ = false;
};

// The events as NodeEvents receives them: "DTMFString 1234", "Closing".
class EventLog : public NodeEvents {
public:
    void DTMFString(const std::string& digits) override { events.push_back("DTMFString " + digits); }
    void Closing() override { events.push_back("Closing"); }
    Lines events;
};

// The Failure `call` raises; a test that expects one fails without it.
Failure failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Failure& f) {
        return f;
    }
    ADD_FAILURE() << "no Failure raised";
    return Failure(0, "");
}

std::string registryText(HKEY root, const std::string& key) {
    char value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueA(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return "<missing>";
    return value;
}

class ComNodeTest : public ::testing::Test {
protected:
    std::unique_ptr<NodeLink> connect() { return ComNodeConnector().create(events); }
    EventLog events;
    testing::ModalWatchdog watchdog;
};

TEST_F(ComNodeTest, RegistrationGivesTheServerItsMarshallingAndTheEventIdsAndIsUndoneCleanly) {
    ASSERT_TRUE(setRegistered(true));
    const std::string server = "Software\\Classes\\CLSID\\{D1FB3C9A-BB2D-446A-A74A-E771F134ED56}\\LocalServer32";
    EXPECT_EQ(registryText(HKEY_CURRENT_USER, server), testing::quoted(nodesimPath()));
    // The dual interfaces cross processes through the type library marshaller.
    for (const char* iid : {"{7733112C-4577-4432-9DB0-A9398184EAF6}", "{ACD8531B-B0CE-4F14-9405-6AB8AC5C9EFA}"}) {
        EXPECT_EQ(registryText(HKEY_CLASSES_ROOT, std::string("Interface\\") + iid + "\\ProxyStubClsid32"),
                  "{00020424-0000-0000-C000-000000000046}")
            << iid;
    }
    ITypeLib* library = nullptr;
    ASSERT_HRESULT_SUCCEEDED(LoadRegTypeLib(kNodeLibraryId, kNodeLibraryMajor, kNodeLibraryMinor, 0, &library));
    // The stand-in's dispatch ids are not the operations' places, so a
    // client calling by place rather than by name would miss.
    ITypeInfo* node = nullptr;
    ASSERT_HRESULT_SUCCEEDED(library->GetTypeInfoOfGuid(
        {0x7733112C, 0x4577, 0x4432, {0x9D, 0xB0, 0xA9, 0x39, 0x81, 0x84, 0xEA, 0xF6}}, &node));
    int place = 0;
    for (const wchar_t* name : {L"SetPtt", L"GetBusyFlagA", L"GetReceivingSignal", L"GetPttState", L"GetBusyFlagB",
                                L"SendCwText", L"GetSysopInfo", L"SetListedBusy"}) {
        LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        ASSERT_HRESULT_SUCCEEDED(node->GetIDsOfNames(names, 1, &id));
        EXPECT_NE(id, place + 1);
        EXPECT_NE(id, 0x60020000 + place++);
    }
    node->Release();
    library->Release();
    EXPECT_EQ(registeredEventIds(), (NodeEventIds{0x60020011, 0x60020012}));

    // Unregistered, the client falls back to ids 1 and 2 and no longer
    // recognises the stand-in's events: proof that delivery goes by the
    // looked-up ids.
    ASSERT_TRUE(setRegistered(false));
    EXPECT_EQ(registryText(HKEY_CURRENT_USER, server), "<missing>");
    EXPECT_HRESULT_FAILED(LoadRegTypeLib(kNodeLibraryId, kNodeLibraryMajor, kNodeLibraryMinor, 0, &library));
    EXPECT_EQ(registeredEventIds(), (NodeEventIds{1, 2}));
    {
        StandIn standIn;
        ASSERT_TRUE(standIn.up());
        auto link = connect();
        EXPECT_EQ(link->GetPttState(), kNodeFalse) << "calls by name need no registration";
        ASSERT_EQ(ctl("dtmf 55"), 0u);
        EXPECT_FALSE(pumpUntil([&] { return !events.events.empty(); }, 1000));
    }
    EXPECT_TRUE(setRegistered(false)) << "removing what is not there succeeds";
    ASSERT_TRUE(setRegistered(true));
}

// Booleans cross as they are passed (1, 5), and the node reads any
// non-zero as true.
TEST_F(ComNodeTest, EveryOperationIsTracedAndAnswered) {
    StandIn node("--call K1ABC-L");
    ASSERT_TRUE(node.up());
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
    for (const char* flag : {"rx", "busy-a", "busy-b"}) {
        ASSERT_EQ(ctl(std::string(flag) + " 1"), 0u);
        EXPECT_TRUE(NodeInUse(*link)) << flag;
        ASSERT_EQ(ctl(std::string(flag) + " 0"), 0u);
    }
    link->SetListedBusy(5);
    link->SendCwText(0, "CQ \"x\" \\");  // keys for its Morse; the characters the trace escapes

    std::string state;
    ASSERT_EQ(ctl("state", &state), 0u);
    EXPECT_EQ(state, R"(ptt=-1 listed_busy=-1 rx=0 busy_a=0 busy_b=0 cw="CQ \"x\" \\")");
    // NodeInUse asks all three, in this order, each time.
    EXPECT_EQ(node.trace(), (Lines{
                                "GetSysopInfo",
                                R"(GetCallsign => "K1ABC-L")",
                                "SetPtt 1",
                                "GetPttState => -1",
                                "SetPtt 0",
                                "GetPttState => 0",
                                "GetBusyFlagA => 0",
                                "GetReceivingSignal => 0",
                                "GetBusyFlagB => 0",
                                "GetBusyFlagA => 0",
                                "GetReceivingSignal => -1",
                                "GetBusyFlagB => 0",
                                "GetBusyFlagA => -1",
                                "GetReceivingSignal => 0",
                                "GetBusyFlagB => 0",
                                "GetBusyFlagA => 0",
                                "GetReceivingSignal => 0",
                                "GetBusyFlagB => -1",
                                "SetListedBusy 5",
                                R"(SendCwText 0 "CQ \"x\" \\")",
                            }));
    // An air check reads the keying's stamps as the node's clock: each is the
    // wall clock, in ms since the epoch, when the call arrived.
    EXPECT_GE(node.stampOf("SetPtt 1"), beforeKey);
    EXPECT_LE(node.stampOf("SetPtt 1"), afterKey);
    EXPECT_GE(node.stampOf("SetPtt 0"), beforeUnkey);
    EXPECT_LE(node.stampOf("SetPtt 0"), afterUnkey);
}

TEST_F(ComNodeTest, SendCwTextKeysTheTransmitterForTheMorseTimeAndSpeaksTheAnsiCodePage) {
    StandIn node("--cw-wpm 40");  // "PARIS " lasts 1500 ms
    ASSERT_TRUE(node.up());
    auto link = connect();
    const ULONGLONG sent = GetTickCount64();
    link->SendCwText(0, "PARIS ");
    EXPECT_EQ(link->GetPttState(), kNodeTrue);
    ASSERT_TRUE(pumpUntil([&] { return link->GetPttState() == kNodeFalse; }));
    // Not unkeyed before the Morse is sent; an upper bound would only
    // measure how busy this machine is.
    EXPECT_GE(GetTickCount64() - sent, 1500u - 16u);  // the tick count's grain

    // A byte of the ANSI code page reaches the node as that character.
    const std::string ansi = "73 \xE9";
    wchar_t wide[8] = {};
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide, 8);
    char utf8[16] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    link->SendCwText(0, ansi);
    const Lines trace = node.trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.front(), "SendCwText 0 \"PARIS \"");
    EXPECT_EQ(trace.back(), std::string("SendCwText 0 \"") + utf8 + "\"");
}

TEST_F(ComNodeTest, EventsArriveFromTheMessageLoopNeverInsideACall) {
    StandIn node;
    ASSERT_TRUE(node.up());
    auto link = connect();
    // The stand-in has raised the event by the time --ctl returns; the call
    // after it must not hand it over.
    ASSERT_EQ(ctl("dtmf 1234"), 0u);
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    EXPECT_TRUE(events.events.empty());
    ASSERT_TRUE(pumpUntil([&] { return !events.events.empty(); }));
    EXPECT_EQ(events.events, Lines{"DTMFString 1234"});

    ASSERT_EQ(ctl("close"), 0u);
    ASSERT_TRUE(pumpUntil([&] { return events.events.size() == 2; }));
    EXPECT_EQ(events.events.back(), "Closing");
    EXPECT_EQ(node.trace(), (Lines{"event DTMFString \"1234\"", "GetPttState => 0", "event Closing"}));
}

TEST_F(ComNodeTest, AFailedCallRaisesTheNodesStatusAndDescription) {
    StandIn node;
    ASSERT_TRUE(node.up());
    auto link = connect();
    ASSERT_EQ(ctl("fail SetPtt"), 0u);
    const Failure f = failureOf([&] { link->SetPtt(kNodeTrue); });
    EXPECT_EQ(f.number(), static_cast<long>(E_FAIL));
    EXPECT_EQ(f.description(), "SetPtt: SetPtt failed: the stand-in was told to fail it (--ctl fail)");
    link->SetPtt(kNodeTrue);  // one failure per request

    ASSERT_EQ(ctl("fail GetCallsign"), 0u);
    auto info = link->GetSysopInfo();
    const Failure g = failureOf([&] { info->GetCallsign(); });
    EXPECT_EQ(g.number(), static_cast<long>(E_FAIL));
    EXPECT_EQ(g.description(), "GetCallsign: GetCallsign failed: the stand-in was told to fail it (--ctl fail)");
    EXPECT_EQ(node.trace(), (Lines{"SetPtt -1 => error", "SetPtt -1", "GetSysopInfo", "GetCallsign => error"}));
}

// Unregistered, creation fails with the report the user sees; registered,
// it starts the node, which ends with its last caller.
TEST_F(ComNodeTest, CreationStartsARegisteredNodeAndFailsWithTheReportTextWithoutOne) {
    ASSERT_TRUE(setRegistered(false));
    std::string out;
    ASSERT_EQ(ctl("dtmf 1", &out), 1u) << "a stand-in still runs";
    EXPECT_EQ(out.rfind("tarnwick-nodesim: no stand-in node runs in this session", 0), 0u) << out;
    const Failure f = failureOf([&] { connect(); });
    EXPECT_EQ(f.number(), static_cast<long>(REGDB_E_CLASSNOTREG));
    EXPECT_EQ(Dispatcher::reportText(f),
              "Run-time error '-2147221164':\r\n\r\nno EchoLink node: CoCreateInstance of "
              "{D1FB3C9A-BB2D-446A-A74A-E771F134ED56} failed: " +
                  f.description().substr(f.description().find("failed: ") + 8));
    // Windows has a text for the status, Wine none; both show its number.
    EXPECT_NE(f.description().find("0x80040154"), std::string::npos) << f.description();

    ASSERT_TRUE(setRegistered(true));
    {
        auto link = connect();
        EXPECT_EQ(link->GetSysopInfo()->GetCallsign(), "N0CALL-L");
        EXPECT_EQ(ctl("state"), 0u) << "COM started the stand-in";
    }
    EXPECT_TRUE(pumpUntil([] { return ctl("state") != 0; })) << "the started stand-in outlived its caller";
}

// A node busy for a few seconds on its own thread is slow, not gone: the
// call is answered once the node gets to it, and what was sent meanwhile
// follows in order. A node that stays silent past the link's timeout
// fails the call (a link with a short one here; the program's is
// kNodeCallTimeoutMs), and the link works again once the node answers.
TEST_F(ComNodeTest, ASlowNodeIsWaitedForAndAHungOneFailsTheCallAndRecovers) {
    StandIn node;
    ASSERT_TRUE(node.up());
    {
        auto patient = connect();
        ASSERT_EQ(ctl("stall 3000"), 0u);
        const ULONGLONG asked = GetTickCount64();
        EXPECT_EQ(patient->GetPttState(), kNodeFalse);
        EXPECT_GE(GetTickCount64() - asked, 3000u - 16u);  // the tick count's grain
        ASSERT_EQ(ctl("stall 3000"), 0u);
        patient->SetPttIgnoringAnswer(kNodeTrue);  // the call the node sits on
        // Queued, not yet taken: a process that ended now would lose it.
        const std::uint64_t key = patient->lastSent();
        patient->awaitSent(std::chrono::milliseconds(500));
        EXPECT_FALSE(patient->taken(key));
        patient->awaitSent(std::chrono::milliseconds(5000));
        EXPECT_TRUE(patient->taken(key));
        EXPECT_EQ(patient->GetPttState(), kNodeTrue);
        patient->SetPtt(kNodeFalse);
        EXPECT_EQ(node.trace(), (Lines{"stall 3000", "GetPttState => 0", "stall 3000", "SetPtt -1", "GetPttState => -1",
                                       "SetPtt 0"}));
    }

    auto link = ComNodeConnector({std::chrono::milliseconds(2000), kNodeCreateTimeoutMs}).create(events);
    ASSERT_EQ(link->GetPttState(), kNodeFalse);

    // A stopped node: its thread, and with it every COM call, stands still.
    ASSERT_NE(SuspendThread(node.mainThread()), static_cast<DWORD>(-1));
    const Failure f = failureOf([&] { link->GetPttState(); });
    EXPECT_EQ(f.number(), static_cast<long>(RPC_E_TIMEOUT));
    EXPECT_EQ(f.description(), "GetPttState: the node did not answer within 2 s");
    // While that call is out, the next ones fail at once.
    const Failure g = failureOf([&] { link->SetPtt(kNodeFalse); });
    EXPECT_EQ(g.number(), static_cast<long>(RPC_E_TIMEOUT));
    EXPECT_NE(g.description().find("SetPtt: the node has not yet answered an earlier call"), std::string::npos)
        << g.description();

    ResumeThread(node.mainThread());
    ASSERT_TRUE(pumpUntil([&] {
        try {
            link->SetPtt(kNodeFalse);
            return true;
        } catch (const Failure&) {
            return false;
        }
    }));
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    EXPECT_EQ(node.trace().back(), "GetPttState => 0");
}

// A node program that quits as soon as it has raised Closing: the event
// arrives, the program is gone although its caller still holds the node
// (a closing one waits up to 5 s for that), and the unkey that follows
// fails at once instead of waiting out the call timeout.
TEST_F(ComNodeTest, AVanishingNodeRaisesClosingAndLeavesItsCallersAtOnce) {
    StandIn node;
    ASSERT_TRUE(node.up());
    auto link = connect();
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    ASSERT_EQ(ctl("vanish"), 0u);
    ASSERT_TRUE(node.ended(3000));
    EXPECT_EQ(node.exitCode(), 0u);
    ASSERT_TRUE(pumpUntil([&] { return !events.events.empty(); }));
    EXPECT_EQ(events.events, Lines{"Closing"});
    const ULONGLONG asked = GetTickCount64();
    const Failure f = failureOf([&] { link->SetPtt(kNodeFalse); });
    EXPECT_LT(f.number(), 0) << f.description();
    EXPECT_LT(GetTickCount64() - asked, 2000u) << f.description();
    EXPECT_TRUE(link->closingAnnounced());
    EXPECT_EQ(node.trace(), (Lines{"GetPttState => 0", "event Closing"}));
}

// A closing node stays for its caller's unkey, and ends once its callers
// have gone, also one that was killed rather than releasing the node.
TEST_F(ComNodeTest, AClosingNodeAnswersUntilItsCallersHaveGone) {
    StandIn node;
    ASSERT_TRUE(node.up());
    auto link = connect();
    DWORD code = 0;
    EXPECT_EQ(testing::runSelf(kConnectAndDieFlag, code).rfind("connected", 0), 0u);
    ASSERT_EQ(ctl("close"), 0u);
    ASSERT_TRUE(pumpUntil([&] { return !events.events.empty(); }));
    EXPECT_EQ(events.events, Lines{"Closing"});
    link->SetPtt(kNodeFalse);  // what Tarnwick does on Closing
    EXPECT_FALSE(node.ended(0));
    link.reset();
    ASSERT_TRUE(node.ended());
    EXPECT_EQ(node.exitCode(), 0u);
    EXPECT_EQ(node.trace(), (Lines{"SetPtt 0", "event Closing", "SetPtt 0"}));
}

// Last of all: Wine's COM keeps the class registration of a server that was
// killed and hands it to every later creation in the prefix (the prefix's
// Wine server is restarted after this program).
class ComNodeGoneTest : public ComNodeTest {};

TEST_F(ComNodeGoneTest, ANodeThatHasGoneFailsTheCall) {
    StandIn node;
    ASSERT_TRUE(node.up());
    auto link = connect();
    TerminateProcess(node.process(), 9);
    ASSERT_TRUE(node.ended());
    const Failure f = failureOf([&] { link->GetPttState(); });
    EXPECT_LT(f.number(), 0) << "an HRESULT: " << f.description();
    EXPECT_EQ(f.description().rfind("GetPttState: ", 0), 0u) << f.description();
}

// The child of AClosingNodeAnswersUntilItsCallersHaveGone: connects,
// then ends without releasing anything, as Tarnwick ends on Closing.
int connectAndDie() {
    OleInitialize(nullptr);
    EventLog events;
    auto link = ComNodeConnector().create(events);
    link->SetPtt(kNodeFalse);
    std::fputs("connected\n", stdout);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

}  // namespace
}  // namespace tarnwick

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], tarnwick::kConnectAndDieFlag) == 0) return tarnwick::connectAndDie();
    OleInitialize(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    if (!tarnwick::setRegistered(true)) {
        std::fprintf(stderr, "cannot register the stand-in node %s\n", tarnwick::nodesimPath().c_str());
        return 1;
    }
    const int rc = RUN_ALL_TESTS();
    OleUninitialize();
    return rc;
}
