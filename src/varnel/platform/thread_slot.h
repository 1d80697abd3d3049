// The thread-local slot through which each thread finds its allocator. Reading the slot is on
// the path of every allocation and free, so each OS supplies it inline in thread_slot_os.h.
#pragma once

#include "thread_slot_os.h"

// thread_slot_os.h provides, in namespace varnel::platform:
//   using ThreadSlotKey = ...;
//   bool allocateThreadSlot(ThreadSlotKey* key);
//       Once per process, before any other thread exists; false when no slot can be had.
//   void* threadSlotGet(ThreadSlotKey key);
//       The calling thread's value; null on a thread that never set it. Inline, no lock.
//   void threadSlotSet(ThreadSlotKey key, void* value);
//       Sets the calling thread's value; other threads' values are untouched.
