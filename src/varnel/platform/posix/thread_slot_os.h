// POSIX thread-local slot: a C++ thread_local pointer in the initial-exec model, so reading it
// is a single load relative to the thread pointer. The key exists only to match the contract.
#pragma once

namespace varnel::platform {

using ThreadSlotKey = unsigned;

namespace detail {
extern constinit thread_local void* threadSlotValue __attribute__((tls_model("initial-exec")));
}  // namespace detail

inline bool allocateThreadSlot(ThreadSlotKey* key) {
  *key = 0;
  return true;
}

inline void* threadSlotGet(ThreadSlotKey) { return detail::threadSlotValue; }

inline void threadSlotSet(ThreadSlotKey, void* value) { detail::threadSlotValue = value; }

}  // namespace varnel::platform
