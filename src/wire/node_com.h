// The node's COM identifiers, as EchoLink registers them: the program's COM
// link creates the node and sinks its events by them, and the stand-in
// node registers and serves them. Declared once here so that the two cannot
// drift apart. Windows only.
#pragma once

#include <guiddef.h>
#include <windef.h>

namespace tarnwick::wire {

// The node object's class.
inline constexpr CLSID kNodeClassId = {0xD1FB3C9A, 0xBB2D, 0x446A, {0xA7, 0x4A, 0xE7, 0x71, 0xF1, 0x34, 0xED, 0x56}};
inline constexpr const wchar_t* kNodeClassIdText = L"{D1FB3C9A-BB2D-446A-A74A-E771F134ED56}";
// Its type library and the version the program reads.
inline constexpr GUID kNodeLibraryId = {0x4CF5B97B, 0xA0F5, 0x41F3, {0x84, 0x8C, 0x6E, 0x25, 0xFA, 0xB6, 0x2A, 0xD3}};
inline constexpr const wchar_t* kNodeLibraryIdText = L"{4CF5B97B-A0F5-41F3-848C-6E25FAB62AD3}";
inline constexpr WORD kNodeLibraryMajor = 1;
inline constexpr WORD kNodeLibraryMinor = 8;
// The event interface the program sinks (DTMFString, Closing).
inline constexpr IID kNodeEventsId = {0x6F55F7AF, 0x8DA6, 0x400F, {0x96, 0xEB, 0xC3, 0x71, 0xF0, 0x31, 0x16, 0x11}};

}  // namespace tarnwick::wire
