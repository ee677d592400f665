// The COM node client against the real stand-in, a COM local server of its
// own process, registered in the build's Wine prefix as --register does for
// a person trying Tarnwick out. Each case starts its own stand-in with a
// trace file and judges by what it traced. The main thread is a
// single-threaded apartment, as in the program.
#include "platform/windows/com_node.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "shared/node_link_contract.h"
#include "station/dispatcher.h"
#include "windows/win_support.h"

namespace tarnwick {
namespace {

using test::Lines;
using testing::pumpUntil;

constexpr const char* kConnectAndDieFlag = "--connect-and-die";

std::string nodesimPath() { return testing::windowsPath(NODESIM_EXE_PATH); }

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

    std::string text() const { return testing::readFile(trace_); }
    Lines trace() const { return test::stampedTrace(text()).bodies; }

private:
    testing::TempDir dir_;
    std::string trace_ = dir_.file("trace.txt");
    HANDLE process_ = nullptr;
    HANDLE thread_ = nullptr;
    bool up_ = false;
};

std::string registryText(HKEY root, const std::string& key) {
    char value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueA(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return "<missing>";
    return value;
}

using test::EventLog;
using test::failureOf;

class ComNodeTest : public ::testing::Test {
protected:
    std::unique_ptr<NodeLink> connect() { return ComNodeConnector().create(events); }
    EventLog events;
    testing::ModalWatchdog watchdog;
};

// The contract against a stand-in of the test's own.
class ComNodeContract : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(node.up()); }
    test::NodeBench bench() {
        using std::chrono::milliseconds;
        test::NodeBench b;
        b.connect = [](NodeEvents& e) { return ComNodeConnector().create(e); };
        b.connectHasty = [](NodeEvents& e) {
            return ComNodeConnector({milliseconds(2000), kNodeCreateTimeoutMs}).create(e);
        };
        b.pumpUntil = [](const std::function<bool()>& done) { return pumpUntil(done); };
        b.stampedText = [this] { return node.text(); };
        b.setFlag = [](const std::string& flag, bool on) { EXPECT_EQ(ctl(flag + (on ? " 1" : " 0")), 0u); };
        b.failNext = [](const std::string& op) { EXPECT_EQ(ctl("fail " + op), 0u); };
        b.failedNumber = static_cast<long>(E_FAIL);
        b.failedText = [](const std::string& op) {
            return op + ": " + op + " failed: the stand-in was told to fail it (--ctl fail)";
        };
        b.slowNext = [](milliseconds d) { EXPECT_EQ(ctl("stall " + std::to_string(d.count())), 0u); };
        // A stopped node: its thread, and with it every COM call, stands still.
        b.hang = [this] { EXPECT_NE(SuspendThread(node.mainThread()), static_cast<DWORD>(-1)); };
        b.timedOutNumber = static_cast<long>(RPC_E_TIMEOUT);
        b.timedOutText = [](const std::string& op) { return op + ": the node did not answer within 2 s"; };
        // While the timed-out call is out, the next ones fail at once; once
        // the node answers it, the link works again.
        b.afterHang = [this](NodeLink& link) {
            const Failure g = failureOf([&] { link.SetPtt(kNodeFalse); });
            EXPECT_EQ(g.number(), static_cast<long>(RPC_E_TIMEOUT));
            EXPECT_NE(g.description().find("SetPtt: the node has not yet answered an earlier call"), std::string::npos)
                << g.description();
            ResumeThread(node.mainThread());
            ASSERT_TRUE(pumpUntil([&] {
                try {
                    link.SetPtt(kNodeFalse);
                    return true;
                } catch (const Failure&) {
                    return false;
                }
            }));
            EXPECT_EQ(link.GetPttState(), kNodeFalse);
            EXPECT_EQ(node.trace().back(), "GetPttState => 0");
        };
        b.raiseDtmf = [](const std::string& digits) { EXPECT_EQ(ctl("dtmf " + digits), 0u); };
        b.raiseClosing = [] { EXPECT_EQ(ctl("close"), 0u); };
        b.vanish = [this] {
            EXPECT_EQ(ctl("vanish"), 0u);
            EXPECT_TRUE(node.ended(3000));
            EXPECT_EQ(node.exitCode(), 0u);
        };
        return b;
    }
    StandIn node;
    testing::ModalWatchdog watchdog;
};

TARNWICK_NODE_LINK_CONTRACT(ComNodeContract)
TEST_F(ComNodeContract, ASlowNodeIsWaitedFor) { test::aSlowNodeIsWaitedFor(bench()); }

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
