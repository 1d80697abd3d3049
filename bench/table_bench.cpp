// Table constraint benchmarks: the whole timed reduction run at two table sizes, and the cost
// per invalidated tuple of propagation with one pending variable against several.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <utility>

#include "varnel/memory/pooled.h"
#include "varnel/platform/compiler.h"
#include "varnel/table/gac4r_table_ct.h"
#include "varnel/table/table_reduction.h"
#include "varnel/table/tuple_table.h"

namespace varnel {
namespace {

// One filled table per size, built on first use and kept for the whole program.
const TupleTable& sharedTable(std::int32_t arity, std::int32_t numTuples, std::int32_t upper) {
  static std::map<std::pair<std::int32_t, std::int32_t>, TupleTable*> tables;
  TupleTable*& table = tables[{arity, numTuples}];
  if (table == nullptr) {
    table = newPooled<TupleTable>(arity, numTuples, upper);
    table->fillRandom(upper);
  }
  return *table;
}

// The run of problem 1 as one worker does it: construction, filling, pruning and the reduction
// (Args: numTuples). "run_ms" is the run's own measurement; the iteration time adds the releases.
void BM_TableReduction(benchmark::State& state) {
  const auto numTuples = static_cast<std::int32_t>(state.range(0));
  const TupleTable* const table = &sharedTable(10, numTuples, 10);
  std::int64_t totalMs = 0;
  for (auto _ : state) {
    std::int64_t ms = runTableReduction(&table, 10);
    keepAlive(ms);
    totalMs += ms;
  }
  state.counters["run_ms"] =
      benchmark::Counter(static_cast<double>(totalMs), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_TableReduction)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Removes, on a fresh filled constraint, value 0 of each of the first `pendingVariables`
// variables counted from the last (value 1 when 0 is the centre's), then times one propagate.
// With one pending variable it takes the plain gathering; with several, the marked one.
// "tuples" counts the distinct tuples invalidated, so its rate compares the paths per tuple.
void BM_Propagate(benchmark::State& state) {
  const auto numTuples = static_cast<std::int32_t>(state.range(0));
  const auto pendingVariables = static_cast<std::int32_t>(state.range(1));
  const TupleTable& table = sharedTable(10, numTuples, 10);
  const std::int32_t* centre = table.tuple(centreTupleOf(table));
  std::int64_t invalidated = 0;
  for (auto _ : state) {
    state.PauseTiming();
    GAC4RTableCt* ct = newPooled<GAC4RTableCt>(table);
    ct->initSupports();
    ct->pruneUnsupported();
    std::int32_t validBefore = 0;
    for (const std::int32_t v : ct->domain(0)) validBefore += ct->supports(0).buckets[v]->count;
    for (std::int32_t k = 0; k < pendingVariables; ++k) {
      const std::int32_t x = 9 - k;
      ct->removeValue(x, centre[x] == 0 ? 1 : 0);
    }
    const std::uint64_t resets = ct->resetCount();
    state.ResumeTiming();

    ct->propagate();
    clobberMemory();

    state.PauseTiming();
    if (ct->resetCount() != resets) state.SkipWithError("propagation reset; sizes too small");
    std::int32_t validAfter = 0;
    for (const std::int32_t v : ct->domain(0)) validAfter += ct->supports(0).buckets[v]->count;
    invalidated += validBefore - validAfter;
    deletePooled(ct);
    state.ResumeTiming();
  }
  state.counters["tuples"] =
      benchmark::Counter(static_cast<double>(invalidated), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Propagate)
    ->ArgsProduct({{100000, 1000000}, {1, 2, 3}})
    ->ArgNames({"tuples", "pending"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace
}  // namespace varnel

BENCHMARK_MAIN();
