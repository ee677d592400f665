// The stand-in's COM face: NodeSim's operations as a COM local server.
//
//   class {D1FB3C9A-...}  Node        the node object, one per creation
//   {7733112C-...}        INode       dual: every call by name or by slot
//   {ACD8531B-...}        ISysopInfo  dual: GetCallsign
//   {6F55F7AF-...}        DNodeEvents DTMFString, Closing, through the
//                                     node object's connection point
//
// Both dual interfaces dispatch through the type library embedded in the
// program (nodesim.idl), so calls by name reach the right operation and a
// client that guesses slots or ids does not. A call made to fail answers
// E_FAIL with an error description (DISP_E_EXCEPTION through IDispatch).
//
// Everything runs on the program's one thread, a single-threaded
// apartment: COM delivers calls as window messages of the message loop.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <ocidl.h>
#include <ole2.h>
#include <windows.h>

#include <functional>
#include <set>
#include <string>

#include "nodesim/node_sim.h"
#include "nodesim_h.h"  // made by widl from nodesim.idl
#include "wire/node_com.h"

namespace tarnwick::nodesim {

// The node's identifiers, shared with the program's COM link.
using wire::kNodeClassId;
using wire::kNodeClassIdText;
using wire::kNodeLibraryId;
using wire::kNodeLibraryIdText;
using wire::kNodeLibraryMajor;
using wire::kNodeLibraryMinor;

class NodeObject;

class NodeFace {
public:
    // `library` is the stand-in's own type library; the face keeps a
    // reference. Raises std::runtime_error when it does not describe the
    // node's interfaces.
    NodeFace(NodeSim& sim, ITypeLib* library);
    ~NodeFace();
    NodeFace(const NodeFace&) = delete;
    NodeFace& operator=(const NodeFace&) = delete;

    // Registers the class object, so that object creation anywhere in the
    // session reaches this process. Returns an empty string, or a sentence
    // saying why the stand-in cannot serve.
    std::string start();
    // Revokes the class object and cuts every object's remote references.
    // Safe to call again.
    void stop();

    NodeSim& sim() { return sim_; }

    // Trace the event, then raise it on every connected sink.
    void raiseDtmf(const std::string& digits);
    void raiseClosing();

    // Raises Closing (once) and ends the loop (onQuit) once every caller
    // has gone, at most kClosingGraceMs later. Until then the node still
    // answers: a closing node hears out the unkey and the last calls of its
    // clients, as a real one does while its closing event runs. A caller
    // has gone when it released its node object, or when its event sink no
    // longer answers (its process ended). Safe to call again.
    void closeAndQuit();
    static constexpr DWORD kClosingGraceMs = 5000;
    bool quitting() const { return quitting_; }

    // A node program that does not wait for its clients: raises Closing
    // (once) and takes the node off COM (stop()). From here on no call is
    // answered: one that COM delivers while Closing goes out finds the node
    // disconnected and is not traced. The caller then ends the process.
    void vanish();
    bool vanished() const { return vanished_; }

    // Started by COM activation (-Embedding): end once the callers that
    // came have all gone, as a local server does, or when none came within
    // kUnusedLimitMs.
    void endWhenUnused();
    static constexpr DWORD kUnusedLimitMs = 30000;

    // Ends the message loop; PostQuitMessage(0) unless replaced.
    std::function<void()> onQuit = [] { PostQuitMessage(0); };

    // ---- For the COM objects -------------------------------------------
    ITypeInfo* nodeInfo() const { return nodeInfo_; }
    ITypeInfo* sysopInfoInfo() const { return sysopInfo_; }
    void objectCreated(NodeObject* object);
    void objectGone(NodeObject* object);

private:
    static void CALLBACK onTimer(HWND, UINT, UINT_PTR id, DWORD);
    void fire(DISPID id, const std::wstring* digits);
    // True while any node object still has a caller (see closeAndQuit).
    bool anyCallerLeft();
    void checkClosing();
    void checkUnused();
    void quit();

    NodeSim& sim_;
    ITypeLib* library_;
    ITypeInfo* nodeInfo_ = nullptr;
    ITypeInfo* sysopInfo_ = nullptr;
    DISPID dtmfId_ = DISPID_UNKNOWN;
    DISPID closingId_ = DISPID_UNKNOWN;
    IClassFactory* factory_ = nullptr;
    DWORD classCookie_ = 0;
    std::set<NodeObject*> objects_;
    bool everUsed_ = false;
    bool closing_ = false;
    bool quitting_ = false;
    bool quit_ = false;
    bool vanished_ = false;
    bool embedded_ = false;
    bool checking_ = false;
    UINT_PTR closingTimer_ = 0;
    UINT_PTR unusedTimer_ = 0;
    ULONGLONG closingSince_ = 0;
    ULONGLONG startedAt_ = 0;
};

}  // namespace tarnwick::nodesim
