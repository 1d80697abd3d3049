// The operating-system services varnel uses, and nothing else: the allocator's thread-local slot,
// threads that start suspended, the high-resolution counter, total physical memory, a one-shot
// alarm and the user's interrupts.
// One implementation per OS lives in posix/ or win32/; the build picks the folder.
#pragma once

#include <atomic>
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

// Asks the system to run the calling thread on processor `cpu` only (0-based, modulo the
// processors this process may use): measurements then do not move with the thread's placement.
// A thread created by a pinned thread is placed among the same processors as any other. False
// when the system refuses. Thread-safe.
bool pinCurrentThread(unsigned cpu);

// The processor the calling thread runs on at this moment (0-based, as the system numbers
// them; 0 when the system cannot say). Thread-safe.
unsigned currentProcessor();

// --- High-resolution counter ----------------------------------------------------------------
// Counter ticks per second, constant for the life of the process. Thread-safe.
std::int64_t counterFrequency();

// Current counter value: monotonic, comparable across threads. Thread-safe.
std::int64_t counterNow();

// --- Memory ---------------------------------------------------------------------------------
// Total physical memory of the machine in bytes (0 when the system cannot tell). Thread-safe.
std::uint64_t totalPhysicalMemory();

// The smallest limit on the memory this process may use, and where it comes from: the address
// space and data segment limits (RLIMIT_AS, RLIMIT_DATA) and the control group's limit (cgroup v2
// memory.max, v1 memory.limit_in_bytes) on POSIX systems, the job object's process or job
// memory limit on Windows. bytes is UINT64_MAX, and what empty, when none is set. Thread-safe.
struct MemoryLimit {
  std::uint64_t bytes = UINT64_MAX;
  const char* what = "";  // e.g. "address-space limit (ulimit -v)"
};
MemoryLimit processMemoryLimit();

// A heap block of `bytes` bytes that starts on a page boundary (4 KiB), or null when the heap
// cannot supply it; give it back with releasePageAligned only. Thread-safe.
void* allocatePageAligned(std::uint64_t bytes);
void releasePageAligned(void* block);

// Page faults the calling thread has taken so far (minor and major; on Windows, the whole
// process's), to report beside a timing what first touches of memory cost it. Thread-safe.
std::uint64_t pageFaults();

// True when standard error is a terminal (a console on Windows): progress can then rewrite one
// line in place. Thread-safe.
bool standardErrorIsTerminal();

// --- Alarm ----------------------------------------------------------------------------------
// A one-shot timer on a thread of its own, for limits that must hold however long each step of
// the work takes between two checks of a flag.

struct Alarm {
  void* native = nullptr;
};

// Calls fire(context) once, on the alarm's own thread, `seconds` of wall-clock time from now,
// unless cancelAlarm comes first; with `period` > 0, again every `period` seconds after that
// (deadlines do not drift with fire's own time) until cancelAlarm. fire must be thread-safe
// against the code it interrupts (it typically sets an atomic flag or reads counters). False,
// with `out` left empty, when the system refuses the thread. Precondition: seconds >= 0,
// period >= 0.
bool startAlarm(double seconds, void (*fire)(void* context), void* context, Alarm* out,
                double period = 0);

// Cancels the alarm if it has not fired and waits for its thread to end: once this returns,
// fire is not running and never will. Precondition: started and not yet cancelled.
void cancelAlarm(Alarm alarm);

// --- Interrupts -----------------------------------------------------------------------------
// The user's requests to stop: SIGINT and SIGTERM (POSIX); Ctrl-C, Ctrl-Break and the console's
// close, log-off and shut-down events (Windows).

// From now on the first interrupt stores `value` into *flag if it holds 0, and nothing else
// (no output, no lock: safe in a signal handler); the program then ends on its own terms. A
// second interrupt ends the process at once with interruptExitCode() of the second one. False
// when the system refuses the handler. Call once. Precondition: `flag` lives until the process
// ends and is lock-free.
bool watchInterrupts(std::atomic<std::uint8_t>* flag, std::uint8_t value);

// 0 while no interrupt has arrived; otherwise the exit code that the first one asks for, as a
// shell reports a process killed by it: 130 (SIGINT, Ctrl-C, Ctrl-Break) or 143 (SIGTERM, and
// the console's close, log-off and shut-down events). Thread-safe.
int interruptExitCode();

}  // namespace varnel::platform
