// The COM node client against the real stand-in, a COM local server of its
// own process in the same Wine prefix. Each case starts its own stand-in
// with a trace file and judges by what it traced.
#include "platform/windows/com_node.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/dispatcher.h"
#include "window/errors.h"
#include "windows/com_support.h"

namespace tarnwick {
namespace {

using testing::ctl;
using testing::EventLog;
using testing::pumpUntil;
using testing::StandIn;

using Lines = std::vector<std::string>;

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

std::string registryText(HKEY root, const char* key, const char* name = nullptr) {
    char value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueA(root, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return "<missing>";
    return value;
}

// The stand-in's own type library, read from its program file.
ITypeLib* nodesimLibrary() {
    const std::string path = testing::nodesimPath();
    const std::wstring wide(path.begin(), path.end());
    ITypeLib* library = nullptr;
    EXPECT_HRESULT_SUCCEEDED(LoadTypeLibEx(wide.c_str(), REGKIND_NONE, &library));
    return library;
}

class ComNodeTest : public ::testing::Test {
protected:
    std::unique_ptr<NodeLink> connect() { return ComNodeConnector().create(events); }
    EventLog events;
    testing::ModalWatchdog watchdog;
};

// ---- Registration and the type library -------------------------------------

TEST(ComRegistration, RegistersClassLibraryAndMarshallingForTheUser) {
    ASSERT_TRUE(testing::registerNodesim());
    const std::string clsid = "Software\\Classes\\CLSID\\{D1FB3C9A-BB2D-446A-A74A-E771F134ED56}";
    EXPECT_EQ(registryText(HKEY_CURRENT_USER, (clsid + "\\LocalServer32").c_str()),
              testing::quotedPath(testing::nodesimPath()));
    EXPECT_EQ(registryText(HKEY_CURRENT_USER, (clsid + "\\TypeLib").c_str()), "{4CF5B97B-A0F5-41F3-848C-6E25FAB62AD3}");
    // The dual interfaces cross processes through the type library marshaller.
    for (const char* iid : {"{7733112C-4577-4432-9DB0-A9398184EAF6}", "{ACD8531B-B0CE-4F14-9405-6AB8AC5C9EFA}"}) {
        const std::string key = std::string("Interface\\") + iid + "\\ProxyStubClsid32";
        EXPECT_EQ(registryText(HKEY_CLASSES_ROOT, key.c_str()), "{00020424-0000-0000-C000-000000000046}") << iid;
    }
    ITypeLib* library = nullptr;
    ASSERT_HRESULT_SUCCEEDED(LoadRegTypeLib(kNodeLibraryId, 1, 8, 0, &library));
    TLIBATTR* attr = nullptr;
    ASSERT_HRESULT_SUCCEEDED(library->GetLibAttr(&attr));
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 8);
    library->ReleaseTLibAttr(attr);
    library->Release();

    ASSERT_TRUE(testing::unregisterNodesim());
    EXPECT_EQ(registryText(HKEY_CURRENT_USER, (clsid + "\\LocalServer32").c_str()), "<missing>");
    EXPECT_HRESULT_FAILED(LoadRegTypeLib(kNodeLibraryId, 1, 8, 0, &library));
    EXPECT_TRUE(testing::unregisterNodesim()) << "removing what is not there succeeds";
    ASSERT_TRUE(testing::registerNodesim());
}

TEST(ComTypeLibrary, OperationsAreReachedByNameOnlyAndEventIdsAreNotTheirPlaces) {
    ITypeLib* library = nodesimLibrary();
    ASSERT_NE(library, nullptr);
    ITypeInfo* node = nullptr;
    ASSERT_HRESULT_SUCCEEDED(library->GetTypeInfoOfGuid(
        {0x7733112C, 0x4577, 0x4432, {0x9D, 0xB0, 0xA9, 0x39, 0x81, 0x84, 0xEA, 0xF6}}, &node));
    // Counting from 1 (or from the first slot after IDispatch) misses.
    const wchar_t* names[] = {L"SetPtt",       L"GetBusyFlagA", L"GetReceivingSignal", L"GetPttState",
                              L"GetBusyFlagB", L"SendCwText",   L"GetSysopInfo",       L"SetListedBusy"};
    for (int i = 0; i < 8; ++i) {
        LPOLESTR name[1] = {const_cast<LPOLESTR>(names[i])};
        DISPID id = DISPID_UNKNOWN;
        ASSERT_HRESULT_SUCCEEDED(node->GetIDsOfNames(name, 1, &id));
        EXPECT_NE(id, i + 1);
        EXPECT_NE(id, 0x60020000 + i);
    }
    node->Release();

    const NodeEventIds ids = eventIdsFrom(library);
    EXPECT_EQ(ids.dtmfString, 0x60020011);
    EXPECT_EQ(ids.closing, 0x60020012);
    library->Release();
}

// A type library that knows nothing of the event interface, or (with
// `events`) only what that type information says.
class FakeLibrary final : public ITypeLib {
public:
    explicit FakeLibrary(ITypeInfo* events = nullptr) : events_(events) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ITypeLib) ? this : nullptr;
        return *out != nullptr ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    UINT STDMETHODCALLTYPE GetTypeInfoCount() override { return 0; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, ITypeInfo**) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT, TYPEKIND*) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** out) override {
        *out = nullptr;
        if (events_ == nullptr || !IsEqualGUID(guid, kNodeEventsId)) return TYPE_E_ELEMENTNOTFOUND;
        events_->AddRef();
        *out = events_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDocumentation(INT, BSTR*, BSTR*, DWORD*, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsName(LPOLESTR, ULONG, BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*, USHORT*) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR*) override {}

private:
    ITypeInfo* events_;
};

TEST(ComEventIds, FallBackToTheirPlacesWithoutATypeLibrary) {
    EXPECT_EQ(eventIdsFrom(nullptr), (NodeEventIds{1, 2}));
    FakeLibrary empty;
    EXPECT_EQ(eventIdsFrom(&empty), (NodeEventIds{1, 2}));

    // An event interface that names DTMFString only: Closing keeps its place.
    METHODDATA methods[1] = {};
    methods[0].szName = const_cast<OLECHAR*>(L"DTMFString");
    methods[0].dispid = 77;
    methods[0].cc = CC_STDCALL;
    methods[0].wFlags = DISPATCH_METHOD;
    methods[0].vtReturn = VT_EMPTY;
    INTERFACEDATA data{methods, 1};
    ITypeInfo* info = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CreateDispTypeInfo(&data, LOCALE_SYSTEM_DEFAULT, &info));
    FakeLibrary partial(info);
    EXPECT_EQ(eventIdsFrom(&partial), (NodeEventIds{77, 2}));
    info->Release();
}

// ---- The eight operations --------------------------------------------------

TEST_F(ComNodeTest, EveryOperationIsTracedAndAnswered) {
    StandIn node("--call K1ABC-L");
    ASSERT_TRUE(node.up());
    auto link = connect();

    EXPECT_EQ(link->GetSysopInfo()->GetCallsign(), "K1ABC-L");
    link->SetPtt(kNodeTrue);
    EXPECT_EQ(link->GetPttState(), kNodeTrue);
    link->SetPtt(kNodeFalse);
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    EXPECT_FALSE(NodeInUse(*link));

    ASSERT_EQ(ctl("rx 1"), 0u);
    EXPECT_EQ(link->GetReceivingSignal(), kNodeTrue);
    ASSERT_EQ(ctl("rx 0"), 0u);
    ASSERT_EQ(ctl("busy-a 1"), 0u);
    EXPECT_EQ(link->GetBusyFlagA(), kNodeTrue);
    ASSERT_EQ(ctl("busy-a 0"), 0u);
    ASSERT_EQ(ctl("busy-b 1"), 0u);
    EXPECT_EQ(link->GetBusyFlagB(), kNodeTrue);
    EXPECT_TRUE(NodeInUse(*link));

    link->SetListedBusy(kNodeTrue);
    // The characters the trace escapes.
    link->SendCwText(0, "CQ \"x\" \\");

    std::string state;
    ASSERT_EQ(ctl("state", &state), 0u);
    EXPECT_EQ(state, R"(ptt=-1 listed_busy=-1 rx=0 busy_a=0 busy_b=-1 cw="CQ \"x\" \\")");

    EXPECT_EQ(node.trace(), (Lines{
                                "GetSysopInfo",
                                R"(GetCallsign => "K1ABC-L")",
                                "SetPtt -1",
                                "GetPttState => -1",
                                "SetPtt 0",
                                "GetPttState => 0",
                                "GetBusyFlagA => 0",  // NodeInUse: all three, in order
                                "GetReceivingSignal => 0",
                                "GetBusyFlagB => 0",
                                "GetReceivingSignal => -1",
                                "GetBusyFlagA => -1",
                                "GetBusyFlagB => -1",
                                "GetBusyFlagA => 0",
                                "GetReceivingSignal => 0",
                                "GetBusyFlagB => -1",
                                "SetListedBusy -1",
                                R"(SendCwText 0 "CQ \"x\" \\")",
                            }));
}

TEST_F(ComNodeTest, BooleansCrossAsTheyArePassedAndAnyNonZeroIsTrue) {
    StandIn node;
    ASSERT_TRUE(node.up());
    auto link = connect();
    link->SetPtt(1);
    EXPECT_EQ(link->GetPttState(), kNodeTrue);
    link->SetListedBusy(5);
    link->SetPtt(kNodeFalse);
    std::string state;
    ASSERT_EQ(ctl("state", &state), 0u);
    EXPECT_EQ(state.rfind("ptt=0 listed_busy=-1 ", 0), 0u) << state;
    EXPECT_EQ(node.trace(), (Lines{"SetPtt 1", "GetPttState => -1", "SetListedBusy 5", "SetPtt 0"}));
}

TEST_F(ComNodeTest, SendCwTextKeysTheTransmitterForTheMorseTimeAndSpeaksTheAnsiCodePage) {
    StandIn node("--cw-wpm 40");  // "PARIS " lasts 1500 ms
    ASSERT_TRUE(node.up());
    auto link = connect();
    const ULONGLONG sent = GetTickCount64();
    link->SendCwText(0, "PARIS ");
    EXPECT_EQ(link->GetPttState(), kNodeTrue);
    ASSERT_TRUE(pumpUntil([&] { return link->GetPttState() == kNodeFalse; }));
    // The stand-in cannot unkey before the Morse has been sent; an upper
    // bound would only measure how busy this machine is.
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
    EXPECT_EQ(trace.back(), std::string("SendCwText 0 \"") + utf8 + "\"");
    EXPECT_EQ(trace.front(), "SendCwText 0 \"PARIS \"");
}

// ---- Events ----------------------------------------------------------------

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

TEST_F(ComNodeTest, EventIdsComeFromTheRegisteredTypeLibrary) {
    // Registered: the stand-in's ids, which are not the events' places.
    EXPECT_EQ(registeredEventIds(), (NodeEventIds{0x60020011, 0x60020012}));

    // Without the type library the client falls back to 1 and 2, and the
    // stand-in's events (sent with its own ids) are not recognised: proof
    // that delivery above went by the looked-up ids.
    ASSERT_TRUE(testing::unregisterNodesim());
    EXPECT_EQ(registeredEventIds(), (NodeEventIds{1, 2}));
    {
        StandIn node;
        ASSERT_TRUE(node.up());
        auto link = connect();
        EXPECT_EQ(link->GetPttState(), kNodeFalse) << "calls by name need no registration";
        ASSERT_EQ(ctl("dtmf 55"), 0u);
        EXPECT_FALSE(pumpUntil([&] { return !events.events.empty(); }, 1000));
    }
    ASSERT_TRUE(testing::registerNodesim());
}

// ---- Failures --------------------------------------------------------------

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

TEST_F(ComNodeTest, WithoutANodeCreationFailsWithTheReportText) {
    ASSERT_TRUE(testing::unregisterNodesim());
    ASSERT_NE(ctl("state"), 0u) << "a stand-in still runs";
    const Failure f = failureOf([&] { connect(); });
    EXPECT_EQ(f.number(), static_cast<long>(REGDB_E_CLASSNOTREG));
    EXPECT_EQ(Dispatcher::reportText(f),
              "Run-time error '-2147221164':\r\n\r\nno EchoLink node: CoCreateInstance of "
              "{D1FB3C9A-BB2D-446A-A74A-E771F134ED56} failed: " +
                  f.description().substr(f.description().find("failed: ") + 8));
    // Windows has a text for the status, Wine none; both show its number.
    EXPECT_NE(f.description().find("0x80040154"), std::string::npos) << f.description();
    ASSERT_TRUE(testing::registerNodesim());
}

TEST_F(ComNodeTest, ARegisteredNodeIsStartedByCreationAndEndsWithItsLastCaller) {
    ASSERT_NE(ctl("state"), 0u) << "a stand-in still runs";
    {
        auto link = connect();
        EXPECT_EQ(link->GetSysopInfo()->GetCallsign(), "N0CALL-L");
        EXPECT_EQ(ctl("state"), 0u) << "COM started the stand-in";
    }
    EXPECT_TRUE(pumpUntil([] { return ctl("state") != 0; })) << "the started stand-in outlived its caller";
}

TEST_F(ComNodeTest, ANodeThatDoesNotAnswerFailsTheCallAndRecovers) {
    StandIn node;
    ASSERT_TRUE(node.up());
    auto link = connect();
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
    const Lines trace = node.trace();
    EXPECT_EQ(trace.front(), "GetPttState => 0");
    EXPECT_EQ(trace.back(), "GetPttState => 0");
}

// ---- The closing grace -----------------------------------------------------

TEST_F(ComNodeTest, AClosingNodeAnswersUntilItsCallerHasGone) {
    StandIn node;
    ASSERT_TRUE(node.up());
    auto link = connect();
    ASSERT_EQ(ctl("close"), 0u);
    ASSERT_TRUE(pumpUntil([&] { return !events.events.empty(); }));
    EXPECT_EQ(events.events, Lines{"Closing"});
    // What Tarnwick does on Closing: unkey. The node is still there for it.
    link->SetPtt(kNodeFalse);
    EXPECT_FALSE(node.waitUntilEnded(0));
    link.reset();
    ASSERT_TRUE(node.waitUntilEnded());
    EXPECT_EQ(node.exitCode(), 0u);
    EXPECT_EQ(node.trace(), (Lines{"event Closing", "SetPtt 0"}));
}

TEST_F(ComNodeTest, AClosingNodeEndsOnceACallerThatWasKilledHasGone) {
    StandIn node;
    ASSERT_TRUE(node.up());
    DWORD code = 0;
    EXPECT_EQ(testing::runSelf(testing::kConnectAndDieFlag, code).rfind("connected", 0), 0u);
    ASSERT_EQ(ctl("close"), 0u);
    ASSERT_TRUE(node.waitUntilEnded());
    EXPECT_EQ(node.exitCode(), 0u);
    EXPECT_EQ(node.trace(), (Lines{"SetPtt 0", "event Closing"}));
}

TEST(ComNodeControl, FailsWithAMessageWhenNoStandInRuns) {
    ASSERT_TRUE(pumpUntil([] { return ctl("state") != 0; }));
    std::string out;
    EXPECT_EQ(ctl("dtmf 1", &out), 1u);
    EXPECT_EQ(out.rfind("tarnwick-nodesim: no stand-in node runs in this session", 0), 0u) << out;
}

// Last of all: Wine's COM keeps the class registration of a server that
// was killed, and hands it out to every later creation in the prefix (the
// prefix's Wine server is restarted after this program).
class ComNodeGoneTest : public ComNodeTest {};

TEST_F(ComNodeGoneTest, ANodeThatHasGoneFailsTheCall) {
    StandIn node;
    ASSERT_TRUE(node.up());
    auto link = connect();
    TerminateProcess(node.process(), 9);
    ASSERT_TRUE(node.waitUntilEnded());
    const Failure f = failureOf([&] { link->GetPttState(); });
    EXPECT_LT(f.number(), 0) << "an HRESULT: " << f.description();
    EXPECT_EQ(f.description().rfind("GetPttState: ", 0), 0u) << f.description();
}

}  // namespace
}  // namespace tarnwick
