// Collection lookups: the problem-0 probe pattern through indexOf against a bare loop doing the
// same slot reads, the whole timed burst, and hits and misses against std::unordered_map::find.
// Every probe result passes through keepAlive, so each counted probe executes. Compare the
// ns_per_probe counters, e.g.:
//   collection_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdint>
#include <unordered_map>

#include "varnel/containers/collection.h"
#include "varnel/memory/arrays.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/compiler.h"

namespace {

using varnel::clobberMemory;
using varnel::Collection;
using varnel::keepAlive;

constexpr std::int32_t kItems = 10000;
constexpr std::int32_t kSlots = 32768;  // the slot count of a collection of capacity 10000
constexpr std::int64_t kProbesPerRound = 2 * kItems;

void reportProbes(benchmark::State& state, std::int64_t probesPerIteration) {
  state.SetItemsProcessed(state.iterations() * probesPerIteration);
  state.counters["ns_per_probe"] =
      benchmark::Counter(static_cast<double>(state.iterations() * probesPerIteration),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One round of the timed burst: indexOf(i) and indexOf(i + 10000) on an empty collection.
void BM_IndexOfEmptyRound(benchmark::State& state) {
  Collection* collection = varnel::newPooled<Collection>(kItems);
  for (auto _ : state) {
    clobberMemory();
    for (std::int32_t i = 0; i < kItems; ++i) {
      std::int32_t first = collection->indexOf(i);
      keepAlive(first);
      std::int32_t second = collection->indexOf(i + kItems);
      keepAlive(second);
    }
  }
  reportProbes(state, kProbesPerRound);
  varnel::deletePooled(collection);
}
BENCHMARK(BM_IndexOfEmptyRound);

// The floor: the same slot reads from the same kind of pooled array, with nothing else.
void BM_MinimalSlotReadsRound(benchmark::State& state) {
  std::int32_t* slots = varnel::allocateArray<std::int32_t>(kSlots);
  for (std::int32_t p = 0; p < kSlots; ++p) slots[p] = -1;
  std::int32_t mask = kSlots - 1;
  keepAlive(mask);
  for (auto _ : state) {
    clobberMemory();
    for (std::int32_t i = 0; i < kItems; ++i) {
      std::int32_t first = slots[i & mask];
      keepAlive(first);
      std::int32_t second = slots[(i + kItems) & mask];
      keepAlive(second);
    }
  }
  reportProbes(state, kProbesPerRound);
  varnel::freeArray(slots, kSlots);
}
BENCHMARK(BM_MinimalSlotReadsRound);

// The burst problem 0 times: 2e9 probes per call.
void BM_TimedLookups(benchmark::State& state) {
  Collection* collection = varnel::newPooled<Collection>(kItems);
  std::int64_t milliseconds = 0;
  for (auto _ : state) {
    milliseconds = collection->timedLookups();
    keepAlive(milliseconds);
  }
  state.counters["ns_per_probe"] = static_cast<double>(milliseconds) * 1e6 / 2e9;
  varnel::deletePooled(collection);
}
BENCHMARK(BM_TimedLookups)->Iterations(1)->Unit(benchmark::kMillisecond);

// Hits and misses on a full collection (items 0 .. 9999) and on std::unordered_map.
void BM_IndexOfHits(benchmark::State& state) {
  Collection* collection = varnel::newPooled<Collection>(kItems);
  for (std::int64_t x = 0; x < kItems; ++x) collection->push_back(x);
  for (auto _ : state) {
    clobberMemory();
    for (std::int32_t i = 0; i < kItems; ++i) {
      std::int32_t e = collection->indexOf(i);
      keepAlive(e);
    }
  }
  reportProbes(state, kItems);
  varnel::deletePooled(collection);
}
BENCHMARK(BM_IndexOfHits);

void BM_IndexOfMisses(benchmark::State& state) {
  Collection* collection = varnel::newPooled<Collection>(kItems);
  for (std::int64_t x = 0; x < kItems; ++x) collection->push_back(x);
  for (auto _ : state) {
    clobberMemory();
    for (std::int32_t i = 0; i < kItems; ++i) {
      std::int32_t e = collection->indexOf(i + kItems);
      keepAlive(e);
    }
  }
  reportProbes(state, kItems);
  varnel::deletePooled(collection);
}
BENCHMARK(BM_IndexOfMisses);

std::unordered_map<std::int64_t, std::int32_t> filledMap() {
  std::unordered_map<std::int64_t, std::int32_t> map;
  map.reserve(kItems);
  for (std::int32_t x = 0; x < kItems; ++x) map.emplace(x, x);
  return map;
}

void BM_UnorderedMapFindHits(benchmark::State& state) {
  const auto map = filledMap();
  for (auto _ : state) {
    clobberMemory();
    for (std::int32_t i = 0; i < kItems; ++i) {
      const auto found = map.find(i);
      std::int32_t e = found == map.end() ? -1 : found->second;
      keepAlive(e);
    }
  }
  reportProbes(state, kItems);
}
BENCHMARK(BM_UnorderedMapFindHits);

void BM_UnorderedMapFindMisses(benchmark::State& state) {
  const auto map = filledMap();
  for (auto _ : state) {
    clobberMemory();
    for (std::int32_t i = 0; i < kItems; ++i) {
      const auto found = map.find(i + kItems);
      std::int32_t e = found == map.end() ? -1 : found->second;
      keepAlive(e);
    }
  }
  reportProbes(state, kItems);
}
BENCHMARK(BM_UnorderedMapFindMisses);

}  // namespace

BENCHMARK_MAIN();
