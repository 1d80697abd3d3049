// A run's needs and refusals: on a fixed machine, against real runs, and under a capped memory.
#include "driver/run_limits.h"

#include <gtest/gtest.h>

#include <functional>

#include "driver/run_bench.h"
#include "memory/thread_allocator.h"
#include "varnel/memory/pooled.h"
#include "varnel/table/table_reduction.h"

namespace varnel::driver {
namespace {

std::string argumentsOf(const RunParameters& p) {
  return std::to_string(p.pb) + " " + std::to_string(p.numThreads) + " " + std::to_string(p.mem) +
         " " + std::to_string(p.arity) + " " + std::to_string(p.numTuples) + " " +
         std::to_string(p.upper);
}

TEST(RunLimits, RefusesWhatTheMachineCannotHoldOrRunWithExactByteCounts) {
  const std::uint64_t n = 2147483647;  // 2^31 workers over 2^31 x 2^31 entries, plus a carry
  EXPECT_EQ((ByteCount(n) * n * n * 12 + ByteCount(UINT64_MAX)).toString(),
            "118842243623822553877948923891");
  const MachineLimits m{16000000000, 32767}, noMemory{0, 32767}, noLimit{16000000000, UINT64_MAX};
  const struct {
    RunParameters parameters;
    MachineLimits machine;
    int exitCode;
    const char* ending;  // the end of the message
  } cases[] = {
      {{1, 1, 0, 10, 1000000, 10}, m, 0, ""},
      {{1, 1, 0, 10, 1000, 2147483647}, m, 0, ""},  // the columns hold 1000 values at most
      {{1, 1, 0, 10, 2147483647, 10}, m, 1, "run, above the 16000000000 bytes of physical memory"},
      {{1, 1, 0, 10, 2147483647, 10}, noMemory, 0, ""},
      {{1, 1, 1, 10, 60000000, 10}, m, 1, "each worker, above its budget of 7500000000 bytes"},
      {{0, 100000, 1, 10, 500, 10}, m, 1, "each worker, above its budget of 150000 bytes"},
      {{2, 2147483647, 0, 10, 500, 10}, m, 1, "25769803772 bytes needed by this run"},  // 12n + 8
      {{0, 32767, 0, 10, 500, 10}, m, 3, "cannot run 32767 worker threads: at most 32767 threads"},
      {{0, 32767, 0, 10, 500, 10}, noLimit, 0, ""},
  };
  for (const auto& c : cases) {
    const Refusal refusal = checkRunLimits(c.parameters, c.machine);
    const std::string arguments = argumentsOf(c.parameters);
    EXPECT_EQ(refusal.exitCode, c.exitCode) << arguments << ": " << refusal.message;
    EXPECT_NE(refusal.message.find(c.ending), std::string::npos)
        << arguments << ": " << refusal.message;
  }
}

// A need, both ways, against what the run took: never more, and not far below.
void expectNearLowerBound(const std::string& what, const std::function<ByteCount(Measure)>& need,
                          std::uint64_t taken) {
  EXPECT_FALSE(need(Measure::carved).exceeds(taken) || need(Measure::resident).exceeds(taken))
      << what << ": " << need(Measure::carved).toString() << " bytes, more than " << taken;
  EXPECT_TRUE((need(Measure::carved) * 4 + ByteCount(1)).exceeds(taken))
      << what << ": " << taken << " bytes taken, over 4 x " << need(Measure::carved).toString();
}

TEST(RunLimits, NeedsAreLowerBoundsNearWhatRunsTake) {
  const struct {
    std::int32_t arity, numTuples, upper;
  } tables[] = {{10, 100000, 10}, {3, 60000, 2000000000}, {1, 200000, 1}, {40, 5000, 300}};
  for (const auto& t : tables) {
    const std::string what = std::to_string(t.arity) + " " + std::to_string(t.numTuples);
    testing::onFreshAllocator(0, [&] {  // the table's memoryConsumption, less a fresh allocator's
      const std::uint64_t fresh = memoryConsumption(currentAllocator());
      TupleTable* table = newPooled<TupleTable>(t.arity, t.numTuples, t.upper);
      table->fillRandom(t.upper);
      expectNearLowerBound(
          "table " + what, [&](Measure m) { return tableBytes(t.arity, t.numTuples, t.upper, m); },
          memoryConsumption(currentAllocator()) - fresh);
      const TupleTable* shared = table;
      testing::onFreshAllocator(1u << 30, [&] {  // a budget, which pays for the records too
        runTableReduction(&shared, t.arity);
        expectNearLowerBound(
            "reduction " + what,
            [&](Measure m) {
              return allocatorRecordBytes() + reductionBytes(t.arity, t.numTuples, m);
            },
            memoryConsumption(currentAllocator()));
      });
      deletePooled(table);
    });
  }
}

TEST(RunLimits, LargestArgumentsRunOrAreRefusedAtOnceUnderACappedAddressSpace) {
#if !defined(WIFEXITED)
  GTEST_SKIP() << "no ulimit to cap the child's address space with";
#endif
#ifdef VARNEL_TEST_SANITIZED
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit a capped address space";
#endif
  const RunParameters largest[] = {{1, 1, 0, 10, 1000, 2147483647}, {1, 1, 0, 10, 1000, 1000000000},
                                   {1, 1, 0, 10, 2147483647, 10},   {1, 1, 0, 2147483647, 10, 10},
                                   {1, 2147483647, 0, 1, 1, 1},     {0, 2147483647, 0, 10, 500, 10},
                                   {1, 1, 1, 10, 2147483647, 10}};
  // The child runs under ulimit -v: what does not fit in that cap must be refused at once, in
  // the cap's words, rather than grow until the heap refuses it.
  constexpr std::uint64_t kCap = std::uint64_t(1) << 30;
  MachineLimits capped = currentMachineLimits();
  if (kCap < capped.processLimit)
    capped = {capped.physicalMemory, capped.maxThreads, kCap, "address-space limit (ulimit -v)"};
  for (const RunParameters& parameters : largest) {
    const std::string arguments = argumentsOf(parameters);
    const Refusal expected = checkRunLimits(parameters, capped);
    const varnel::testing::BenchRun run = varnel::testing::runBench(arguments, kCap);
    EXPECT_EQ(run.exitCode, expected.exitCode) << arguments << ": " << run.err;
    EXPECT_EQ(run.err, expected.exitCode == 0 ? "" : expected.message + "\n") << arguments;
    EXPECT_EQ(run.lines().size() == 1, expected.exitCode != 0)
        << arguments << ": a refusal prints the run line alone, a run its whole report";
  }
}

}  // namespace
}  // namespace varnel::driver
