// The parallel runner: the budget rule, the order of the launch sequence, workers held until
// their release, one allocator per worker given back at its end, the timed interval around
// the work, and a refused thread ending the process with its own code.
#include "runner/runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "runner/ordered_solutions.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/arrays.h"

namespace varnel::driver {

using namespace runner;  // the launch, budgets and report lines both programs share
namespace {

// --- Budget rule ------------------------------------------------------------------------------

TEST(PerThreadBudget, SplitsPhysicalMemoryLessOneGigabyteAmongThreadsPlusOne) {
  EXPECT_EQ(perThreadBudget(3, true, 16000000000ull), 3750000000ull) << "(16e9 - 1e9) / 4 expected";
  EXPECT_EQ(perThreadBudget(1, true, 16000000000ull), 7500000000ull) << "(16e9 - 1e9) / 2";
  EXPECT_EQ(perThreadBudget(4, true, 16000000007ull), 3000000001ull)
      << "(16e9 + 7 - 1e9) / 5, truncated";
}

TEST(PerThreadBudget, IsZeroWithoutSplitMemory) {
  EXPECT_EQ(perThreadBudget(3, false, 16000000000ull), 0u) << "no split: no budget";
  EXPECT_EQ(perThreadBudget(3, false), 0u) << "no split: no budget, whatever the machine";
}

TEST(PerThreadBudget, SmallMachinesSplitTheWholeMemoryInsteadOfWrappingAround) {
  EXPECT_EQ(perThreadBudget(3, true, 1000000000ull), 250000000ull)
      << "1e9 bytes: the whole memory split among 4";
  EXPECT_EQ(perThreadBudget(1, true, 800000000ull), 400000000ull)
      << "below 1e9 bytes: the whole memory split among 2";
  EXPECT_LT(perThreadBudget(3, true, 999999999ull), 1000000000ull)
      << "a budget above the machine's memory means the subtraction wrapped around";
}

TEST(PerThreadBudget, NeverComesToZeroWhichWouldMeanNoBudget) {
  EXPECT_EQ(perThreadBudget(3, true, 1000000001ull), 1u) << "1 byte split among 4 threads";
  EXPECT_EQ(perThreadBudget(2, true, 0), 1u) << "an unknown memory size gives no free budget";
}

TEST(PerThreadBudget, LargestThreadCountDoesNotOverflowTheDivisor) {
  // 2147483647 + 1 overflows 32 bits; in 64 bits the divisor is 2^31.
  EXPECT_EQ(perThreadBudget(2147483647, true, 16000000000ull), 6u)
      << "15e9 / 2^31 = 6.98, truncated";
}

TEST(PerThreadBudget, UsesThisMachinesPhysicalMemory) {
  const std::uint64_t total = platform::totalPhysicalMemory();
  ASSERT_GT(total, 0u) << "the platform cannot tell the physical memory";
  EXPECT_EQ(perThreadBudget(2, true), perThreadBudget(2, true, total))
      << "the two-argument form must apply the rule to the machine's memory";
}

// --- Launch sequence with scripted services ---------------------------------------------------

// A runner with no allocator of its own, so that it can run on the test's thread.
class PlainRunner : public ThreadRunner {
 public:
  PlainRunner(std::int64_t result, int* destroyed = nullptr)
      : ThreadRunner(0), result_(result), destroyed_(destroyed) {}
  ~PlainRunner() override {
    if (destroyed_ != nullptr) ++*destroyed_;
  }
  unsigned run() override {
    time = result_;
    return static_cast<unsigned>(result_);
  }

 private:
  std::int64_t result_;
  int* destroyed_;
};

// Writes every call into a journal; a released thread runs its entry when it is joined.
class ScriptedServices : public ThreadServices {
 public:
  bool createSuspended(platform::ThreadEntry entry, void* argument,
                       platform::ThreadHandle* out) override {
    const std::size_t index = threads_.size();
    threads_.push_back({entry, argument});
    out->native = reinterpret_cast<void*>(index + 1);
    journal.push_back("create " + std::to_string(index));
    return true;
  }
  void release(platform::ThreadHandle handle) override {
    journal.push_back("release " + std::to_string(indexOf(handle)));
  }
  unsigned join(platform::ThreadHandle handle) override {
    const Thread& thread = threads_[indexOf(handle)];
    const unsigned code = thread.entry(thread.argument);
    journal.push_back("join " + std::to_string(indexOf(handle)) + " -> " + std::to_string(code));
    return code;
  }
  void close(platform::ThreadHandle handle) override {
    journal.push_back("close " + std::to_string(indexOf(handle)));
  }
  std::int64_t counterNow() override {
    journal.push_back("counter");
    return counter += 100;
  }

  std::vector<std::string> journal;
  std::int64_t counter = 0;

 private:
  struct Thread {
    platform::ThreadEntry entry;
    void* argument;
  };
  static std::size_t indexOf(platform::ThreadHandle handle) {
    return reinterpret_cast<std::size_t>(handle.native) - 1;
  }
  std::vector<Thread> threads_;
};

TEST(RunThreads, CreatesAllThenReadsCounterReleasesJoinsReadsCounterAndCloses) {
  int destroyed = 0;
  ThreadRunner** runners = newRunnerTable(3);
  for (int i = 0; i < 3; ++i) runners[i] = newRunner<PlainRunner>(10 + i, &destroyed);
  ScriptedServices services;
  const LaunchInterval interval = runThreads(runners, 3, services);

  const std::vector<std::string> expected = {
      "create 0",  "create 1",  "create 2",     "counter",      "release 0",
      "release 1", "release 2", "join 0 -> 10", "join 1 -> 11", "join 2 -> 12",
      "counter",   "close 0",   "close 1",      "close 2"};
  ASSERT_EQ(services.journal.size(), expected.size()) << "wrong number of service calls";
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(services.journal[k], expected[k]) << "call " << k << " of the launch sequence";
  }
  EXPECT_EQ(interval.start, 100) << "start must be the counter read before the releases";
  EXPECT_EQ(interval.end, 200) << "end must be the counter read after the joins";
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(runners[i]->time, 10 + i) << "thread " << i << " did not run its own runner";
  }
  deleteRunners(runners, 3);
  EXPECT_EQ(destroyed, 3) << "deleteRunners must destroy every runner";
}

TEST(RunThreads, RefusedThreadEndsTheProcessWithCode3AndOneLine) {
  // Real threads: the two already created stay suspended while the process ends, and the
  // exit must not wait for them.
  class RefuseThird : public ThreadServices {
   public:
    bool createSuspended(platform::ThreadEntry entry, void* argument,
                         platform::ThreadHandle* out) override {
      return ++created_ < 3 && platform::createSuspendedThread(entry, argument, out);
    }
    void release(platform::ThreadHandle h) override { platform::releaseThread(h); }
    unsigned join(platform::ThreadHandle h) override { return platform::joinThread(h); }
    void close(platform::ThreadHandle h) override { platform::closeThread(h); }
    std::int64_t counterNow() override { return platform::counterNow(); }

   private:
    int created_ = 0;
  };
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ThreadRunner* runners[4];
        for (auto& runner : runners) runner = new PlainRunner(0);
        RefuseThird services;
        runThreads(runners, 4, services);
      },
      ::testing::ExitedWithCode(kExitThreadRefused),
      "^Error: the system refused to create worker thread 2 of 4\r?\n$")
      << "a refused thread must end the process with one line and its own exit code";
}

// --- Real threads -----------------------------------------------------------------------------

// Notes, on its worker thread, which allocator it runs in and when, and what is left after.
class ProbeRunner : public AllocatorRunner {
 public:
  using AllocatorRunner::AllocatorRunner;

  unsigned threadMain() override {
    const unsigned result = AllocatorRunner::threadMain();
    allocatorAfter = currentAllocator();
    return result;
  }
  unsigned run() override {
    ran = true;
    begin = platform::counterNow();
    allocatorDuring = currentAllocator();
    arenaCapacity = allocatorDuring->arena->capacity;
    // Every worker of the launch holds its allocator until all have one: only allocators alive
    // at once can be told apart by address (a freed one's address may be handed out again).
    if (gate != nullptr) {
      gate->fetch_add(1);
      while (gate->load() < gateCount) std::this_thread::yield();
    }
    // Work that uses the worker's pools, long enough to be timed.
    std::int64_t* numbers = allocateArray<std::int64_t>(1 << 16);
    for (int k = 0; k < (1 << 16); ++k) numbers[k] = k;
    freeArray(numbers, 1 << 16);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    end = platform::counterNow();
    time = 1;
    return 0;
  }

  std::atomic<bool> ran{false};
  std::atomic<int>* gate = nullptr;  // when set, counts the workers that have their allocator
  int gateCount = 0;
  std::int64_t begin = 0;
  std::int64_t end = 0;
  const varnel_allocator* allocatorDuring = nullptr;
  const varnel_allocator* allocatorAfter = reinterpret_cast<const varnel_allocator*>(1);
  std::uint64_t arenaCapacity = 0;
};

// The platform's services; at the start counter read, which follows the last creation, it
// waits a moment and notes whether any worker has run before its release.
class HoldCheckingServices : public ThreadServices {
 public:
  explicit HoldCheckingServices(ProbeRunner* const* runners, int n) : runners_(runners), n_(n) {}
  bool createSuspended(platform::ThreadEntry entry, void* argument,
                       platform::ThreadHandle* out) override {
    return platform::createSuspendedThread(entry, argument, out);
  }
  void release(platform::ThreadHandle h) override { platform::releaseThread(h); }
  unsigned join(platform::ThreadHandle h) override { return platform::joinThread(h); }
  void close(platform::ThreadHandle h) override { platform::closeThread(h); }
  std::int64_t counterNow() override {
    if (!checked_) {
      checked_ = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      for (int i = 0; i < n_; ++i) ranBeforeRelease += runners_[i]->ran ? 1 : 0;
    }
    return platform::counterNow();
  }

  int ranBeforeRelease = 0;

 private:
  ProbeRunner* const* runners_;
  int n_;
  bool checked_ = false;
};

TEST(RunThreads, WorkersWaitForTheirReleaseAndRunInOwnAllocators) {
  constexpr int kWorkers = 3;
  constexpr std::uint64_t kBudget = (1 << 20) + 3;  // not a multiple of 8
  ProbeRunner* runners[kWorkers];
  ThreadRunner* table[kWorkers];
  std::atomic<int> gate{0};
  for (int i = 0; i < kWorkers; ++i) {
    table[i] = runners[i] = new ProbeRunner(kBudget);
    runners[i]->gate = &gate;
    runners[i]->gateCount = kWorkers;
  }
  HoldCheckingServices services(runners, kWorkers);
  const LaunchInterval interval = runThreads(table, kWorkers, services);

  EXPECT_EQ(services.ranBeforeRelease, 0) << "a worker ran before it was released";
  for (int i = 0; i < kWorkers; ++i) {
    EXPECT_TRUE(runners[i]->ran) << "worker " << i << " never ran";
    EXPECT_NE(runners[i]->allocatorDuring, nullptr) << "worker " << i << " had no allocator";
    EXPECT_NE(runners[i]->allocatorDuring, currentAllocator())
        << "worker " << i << " ran in the main thread's allocator";
    for (int j = 0; j < i; ++j) {
      EXPECT_NE(runners[i]->allocatorDuring, runners[j]->allocatorDuring)
          << "workers " << j << " and " << i << " shared an allocator";
    }
    EXPECT_EQ(runners[i]->arenaCapacity, (kBudget + 7) / 8 * 8)
        << "worker " << i << " did not get its budget, rounded up to a word";
    EXPECT_EQ(runners[i]->allocatorAfter, nullptr)
        << "worker " << i << " did not give its allocator back";
    EXPECT_LE(interval.start, runners[i]->begin)
        << "the interval starts after worker " << i << " began";
    EXPECT_GE(interval.end, runners[i]->end) << "the interval ends before worker " << i << " ended";
  }
  for (auto* runner : runners) delete runner;
}

TEST(RunThreads, WorkerWithoutBudgetTakesItsMemoryFromTheHeap) {
  ProbeRunner* runner = new ProbeRunner(0);
  ThreadRunner* runners[] = {runner};
  runThreads(runners, 1);
  EXPECT_TRUE(runner->ran) << "the worker never ran";
  EXPECT_EQ(runner->arenaCapacity, 0u) << "budget 0 must leave the worker's arena without budget";
  EXPECT_NE(runner->allocatorDuring, currentAllocator()) << "ran in the main thread's allocator";
  EXPECT_EQ(runner->allocatorAfter, nullptr) << "the worker did not give its allocator back";
  delete runner;
}

// --- Solutions handed on in order ------------------------------------------------------------

void collect(const std::vector<std::int64_t>& values, void* context) {
  static_cast<std::vector<std::int64_t>*>(context)->push_back(values[0]);
}

TEST(OrderedSolutions, HandsOnInSubproblemOrderWhateverOrderTheWorkersFindThem) {
  // Worker 1 finds subproblem 2's solutions first, held over a 1-byte cap (it waits until
  // subproblem 2 is the earliest unfinished one, which worker 0 makes so by ending 0 and 1).
  std::vector<std::int64_t> delivered;
  runner::OrderedSolutions ordered(2, 3, 5, collect, &delivered, nullptr, 1);
  ordered.started(1, 2);
  std::thread late([&] {
    ordered.found(1, {20});
    ordered.found(1, {21});
    ordered.ended(1, 2);
  });
  ordered.started(0, 0);
  ordered.found(0, {0});
  ordered.ended(0, 0);
  ordered.started(0, 1);
  ordered.found(0, {10});
  ordered.found(0, {11});
  ordered.ended(0, 1);
  late.join();
  EXPECT_EQ(delivered, (std::vector<std::int64_t>{0, 10, 11, 20, 21}))
      << "solutions out of the one-thread order";
  EXPECT_TRUE(ordered.full()) << "the limit of 5 was handed on";
  ordered.found(0, {99});
  EXPECT_EQ(delivered.size(), 5u) << "a solution past the limit was handed on";
}

TEST(OrderedSolutions, AStopEndsTheWaitOfAWorkerAheadOfAnUnfinishedSubproblem) {
  // Subproblem 0 never ends: without the stop, worker 1 would wait for its turn forever (the
  // test's time-out would fail it).
  std::vector<std::int64_t> delivered;
  StopRequest stop;
  runner::OrderedSolutions ordered(2, 2, 10, collect, &delivered, &stop, 1);
  ordered.started(0, 0);
  ordered.started(1, 1);
  std::atomic<bool> returned{false};
  std::thread ahead([&] {
    ordered.found(1, {10});
    returned = true;
  });
  stop.request(StopReason::kInterrupted);
  ahead.join();
  EXPECT_TRUE(returned.load());
  EXPECT_TRUE(delivered.empty()) << "a solution of a subproblem not yet its turn was handed on";
}

}  // namespace
}  // namespace varnel::driver
