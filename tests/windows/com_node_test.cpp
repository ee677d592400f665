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
#include <memory>
#include <string>

#include "base/errors.h"
#include "shared/node_link_contract.h"
#include "station/dispatcher.h"
#include "windows/win_support.h"

namespace tarnwick {
namespace {

using test::failureOf;
using test::Lines;
using testing::pumpUntil;

std::string nodesimPath() { return testing::windowsPath(NODESIM_EXE_PATH); }

// Runs the stand-in's program with `arguments`: its exit status.
DWORD nodesim(const std::string& arguments) {
    DWORD code = 0;
    testing::runProgram(testing::quoted(nodesimPath()) + " " + arguments, code, true);
    return code;
}
DWORD ctl(const std::string& arguments) { return nodesim("--ctl " + arguments); }
bool setRegistered(bool on) { return nodesim(on ? "--register" : "--unregister") == 0; }

// A stand-in started by hand (headless) with its own trace file; ended when
// the object goes, whatever state it is in.
class StandIn {
public:
    StandIn() {
        // An earlier case's stand-in must be gone, or this one cannot start.
        pumpUntil([] { return ctl("state") != 0; });
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        std::string command = testing::quoted(nodesimPath()) + " --headless --trace " + testing::quoted(trace_);
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

std::unique_ptr<NodeLink> connect(NodeEvents& events) { return ComNodeConnector().create(events); }

// The contract, and what only COM has, against a stand-in of the case's own.
class ComNode : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(node.up()); }
    test::NodeBench bench() {
        using std::chrono::milliseconds;
        test::NodeBench b;
        b.connect = connect;
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
    test::EventLog events;
};

TARNWICK_NODE_LINK_CONTRACT(ComNode)
TEST_F(ComNode, ASlowNodeIsWaitedFor) { test::aSlowNodeIsWaitedFor(bench()); }

// A byte of the ANSI code page reaches the node as that character.
TEST_F(ComNode, SendCwTextSpeaksTheAnsiCodePage) {
    const std::string ansi = "73 \xE9";
    wchar_t wide[8] = {};
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide, 8);
    char utf8[16] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    connect(events)->SendCwText(0, ansi);
    EXPECT_EQ(node.trace(), Lines{std::string("SendCwText 0 \"") + utf8 + "\""});
}

// A closing node stays for its caller's unkey, and ends once its caller has
// released it.
TEST_F(ComNode, AClosingNodeAnswersUntilItsCallerHasGone) {
    auto link = connect(events);
    ASSERT_EQ(ctl("close"), 0u);
    ASSERT_TRUE(pumpUntil([&] { return !events.events.empty(); }));
    link->SetPtt(kNodeFalse);  // what Tarnwick does on Closing
    EXPECT_FALSE(node.ended(0));
    link.reset();
    ASSERT_TRUE(node.ended());
    EXPECT_EQ(node.exitCode(), 0u);
    EXPECT_EQ(node.trace(), (Lines{"event Closing", "SetPtt 0"}));
}

// Event ids come from the registered type library; unregistered, creation
// fails with the report the user sees; registered, it starts the node,
// which ends with its last caller.
TEST(ComNodeRegistration, GivesTheEventIdsAndCreationStartsTheNode) {
    test::EventLog events;
    ITypeLib* library = nullptr;
    ASSERT_HRESULT_SUCCEEDED(LoadRegTypeLib(kNodeLibraryId, kNodeLibraryMajor, kNodeLibraryMinor, 0, &library));
    // The stand-in's dispatch ids are not the operations' places, so that a
    // client calling by place rather than by name would miss.
    ITypeInfo* info = nullptr;
    ASSERT_HRESULT_SUCCEEDED(library->GetTypeInfoOfGuid(
        {0x7733112C, 0x4577, 0x4432, {0x9D, 0xB0, 0xA9, 0x39, 0x81, 0x84, 0xEA, 0xF6}}, &info));
    int place = 0;
    for (const wchar_t* name : {L"SetPtt", L"GetBusyFlagA", L"GetReceivingSignal", L"GetPttState", L"GetBusyFlagB",
                                L"SendCwText", L"GetSysopInfo", L"SetListedBusy"}) {
        LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        ASSERT_HRESULT_SUCCEEDED(info->GetIDsOfNames(names, 1, &id));
        EXPECT_NE(id, place + 1);
        EXPECT_NE(id, 0x60020000 + place++);
    }
    info->Release();
    library->Release();
    EXPECT_EQ(registeredEventIds(), (NodeEventIds{0x60020011, 0x60020012}));

    // Unregistered, the client falls back to ids 1 and 2 and no longer
    // recognises the stand-in's events: proof that delivery goes by the
    // looked-up ids.
    ASSERT_TRUE(setRegistered(false));
    EXPECT_EQ(registeredEventIds(), (NodeEventIds{1, 2}));
    const Failure f = failureOf([&] { connect(events); });
    EXPECT_EQ(f.number(), static_cast<long>(REGDB_E_CLASSNOTREG));
    EXPECT_EQ(Dispatcher::reportText(f),
              "Run-time error '-2147221164':\r\n\r\nno EchoLink node: CoCreateInstance of "
              "{D1FB3C9A-BB2D-446A-A74A-E771F134ED56} failed: " +
                  f.description().substr(f.description().find("failed: ") + 8));
    // Windows has a text for the status, Wine none; both show its number.
    EXPECT_NE(f.description().find("0x80040154"), std::string::npos) << f.description();
    {
        StandIn standIn;
        ASSERT_TRUE(standIn.up());
        auto link = connect(events);
        EXPECT_EQ(link->GetPttState(), kNodeFalse) << "calls by name need no registration";
        ASSERT_EQ(ctl("dtmf 55"), 0u);
        EXPECT_FALSE(pumpUntil([&] { return !events.events.empty(); }, 1000));
    }
    EXPECT_TRUE(setRegistered(false)) << "removing what is not there succeeds";

    ASSERT_TRUE(setRegistered(true));
    {
        auto link = connect(events);
        EXPECT_EQ(link->GetSysopInfo()->GetCallsign(), "N0CALL-L");
        EXPECT_EQ(ctl("state"), 0u) << "COM started the stand-in";
    }
    EXPECT_TRUE(pumpUntil([] { return ctl("state") != 0; })) << "the started stand-in outlived its caller";
}

// Last of all: Wine's COM keeps the class registration of a server that was
// killed and hands it to every later creation in the prefix (the prefix's
// Wine server is restarted after this program).
class ComNodeGone : public ComNode {};

TEST_F(ComNodeGone, ANodeThatHasGoneFailsTheCall) {
    auto link = connect(events);
    TerminateProcess(node.process(), 9);
    ASSERT_TRUE(node.ended());
    const Failure f = failureOf([&] { link->GetPttState(); });
    EXPECT_LT(f.number(), 0) << "an HRESULT: " << f.description();
    EXPECT_EQ(f.description().rfind("GetPttState: ", 0), 0u) << f.description();
}

}  // namespace
}  // namespace tarnwick

int main(int argc, char** argv) {
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
