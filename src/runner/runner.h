// The parallel runner shared by varnel-bench's scalability problems and varnel-solve's workers:
// runner objects that carry one worker's budget and measured time, the per-thread budget rule, and
// the launch that creates every thread suspended, releases them together and joins them, so that
// the timed interval holds only work.
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "varnel/platform/platform.h"

namespace varnel::runner {

// One worker's job. Created with plain new on the main thread (general heap, not the pools),
// read by the main thread after the join, deleted there.
class ThreadRunner {
 public:
  explicit ThreadRunner(std::uint64_t memoryBudget) : memoryBudget(memoryBudget), time(0) {}

  // The thread's whole life; its result becomes the thread's exit code. Here: only run().
  virtual unsigned threadMain() { return run(); }
  virtual ~ThreadRunner() = default;
  // The measured work: stores its milliseconds in `time` and returns 0.
  virtual unsigned run() = 0;

  ThreadRunner(const ThreadRunner&) = delete;
  ThreadRunner& operator=(const ThreadRunner&) = delete;

  std::uint64_t memoryBudget;  // byte budget of the worker's allocator; 0: no budget
  std::int64_t time;           // the worker's measured milliseconds; 0 until it has run
};

// Base of every worker that allocates library objects: run() executes inside an allocator of the
// worker's own, created first thing with `memoryBudget` and destroyed last thing, so a worker
// shares no pool with any other thread and gives everything back when it ends. Derive from it
// and supply run(); everything run() builds must be destroyed before it returns.
class AllocatorRunner : public ThreadRunner {
 public:
  using ThreadRunner::ThreadRunner;

  // createThreadAllocator(memoryBudget), run(), destroyThreadAllocator(); returns run()'s result.
  unsigned threadMain() override;
};

// The main thread's handle on one worker.
struct ThreadRecord {
  platform::ThreadHandle handle;
  ThreadRunner* runner;
};

// The counter values read just before the first release and just after the last join.
struct LaunchInterval {
  std::int64_t start;
  std::int64_t end;
};

// The thread and counter services runThreads relies on. The default forwards to the platform
// layer; tests substitute their own to observe or fail the launch sequence.
class ThreadServices {
 public:
  virtual ~ThreadServices() = default;
  virtual bool createSuspended(platform::ThreadEntry entry, void* argument,
                               platform::ThreadHandle* out) = 0;
  virtual void release(platform::ThreadHandle handle) = 0;
  virtual unsigned join(platform::ThreadHandle handle) = 0;
  virtual void close(platform::ThreadHandle handle) = 0;
  virtual std::int64_t counterNow() = 0;
};

// The platform's own threads and counter.
ThreadServices& platformThreadServices();

// Exit code of a run whose worker thread the system refused. It differs from the out-of-memory
// code 1, whose meaning and message are fixed, and from 2 (a rejected command line): the remedy
// is fewer threads, not a smaller budget or other arguments.
inline constexpr int kExitThreadRefused = 3;

// Budget of each worker's allocator: 0 when splitMem is false; otherwise the physical memory
// less 1,000,000,000 bytes kept for the system and the main thread, split equally among
// numThreads + 1. On a machine of 1,000,000,000 bytes or less, where that subtraction would
// wrap around, the whole physical memory is split among numThreads + 1 instead. A split that
// comes to 0 bytes is raised to 1 (8 once rounded to a word), because a budget of 0 would
// silently mean "no budget"; such a worker ends with the out-of-memory line.
// Precondition: numThreads >= 1.
std::uint64_t perThreadBudget(std::int32_t numThreads, bool splitMem);
// The same rule for a given physical memory size in bytes.
std::uint64_t perThreadBudget(std::int32_t numThreads, bool splitMem, std::uint64_t totalPhysical);

// The thread start routine: argument is a ThreadRunner*; returns its threadMain().
unsigned threadStart(void* runner);

// Creates one suspended thread per runner in index order, then reads the start counter,
// releases every thread in index order, joins every thread in index order, reads the end
// counter, and closes every handle. A thread the system refuses ends the process at once with
// one line on standard error and kExitThreadRefused; the threads already created never run (the
// process ends with them still suspended). Precondition: n >= 1.
LaunchInterval runThreads(ThreadRunner* const* runners, std::int32_t n);
LaunchInterval runThreads(ThreadRunner* const* runners, std::int32_t n, ThreadServices& services);

// A table of n runner pointers from the general heap, left unset (every caller fills each entry
// at once; not clearing it keeps a huge thread count from touching the whole table up front).
// A heap that refuses it ends the process with an out-of-memory line and exit code 1.
ThreadRunner** newRunnerTable(std::int32_t n);

// A runner built with plain new; a heap that refuses it ends the process like newRunnerTable.
template <class Runner, class... Args>
Runner* newRunner(Args&&... args);

// Deletes the first n runners of the table, then the table.
void deleteRunners(ThreadRunner** runners, std::int32_t n);

// --- Inline definitions ------------------------------------------------------------------

namespace detail {
// Writes the out-of-memory line for a refused worker table or runner and exits with code 1.
[[noreturn]] void exitRunnerMemoryRefused(std::uint64_t bytes);
}  // namespace detail

template <class Runner, class... Args>
Runner* newRunner(Args&&... args) {
  Runner* runner = new (std::nothrow) Runner(std::forward<Args>(args)...);
  if (runner == nullptr) runner::detail::exitRunnerMemoryRefused(sizeof(Runner));
  return runner;
}

}  // namespace varnel::runner
