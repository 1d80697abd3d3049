// The parallel runner: worker bodies, the budget rule and the suspended-thread launch.
#include "runner/runner.h"

#include <cstdlib>
#include <iostream>

#include "varnel/memory/allocator.h"
#include "varnel/platform/assert.h"

namespace varnel::runner {
namespace {

// Bytes kept back from the split for the system and the main thread.
constexpr std::uint64_t kReservedBytes = 1000000000;

class PlatformThreadServices final : public ThreadServices {
 public:
  bool createSuspended(platform::ThreadEntry entry, void* argument,
                       platform::ThreadHandle* out) override {
    return platform::createSuspendedThread(entry, argument, out);
  }
  void release(platform::ThreadHandle handle) override { platform::releaseThread(handle); }
  unsigned join(platform::ThreadHandle handle) override { return platform::joinThread(handle); }
  void close(platform::ThreadHandle handle) override { platform::closeThread(handle); }
  std::int64_t counterNow() override { return platform::counterNow(); }
};

[[noreturn]] void exitThreadRefused(std::int32_t index, std::int32_t n) {
  std::cout.flush();
  std::cerr << "Error: the system refused to create worker thread " << index << " of " << n
            << std::endl;
  std::exit(kExitThreadRefused);
}

}  // namespace

unsigned AllocatorRunner::threadMain() {
  createThreadAllocator(memoryBudget);
  const unsigned result = run();
  if (currentAllocator() != nullptr) destroyThreadAllocator();
  return result;
}

ThreadServices& platformThreadServices() {
  static PlatformThreadServices services;
  return services;
}

std::uint64_t perThreadBudget(std::int32_t numThreads, bool splitMem, std::uint64_t totalPhysical) {
  if (!splitMem) return 0;
  // Widened before the + 1 so that the largest thread count cannot overflow the divisor.
  const std::uint64_t shares = static_cast<std::uint64_t>(numThreads) + 1;
  const std::uint64_t splittable =
      totalPhysical > kReservedBytes ? totalPhysical - kReservedBytes : totalPhysical;
  const std::uint64_t budget = splittable / shares;
  return budget != 0 ? budget : 1;
}

std::uint64_t perThreadBudget(std::int32_t numThreads, bool splitMem) {
  if (!splitMem) return 0;
  return perThreadBudget(numThreads, splitMem, platform::totalPhysicalMemory());
}

unsigned threadStart(void* runner) { return static_cast<ThreadRunner*>(runner)->threadMain(); }

LaunchInterval runThreads(ThreadRunner* const* runners, std::int32_t n, ThreadServices& services) {
  VARNEL_ASSERT(n >= 1);
  auto** records = new (std::nothrow) ThreadRecord*[static_cast<std::size_t>(n)];
  if (records == nullptr)
    runner::detail::exitRunnerMemoryRefused(sizeof(ThreadRecord*) * std::uint64_t(n));
  for (std::int32_t i = 0; i < n; ++i) {
    records[i] = new (std::nothrow) ThreadRecord{platform::ThreadHandle{}, runners[i]};
    if (records[i] == nullptr) runner::detail::exitRunnerMemoryRefused(sizeof(ThreadRecord));
    if (!services.createSuspended(threadStart, runners[i], &records[i]->handle)) {
      exitThreadRefused(i, n);
    }
  }
  LaunchInterval interval;
  interval.start = services.counterNow();
  for (std::int32_t i = 0; i < n; ++i) services.release(records[i]->handle);
  for (std::int32_t i = 0; i < n; ++i) services.join(records[i]->handle);
  interval.end = services.counterNow();
  for (std::int32_t i = 0; i < n; ++i) {
    services.close(records[i]->handle);
    delete records[i];
  }
  delete[] records;
  return interval;
}

LaunchInterval runThreads(ThreadRunner* const* runners, std::int32_t n) {
  return runThreads(runners, n, platformThreadServices());
}

ThreadRunner** newRunnerTable(std::int32_t n) {
  VARNEL_ASSERT(n >= 1);
  auto** runners = new (std::nothrow) ThreadRunner*[static_cast<std::size_t>(n)];
  if (runners == nullptr)
    runner::detail::exitRunnerMemoryRefused(sizeof(ThreadRunner*) * std::uint64_t(n));
  return runners;
}

void deleteRunners(ThreadRunner** runners, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) delete runners[i];
  delete[] runners;
}

namespace detail {

void exitRunnerMemoryRefused(std::uint64_t bytes) {
  std::cout.flush();
  std::cerr << "Error: no more memory: " << bytes << " bytes for the worker threads refused"
            << std::endl;
  std::exit(1);
}

}  // namespace detail

}  // namespace varnel::runner
