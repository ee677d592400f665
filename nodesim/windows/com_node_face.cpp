#include "nodesim/windows/com_node_face.h"

#include <olectl.h>

#include <atomic>
#include <map>
#include <stdexcept>
#include <vector>

#include "nodesim/windows/win_text.h"

namespace tarnwick::nodesim {

namespace {

// The one face of the process, for the timer callbacks.
NodeFace* g_face = nullptr;

constexpr UINT kClosingCheckMs = 20;
constexpr UINT kUnusedCheckMs = 1000;

// An error description for the caller, then the status. ITypeInfo::Invoke
// turns it into DISP_E_EXCEPTION with this text for callers by name.
HRESULT answerError(const IID& iid, const std::wstring& text, HRESULT status) {
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetGUID(iid);
        create->SetSource(const_cast<LPOLESTR>(L"TarnwickNodeLib.Node"));
        create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return status;
}

HRESULT failed(const IID& iid, Operation op) {
    return answerError(iid, wideFromUtf8(operationName(op)) + L" failed: the stand-in was told to fail it (--ctl fail)",
                       E_FAIL);
}

// Statuses that say the other process is gone, not that it refused.
bool peerGone(HRESULT hr) {
    switch (hr) {
        case RPC_E_DISCONNECTED:
        case RPC_E_SERVER_DIED:
        case RPC_E_SERVER_DIED_DNE:
        case CO_E_OBJNOTCONNECTED:
        case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
        case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
        case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
        case HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE):
            return true;
        default:
            return false;
    }
}

// The interface half of a dual interface's type information: Invoke needs
// the vtable layout, not the dispatch view.
ITypeInfo* interfaceInfo(ITypeLib* library, const IID& iid) {
    ITypeInfo* info = nullptr;
    if (FAILED(library->GetTypeInfoOfGuid(iid, &info))) return nullptr;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) {
        info->Release();
        return nullptr;
    }
    const bool dispatchView = attr->typekind == TKIND_DISPATCH;
    info->ReleaseTypeAttr(attr);
    if (!dispatchView) return info;
    HREFTYPE ref = 0;
    ITypeInfo* vtableView = nullptr;
    if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref))) info->GetRefTypeInfo(ref, &vtableView);
    info->Release();
    return vtableView;
}

DISPID memberId(ITypeInfo* info, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    if (info == nullptr || FAILED(info->GetIDsOfNames(names, 1, &id))) return DISPID_UNKNOWN;
    return id;
}

// What the trace shows for a VARIANT that is not a string.
std::string variantTypeName(VARTYPE vt) {
    switch (vt & VT_TYPEMASK) {
        case VT_EMPTY:
            return "empty";
        case VT_NULL:
            return "null";
        case VT_I2:
            return "short";
        case VT_I4:
            return "int";
        case VT_R4:
            return "float";
        case VT_R8:
            return "double";
        case VT_BOOL:
            return "bool";
        case VT_DISPATCH:
            return "object";
        default:
            return "vt " + std::to_string(vt);
    }
}

// IUnknown's reference count, shared by the objects below.
class RefCounted {
protected:
    ULONG addRef() { return static_cast<ULONG>(++refs_); }
    ULONG release() { return static_cast<ULONG>(--refs_); }
    ULONG refs() const { return static_cast<ULONG>(refs_.load()); }

private:
    std::atomic<long> refs_{1};
};

class SysopInfoObject final : public ISysopInfo, public ISupportErrorInfo, private RefCounted {
public:
    explicit SysopInfoObject(NodeFace& face) : face_(face) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, __uuidof(ISysopInfo))) {
            *out = static_cast<ISysopInfo*>(this);
        } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
            *out = static_cast<ISupportErrorInfo*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = release();
        if (left == 0) delete this;
        return left;
    }

    // IDispatch, through the type library.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        if (out == nullptr) return E_POINTER;
        if (index != 0) return DISP_E_BADINDEX;
        *out = face_.sysopInfoInfo();
        (*out)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return DispGetIDsOfNames(face_.sysopInfoInfo(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        return DispInvoke(static_cast<ISysopInfo*>(this), face_.sysopInfoInfo(), id, flags, params, result, exception,
                          argError);
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, __uuidof(ISysopInfo)) ? S_OK : S_FALSE;
    }

    // ISysopInfo
    HRESULT STDMETHODCALLTYPE GetCallsign(BSTR* callsign) override {
        if (callsign == nullptr) return E_POINTER;
        *callsign = nullptr;
        if (face_.vanished()) return RPC_E_DISCONNECTED;
        const auto answer = face_.sim().GetCallsign();
        if (!answer) return failed(__uuidof(ISysopInfo), Operation::GetCallsign);
        *callsign = SysAllocString(wideFromUtf8(*answer).c_str());
        return *callsign != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE Reserved1(BSTR* text) override {
        if (text != nullptr) *text = nullptr;
        return answerError(__uuidof(ISysopInfo), L"Reserved1 is not played by the stand-in", E_NOTIMPL);
    }

private:
    NodeFace& face_;
};

}  // namespace

// One node object per creation, all of them on the one NodeSim. Its
// connection point holds the event sinks of the client that created it.
class NodeObject final : public INode, public IConnectionPointContainer, public ISupportErrorInfo, private RefCounted {
public:
    explicit NodeObject(NodeFace& face) : face_(face), point_(*this) { face_.objectCreated(this); }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, __uuidof(INode))) {
            *out = static_cast<INode*>(this);
        } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
            *out = static_cast<IConnectionPointContainer*>(this);
        } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
            *out = static_cast<ISupportErrorInfo*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = release();
        if (left == 0) {
            point_.dropAll();
            face_.objectGone(this);
            delete this;
        }
        return left;
    }

    // IDispatch, through the type library.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        if (out == nullptr) return E_POINTER;
        if (index != 0) return DISP_E_BADINDEX;
        *out = face_.nodeInfo();
        (*out)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return DispGetIDsOfNames(face_.nodeInfo(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        return DispInvoke(static_cast<INode*>(this), face_.nodeInfo(), id, flags, params, result, exception, argError);
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, __uuidof(INode)) ? S_OK : S_FALSE;
    }

    // INode: the eight operations. A node that has vanished answers none
    // of them (see NodeFace::vanish).
    HRESULT STDMETHODCALLTYPE SetPtt(VARIANT_BOOL on) override {
        if (face_.vanished()) return RPC_E_DISCONNECTED;
        return sim().SetPtt(on) ? S_OK : failed(__uuidof(INode), Operation::SetPtt);
    }
    HRESULT STDMETHODCALLTYPE GetBusyFlagA(VARIANT_BOOL* busy) override {
        if (face_.vanished()) return RPC_E_DISCONNECTED;
        return answer(Operation::GetBusyFlagA, sim().GetBusyFlagA(), busy);
    }
    HRESULT STDMETHODCALLTYPE GetReceivingSignal(VARIANT_BOOL* receiving) override {
        if (face_.vanished()) return RPC_E_DISCONNECTED;
        return answer(Operation::GetReceivingSignal, sim().GetReceivingSignal(), receiving);
    }
    HRESULT STDMETHODCALLTYPE GetPttState(VARIANT_BOOL* keyed) override {
        if (face_.vanished()) return RPC_E_DISCONNECTED;
        return answer(Operation::GetPttState, sim().GetPttState(), keyed);
    }
    HRESULT STDMETHODCALLTYPE GetBusyFlagB(VARIANT_BOOL* busy) override {
        if (face_.vanished()) return RPC_E_DISCONNECTED;
        return answer(Operation::GetBusyFlagB, sim().GetBusyFlagB(), busy);
    }
    HRESULT STDMETHODCALLTYPE SendCwText(LONG mode, VARIANT text) override {
        if (face_.vanished()) return RPC_E_DISCONNECTED;
        VARIANT* value = &text;
        while (V_VT(value) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(value) != nullptr) value = V_VARIANTREF(value);
        const BSTR* string = V_VT(value) == VT_BSTR                ? &V_BSTR(value)
                             : V_VT(value) == (VT_BSTR | VT_BYREF) ? V_BSTRREF(value)
                                                                   : nullptr;
        if (string == nullptr) {
            // The same refusal as the D-Bus face's for a non-string variant.
            sim().traceRejected(Operation::SendCwText,
                                std::to_string(mode) + " <" + variantTypeName(V_VT(value)) + ">");
            return answerError(__uuidof(INode), L"SendCwText: the text must be a string variant", DISP_E_TYPEMISMATCH);
        }
        const std::string utf8 = utf8FromWide(std::wstring_view(*string, SysStringLen(*string)));
        return sim().SendCwText(mode, utf8) ? S_OK : failed(__uuidof(INode), Operation::SendCwText);
    }
    HRESULT STDMETHODCALLTYPE GetSysopInfo(ISysopInfo** info) override {
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        if (face_.vanished()) return RPC_E_DISCONNECTED;
        if (!sim().GetSysopInfo()) return failed(__uuidof(INode), Operation::GetSysopInfo);
        *info = new SysopInfoObject(face_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetListedBusy(VARIANT_BOOL busy) override {
        if (face_.vanished()) return RPC_E_DISCONNECTED;
        return sim().SetListedBusy(busy) ? S_OK : failed(__uuidof(INode), Operation::SetListedBusy);
    }

    // INode: the places of the operations nobody here calls.
    HRESULT STDMETHODCALLTYPE Reserved1() override { return notPlayed(L"Reserved1"); }
    HRESULT STDMETHODCALLTYPE Reserved2(LONG) override { return notPlayed(L"Reserved2"); }
    HRESULT STDMETHODCALLTYPE Reserved3(VARIANT_BOOL* value) override {
        if (value != nullptr) *value = VARIANT_FALSE;
        return notPlayed(L"Reserved3");
    }
    HRESULT STDMETHODCALLTYPE Reserved4(BSTR) override { return notPlayed(L"Reserved4"); }
    HRESULT STDMETHODCALLTYPE Reserved5() override { return notPlayed(L"Reserved5"); }

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
        if (out != nullptr) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(riid, __uuidof(DNodeEvents))) return CONNECT_E_NOCONNECTION;
        *out = &point_;
        point_.AddRef();
        return S_OK;
    }

    // ---- For the face ------------------------------------------------------

    // The sinks connected now, each with a reference for the caller.
    std::vector<IDispatch*> sinks() { return point_.sinks(); }
    void forget(IDispatch* sink) {
        if (point_.drop(sink)) clientDied_ = true;
    }

    // Whether the client that created this object may still call it: it
    // holds the object (COM releases it when the client goes away in an
    // orderly way) and, if it connected sinks, one of them still answers.
    bool callerPresent() {
        if (clientDied_) return false;
        if (!point_.everConnected()) return true;
        for (IDispatch* sink : point_.sinks()) {
            UINT count = 0;
            const HRESULT hr = sink->GetTypeInfoCount(&count);
            if (peerGone(hr)) forget(sink);
            sink->Release();
        }
        return !clientDied_;
    }

private:
    class Point final : public IConnectionPoint {
    public:
        explicit Point(NodeObject& owner) : owner_(owner) {}

        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
            if (out == nullptr) return E_POINTER;
            *out = nullptr;
            if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
            *out = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        // The point lives inside the node object and keeps it alive.
        ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }

        HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
            if (iid == nullptr) return E_POINTER;
            *iid = __uuidof(DNodeEvents);
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override {
            if (out == nullptr) return E_POINTER;
            *out = static_cast<IConnectionPointContainer*>(&owner_);
            owner_.AddRef();
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
            if (sink == nullptr || cookie == nullptr) return E_POINTER;
            *cookie = 0;
            // The event interface where the client's side can marshal it
            // (its type library is registered), plain IDispatch otherwise.
            IDispatch* dispatch = nullptr;
            if (FAILED(sink->QueryInterface(__uuidof(DNodeEvents), reinterpret_cast<void**>(&dispatch))) &&
                FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
                return CONNECT_E_CANNOTCONNECT;
            }
            *cookie = ++lastCookie_;
            sinks_[*cookie] = dispatch;
            everConnected_ = true;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
            const auto it = sinks_.find(cookie);
            if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
            IDispatch* sink = it->second;
            sinks_.erase(it);
            sink->Release();
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override {
            if (out != nullptr) *out = nullptr;
            return E_NOTIMPL;
        }

        std::vector<IDispatch*> sinks() {
            std::vector<IDispatch*> out;
            for (auto& [cookie, sink] : sinks_) {
                sink->AddRef();
                out.push_back(sink);
            }
            return out;
        }
        // Drops `sink`; true if it was connected.
        bool drop(IDispatch* sink) {
            for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
                if (it->second == sink) {
                    sinks_.erase(it);
                    sink->Release();
                    return true;
                }
            }
            return false;
        }
        void dropAll() {
            auto sinks = std::move(sinks_);
            sinks_.clear();
            for (auto& [cookie, sink] : sinks) sink->Release();
        }
        bool everConnected() const { return everConnected_; }

    private:
        NodeObject& owner_;
        std::map<DWORD, IDispatch*> sinks_;
        DWORD lastCookie_ = 0;
        bool everConnected_ = false;
    };

    NodeSim& sim() { return face_.sim(); }

    HRESULT answer(Operation op, std::optional<Bool16> value, VARIANT_BOOL* out) {
        if (out == nullptr) return E_POINTER;
        *out = VARIANT_FALSE;
        if (!value) return failed(__uuidof(INode), op);
        *out = *value;
        return S_OK;
    }

    static HRESULT notPlayed(const wchar_t* name) {
        return answerError(__uuidof(INode), std::wstring(name) + L" is not played by the stand-in", E_NOTIMPL);
    }

    NodeFace& face_;
    Point point_;
    bool clientDied_ = false;
};

namespace {

class NodeClassFactory final : public IClassFactory, private RefCounted {
public:
    explicit NodeClassFactory(NodeFace& face) : face_(face) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = release();
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        if (face_.quitting()) return CO_E_SERVER_STOPPING;
        auto* node = new NodeObject(face_);
        const HRESULT hr = node->QueryInterface(riid, out);
        node->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    NodeFace& face_;
};

}  // namespace

// ---- NodeFace ---------------------------------------------------------------

NodeFace::NodeFace(NodeSim& sim, ITypeLib* library) : sim_(sim), library_(library) {
    library_->AddRef();
    nodeInfo_ = interfaceInfo(library_, __uuidof(INode));
    sysopInfo_ = interfaceInfo(library_, __uuidof(ISysopInfo));
    ITypeInfo* events = nullptr;
    if (SUCCEEDED(library_->GetTypeInfoOfGuid(__uuidof(DNodeEvents), &events))) {
        dtmfId_ = memberId(events, L"DTMFString");
        closingId_ = memberId(events, L"Closing");
        events->Release();
    }
    if (nodeInfo_ == nullptr || sysopInfo_ == nullptr || dtmfId_ == DISPID_UNKNOWN || closingId_ == DISPID_UNKNOWN) {
        if (nodeInfo_ != nullptr) nodeInfo_->Release();
        if (sysopInfo_ != nullptr) sysopInfo_->Release();
        library_->Release();
        throw std::runtime_error("the program's type library does not describe the node's interfaces");
    }
    g_face = this;
    startedAt_ = GetTickCount64();
}

NodeFace::~NodeFace() {
    stop();
    if (closingTimer_ != 0) KillTimer(nullptr, closingTimer_);
    if (unusedTimer_ != 0) KillTimer(nullptr, unusedTimer_);
    g_face = nullptr;
    nodeInfo_->Release();
    sysopInfo_->Release();
    library_->Release();
}

std::string NodeFace::start() {
    factory_ = new NodeClassFactory(*this);
    const HRESULT hr =
        CoRegisterClassObject(kNodeClassId, factory_, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &classCookie_);
    if (FAILED(hr)) {
        factory_->Release();
        factory_ = nullptr;
        return "cannot register the node class with COM: " + errorText(static_cast<DWORD>(hr));
    }
    return {};
}

void NodeFace::stop() {
    if (classCookie_ != 0) {
        CoRevokeClassObject(classCookie_);
        classCookie_ = 0;
    }
    if (factory_ != nullptr) {
        factory_->Release();
        factory_ = nullptr;
    }
    // Callers that still hold objects get "disconnected" from now on rather
    // than calls into a process that is ending.
    const std::set<NodeObject*> objects = objects_;
    for (NodeObject* object : objects) {
        if (objects_.count(object) != 0) CoDisconnectObject(static_cast<INode*>(object), 0);
    }
}

void NodeFace::objectCreated(NodeObject* object) {
    objects_.insert(object);
    everUsed_ = true;
}

void NodeFace::objectGone(NodeObject* object) {
    objects_.erase(object);
    // A server that COM started ends with the release of its last object.
    if (embedded_ && objects_.empty() && !quitting_) quit();
}

void NodeFace::raiseDtmf(const std::string& digits) {
    sim_.noteDtmf(digits);
    const std::wstring wide = wideFromUtf8(digits);
    fire(dtmfId_, &wide);
}

void NodeFace::raiseClosing() {
    if (closing_) return;
    closing_ = true;
    sim_.noteClosing();
    fire(closingId_, nullptr);
}

void NodeFace::fire(DISPID id, const std::wstring* digits) {
    // Collected first: while an event is out, COM delivers incoming calls,
    // and a client may release its object or connect another sink.
    std::vector<std::pair<NodeObject*, IDispatch*>> targets;
    for (NodeObject* object : objects_) {
        object->AddRef();
        for (IDispatch* sink : object->sinks()) {
            object->AddRef();
            targets.emplace_back(object, sink);
        }
        object->Release();
    }
    for (auto& [object, sink] : targets) {
        VARIANT arg;
        VariantInit(&arg);
        DISPPARAMS params{};
        if (digits != nullptr) {
            V_VT(&arg) = VT_BSTR;
            V_BSTR(&arg) = SysAllocStringLen(digits->data(), static_cast<UINT>(digits->size()));
            params.rgvarg = &arg;
            params.cArgs = 1;
        }
        const HRESULT hr =
            sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        VariantClear(&arg);
        if (peerGone(hr)) object->forget(sink);
        sink->Release();
        object->Release();
    }
}

void NodeFace::closeAndQuit() {
    if (quitting_) return;
    quitting_ = true;
    raiseClosing();
    closingSince_ = GetTickCount64();
    closingTimer_ = SetTimer(nullptr, 0, kClosingCheckMs, &NodeFace::onTimer);
    checkClosing();
}

void NodeFace::vanish() {
    // Before Closing goes out: COM may deliver a caller's next call while
    // the event is on its way.
    vanished_ = true;
    raiseClosing();
    stop();
}

void NodeFace::endWhenUnused() {
    embedded_ = true;
    unusedTimer_ = SetTimer(nullptr, 0, kUnusedCheckMs, &NodeFace::onTimer);
}

bool NodeFace::anyCallerLeft() {
    std::vector<NodeObject*> objects(objects_.begin(), objects_.end());
    for (NodeObject* object : objects) object->AddRef();
    bool any = false;
    for (NodeObject* object : objects) {
        if (!any && object->callerPresent()) any = true;
        object->Release();
    }
    return any;
}

void NodeFace::checkClosing() {
    // A check makes calls to the sinks, inside which COM may deliver the
    // next timer message; one check at a time.
    if (quit_ || checking_) return;
    checking_ = true;
    const bool waiting = anyCallerLeft() && GetTickCount64() - closingSince_ < kClosingGraceMs;
    checking_ = false;
    if (!waiting) quit();
}

void NodeFace::checkUnused() {
    if (quit_ || checking_ || quitting_) return;
    checking_ = true;
    const bool unused = everUsed_ ? !anyCallerLeft() : GetTickCount64() - startedAt_ >= kUnusedLimitMs;
    checking_ = false;
    if (unused) quit();
}

void NodeFace::quit() {
    if (quit_) return;
    quit_ = true;
    if (closingTimer_ != 0) KillTimer(nullptr, closingTimer_);
    if (unusedTimer_ != 0) KillTimer(nullptr, unusedTimer_);
    closingTimer_ = unusedTimer_ = 0;
    // No new objects from here on; the loop ends after this message.
    if (classCookie_ != 0) {
        CoRevokeClassObject(classCookie_);
        classCookie_ = 0;
    }
    if (onQuit) onQuit();
}

void CALLBACK NodeFace::onTimer(HWND, UINT, UINT_PTR id, DWORD) {
    NodeFace* face = g_face;
    if (face == nullptr) return;
    if (id == face->closingTimer_) face->checkClosing();
    if (id == face->unusedTimer_) face->checkUnused();
}

}  // namespace tarnwick::nodesim
