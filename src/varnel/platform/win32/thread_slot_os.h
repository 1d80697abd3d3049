// Win32 thread-local slot: a KERNEL32 TLS index read with TlsGetValue. Every library header
// that allocates includes this file, so it declares the two KERNEL32 entry points it calls
// itself instead of pulling in <windows.h>.
//
// TlsGetValue rather than a C++ thread_local: MinGW-w64's GCC emulates thread_local through
// __emutls_get_address, which costs about four times a TlsGetValue call (docs/windows.md).
#pragma once

// Same signatures as the SDK's and MinGW-w64's declarations (DWORD is unsigned long, BOOL is
// int, WINAPI is __stdcall), so <windows.h> may be included before or after this file.
extern "C" {
__declspec(dllimport) void* __stdcall TlsGetValue(unsigned long tlsIndex);
__declspec(dllimport) int __stdcall TlsSetValue(unsigned long tlsIndex, void* tlsValue);
}

namespace varnel::platform {

// A KERNEL32 TLS index (DWORD).
using ThreadSlotKey = unsigned long;

// TlsAlloc, once per process; false when the process has no TLS index left.
bool allocateThreadSlot(ThreadSlotKey* key);

inline void* threadSlotGet(ThreadSlotKey key) { return ::TlsGetValue(key); }

inline void threadSlotSet(ThreadSlotKey key, void* value) { ::TlsSetValue(key, value); }

}  // namespace varnel::platform
