// Allocation of the Win32 thread-local slot. <windows.h> comes after the slot header on purpose:
// it redeclares TlsGetValue and TlsSetValue, which checks that the header's declarations match.
#include "varnel/platform/thread_slot.h"

#include "windows_api.h"

namespace varnel::platform {

static_assert(sizeof(ThreadSlotKey) == sizeof(DWORD), "a slot key must hold a TLS index");

bool allocateThreadSlot(ThreadSlotKey* key) {
  const DWORD index = TlsAlloc();
  if (index == TLS_OUT_OF_INDEXES) return false;
  *key = index;
  return true;
}

}  // namespace varnel::platform
