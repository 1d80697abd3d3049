// Nothing lost: each problem run in-process gives every block back to the pools of the thread
// that played the main thread, workers give everything back to their own pools before their
// allocator goes, and a worker whose budget runs out ends the process with the out-of-memory
// line alone, no report line after it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "driver/problems.h"
#include "runner/report.h"
#include "runner/runner.h"
#include "varnel/containers/collection.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/pooled.h"

namespace varnel::driver {

using namespace runner;  // the launch, budgets and report lines both programs share
namespace {

// Blocks obtained but not on the free list, per class, on the calling thread; empty text when
// every pool has all its blocks back.
std::string blocksHeld() {
  std::ostringstream held;
  const varnel_allocator* allocator = currentAllocator();
  for (unsigned c = 0; c < kSizeClassCount; ++c) {
    const SizeClassPool* pool = allocator->pools[c];
    const std::uint64_t obtained = std::uint64_t(pool->chunkCount) * pool->blocksPerChunk;
    if (obtained != pool->freeCount) {
      held << "class " << c << ": " << obtained - pool->freeCount << " of " << obtained
           << " blocks held; ";
    }
  }
  return held.str();
}

// Runs `problem` on a new thread that plays the main thread with an allocator of its own, so the
// pool counts start from nothing whatever the other tests of this process did; returns what its
// pools still held when the problem had returned, and the problem's standard output.
struct ProblemRun {
  std::string held;
  std::string out;
  std::uint64_t chunks = 0;
};

ProblemRun runAsMainThread(const std::function<void()>& problem) {
  ProblemRun result;
  ::testing::internal::CaptureStdout();
  std::thread mainRole([&] {
    createThreadAllocator(0);
    problem();
    result.held = blocksHeld();
    for (unsigned c = 0; c < kSizeClassCount; ++c) {
      result.chunks += currentAllocator()->pools[c]->chunkCount;
    }
    destroyThreadAllocator();
  });
  mainRole.join();
  result.out = ::testing::internal::GetCapturedStdout();
  return result;
}

TEST(NoLostBlocks, ProblemOneReturnsTheTableAndTheReferenceRunsBlocks) {
  for (const bool splitMem : {false, true}) {
    const ProblemRun run = runAsMainThread([&] { runTableProblem(2, splitMem, 6, 2000, 5); });
    EXPECT_NE(run.out.find("thread 1 time: "), std::string::npos)
        << "splitMem " << splitMem << ": the problem did not run to its report:\n"
        << run.out;
    EXPECT_GT(run.chunks, 0u) << "splitMem " << splitMem
                              << ": the table and the reference run took no block at all";
    EXPECT_EQ(run.held, "") << "splitMem " << splitMem
                            << ": blocks of the main thread's pools were not given back";
  }
}

TEST(NoLostBlocks, ProblemTwoReturnsEveryContainerAndTheSuitesSolver) {
  const ProblemRun run = runAsMainThread([] { runDataStructureSuite(20); });
  EXPECT_NE(run.out.find("test GraphRev edge addition : "), std::string::npos)
      << "the suite did not reach its last test:\n"
      << run.out;
  EXPECT_GT(run.chunks, 0u) << "the suite took no block at all";
  EXPECT_EQ(run.held, "") << "blocks of the main thread's pools were not given back";
}

// Problem 0's worker with a short burst: the same collection and the same allocator wrapping,
// but a few thousand lookups instead of two billion. Before its allocator goes, it notes what
// its own pools still hold.
class ShortLookupRunner final : public AllocatorRunner {
 public:
  using AllocatorRunner::AllocatorRunner;

  unsigned run() override {
    Collection* collection = newPooled<Collection>(10000);
    std::int64_t found = 0;
    for (std::int64_t i = 0; i < 20000; ++i) found += collection->indexOf(i);
    time = found == -20000 ? 1 : -1;  // every probe of the empty collection misses
    deletePooled(collection);
    heldAtEnd = blocksHeld();
    return 0;
  }

  std::string heldAtEnd = "not run";
};

TEST(NoLostBlocks, ProblemZerosMachineryReturnsEveryBlockOnEveryThread) {
  constexpr std::int32_t kThreads = 3;
  std::string workers;
  const ProblemRun run = runAsMainThread([&] {
    ThreadRunner** runners = newRunnerTable(kThreads);
    for (std::int32_t i = 0; i < kThreads; ++i) runners[i] = newRunner<ShortLookupRunner>(0);
    runThreads(runners, kThreads);
    Collection* collection = newPooled<Collection>(10000);
    for (std::int32_t i = 0; i < kThreads; ++i) {
      const auto* runner = static_cast<const ShortLookupRunner*>(runners[i]);
      if (runner->time != 1) workers += "worker " + std::to_string(i) + " found an item; ";
      if (!runner->heldAtEnd.empty()) {
        workers += "worker " + std::to_string(i) + ": " + runner->heldAtEnd;
      }
    }
    deleteRunners(runners, kThreads);
    deletePooled(collection);
  });
  EXPECT_EQ(workers, "") << "a worker kept blocks of its own pools or probed wrongly";
  EXPECT_GT(run.chunks, 0u) << "the main thread's collection took no block";
  EXPECT_EQ(run.held, "") << "the main thread's collection was not given back";
}

TEST(NoLostBlocks, AWorkerPastItsBudgetEndsTheProcessBeforeAnyReportLine) {
  // 64 KiB hold the allocator's records but not the collection's 128 KiB slot array.
  constexpr std::uint64_t kBudget = 65536;
  const std::string outPath = ::testing::TempDir() + "varnel_no_lost_blocks_budget.out";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        if (std::freopen(outPath.c_str(), "w", stdout) == nullptr) std::exit(9);
        printThreadCount(1);
        ThreadRunner** runners = newRunnerTable(1);
        runners[0] = newRunner<HashLookupRunner>(kBudget);
        const LaunchInterval interval = runThreads(runners, 1);
        const std::int64_t times[] = {runners[0]->time};
        printScalabilityReport(true, 1, interval.end - interval.start, times, 1);
        std::exit(0);
      },
      ::testing::ExitedWithCode(1), "^Error: no more memory: 65536 is exceeded\r?\n$")
      << "the budget's out-of-memory line must be the only text on standard error";
  std::ifstream file(outPath);
  std::stringstream out;
  out << file.rdbuf();
  EXPECT_EQ(out.str(), "#threads 1\n")
      << "nothing may follow the opening line once a worker has run out of memory";
  std::remove(outPath.c_str());
}

}  // namespace
}  // namespace varnel::driver
