// The operating-system services varnel uses, and nothing else: the allocator's thread-local slot,
// threads that start suspended, the high-resolution counter and total physical memory.
// One implementation per OS lives in posix/ or win32/; the build picks the folder.
#pragma once

#include <cstdint>

#include "varnel/platform/thread_slot.h"

namespace varnel::platform {

// --- Threads --------------------------------------------------------------------------------
// A thread is created suspended: its entry does not run before releaseThread. Handles are
// owned by the creating thread, which must join and then close each handle exactly once.

// Entry point of a thread; the returned value becomes the thread's exit code.
using ThreadEntry = unsigned (*)(void* argument);

// Opaque handle of a thread created by createSuspendedThread.
struct ThreadHandle {
  void* native = nullptr;
};

// Creates a thread that runs entry(argument) once released. Returns false, with `out` left
// empty, when the system refuses the thread. Thread-safe.
bool createSuspendedThread(ThreadEntry entry, void* argument, ThreadHandle* out);

// Lets a suspended thread run. Precondition: the handle is suspended and not yet released.
void releaseThread(ThreadHandle handle);

// Waits with no time-out until the thread has ended; returns its exit code.
// Precondition: released and not yet joined.
unsigned joinThread(ThreadHandle handle);

// Releases the handle's resources. Precondition: joined; the handle is not used again.
void closeThread(ThreadHandle handle);

// The most threads, this process's and every other's together, that the system lets exist at
// once; UINT64_MAX when it sets no such limit (only memory bounds them). A process asking for
// more than this can be refused without creating a single one. Thread-safe.
std::uint64_t maxThreadCount();

// --- High-resolution counter ----------------------------------------------------------------
// Counter ticks per second, constant for the life of the process. Thread-safe.
std::int64_t counterFrequency();

// Current counter value: monotonic, comparable across threads. Thread-safe.
std::int64_t counterNow();

// --- Memory ---------------------------------------------------------------------------------
// Total physical memory of the machine in bytes (0 when the system cannot tell). Thread-safe.
std::uint64_t totalPhysicalMemory();

}  // namespace varnel::platform
