// The containers against the standard ones doing the same job: Collection::indexOf against
// std::unordered_map::find and absl::flat_hash_map::find (when found), Set iteration against
// std::vector and std::list, SetRev push/pop against std::vector push_back/pop_back,
// HeapMinInt64::setKey against a plain binary heap with a position map, and a restoration
// point's push and pop alone. Each measured loop is an out-of-line function and every result
// passes through keepAlive; the ns_per_op counters are what tools/compare-peers tabulates.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <list>
#include <numeric>
#include <random>
#include <unordered_map>
#include <vector>

#ifdef VARNEL_PEER_ABSL
#include "absl/container/flat_hash_map.h"
#endif

#include "varnel/containers/array.h"
#include "varnel/containers/collection.h"
#include "varnel/containers/heap_min.h"
#include "varnel/containers/set.h"
#include "varnel/containers/set_rev.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/compiler.h"
#include "varnel/solver/solver.h"

namespace {

using varnel::clobberMemory;
using varnel::keepAlive;

constexpr std::int32_t kItems = 10000;

void reportOps(benchmark::State& state, std::int64_t opsPerIteration) {
  state.SetItemsProcessed(state.iterations() * opsPerIteration);
  state.counters["ns_per_op"] =
      benchmark::Counter(static_cast<double>(state.iterations() * opsPerIteration),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// --- Lookups: items 0 .. 9999 present; hits look up i, misses look up i + 10000 ------------

template <class Map>
[[gnu::noinline]] void findRound(const Map& map, std::int64_t offset) {
  clobberMemory();
  for (std::int64_t i = 0; i < kItems; ++i) {
    const auto found = map.find(i + offset);
    std::int32_t e = found == map.end() ? -1 : found->second;
    keepAlive(e);
  }
}

[[gnu::noinline]] void indexOfRound(const varnel::Collection& collection, std::int64_t offset) {
  clobberMemory();
  for (std::int64_t i = 0; i < kItems; ++i) {
    std::int32_t e = collection.indexOf(i + offset);
    keepAlive(e);
  }
}

void CollectionIndexOf(benchmark::State& state) {
  auto* collection = varnel::newPooled<varnel::Collection>(kItems);
  for (std::int64_t i = 0; i < kItems; ++i) collection->push_back(i);
  const std::int64_t offset = state.range(0);
  for (auto _ : state) indexOfRound(*collection, offset);
  reportOps(state, kItems);
  varnel::deletePooled(collection);
}

// Problem 0's own pattern: the collection is empty, so every probe misses at its first slot.
void CollectionIndexOfEmpty(benchmark::State& state) {
  auto* collection = varnel::newPooled<varnel::Collection>(kItems);
  for (auto _ : state) {
    indexOfRound(*collection, 0);
    indexOfRound(*collection, kItems);
  }
  reportOps(state, 2 * kItems);
  varnel::deletePooled(collection);
}

template <class Map>
void MapFind(benchmark::State& state) {
  Map map;
  map.reserve(kItems);
  for (std::int32_t i = 0; i < kItems; ++i) map.emplace(i, i);
  const std::int64_t offset = state.range(0);
  for (auto _ : state) findRound(map, offset);
  reportOps(state, kItems);
}

template <class Map>
void MapFindEmpty(benchmark::State& state) {
  Map map;
  map.reserve(kItems);
  for (auto _ : state) {
    findRound(map, 0);
    findRound(map, kItems);
  }
  reportOps(state, 2 * kItems);
}

using StdMap = std::unordered_map<std::int64_t, std::int32_t>;
BENCHMARK(CollectionIndexOf)->Name("lookup_hit/Collection")->Arg(0);
BENCHMARK(CollectionIndexOf)->Name("lookup_miss/Collection")->Arg(kItems);
BENCHMARK(CollectionIndexOfEmpty)->Name("lookup_empty/Collection");
BENCHMARK(MapFind<StdMap>)->Name("lookup_hit/std_unordered_map")->Arg(0);
BENCHMARK(MapFind<StdMap>)->Name("lookup_miss/std_unordered_map")->Arg(kItems);
BENCHMARK(MapFindEmpty<StdMap>)->Name("lookup_empty/std_unordered_map");
#ifdef VARNEL_PEER_ABSL
using AbslMap = absl::flat_hash_map<std::int64_t, std::int32_t>;
BENCHMARK(MapFind<AbslMap>)->Name("lookup_hit/absl_flat_hash_map")->Arg(0);
BENCHMARK(MapFind<AbslMap>)->Name("lookup_miss/absl_flat_hash_map")->Arg(kItems);
BENCHMARK(MapFindEmpty<AbslMap>)->Name("lookup_empty/absl_flat_hash_map");
#endif

// --- Iteration over 10,000 members inserted in a shuffled order -----------------------------

std::vector<std::int32_t> shuffledMembers() {
  std::vector<std::int32_t> members(kItems);
  std::iota(members.begin(), members.end(), 0);
  std::shuffle(members.begin(), members.end(), std::mt19937(12345));
  return members;
}

[[gnu::noinline]] std::int64_t sumSet(const varnel::Set& set) {
  clobberMemory();
  std::int64_t sum = 0;
  for (const std::int32_t x : set) sum += x;
  return sum;
}

template <class Sequence>
[[gnu::noinline]] std::int64_t sumSequence(const Sequence& sequence) {
  clobberMemory();
  std::int64_t sum = 0;
  for (const std::int32_t x : sequence) sum += x;
  return sum;
}

void SetIteration(benchmark::State& state) {
  varnel::Set set(kItems);
  for (const std::int32_t x : shuffledMembers()) set.pushBack(x);
  for (auto _ : state) {
    std::int64_t sum = sumSet(set);
    keepAlive(sum);
  }
  reportOps(state, kItems);
}

template <class Sequence>
void SequenceIteration(benchmark::State& state) {
  Sequence sequence;
  for (const std::int32_t x : shuffledMembers()) sequence.push_back(x);
  for (auto _ : state) {
    std::int64_t sum = sumSequence(sequence);
    keepAlive(sum);
  }
  reportOps(state, kItems);
}

BENCHMARK(SetIteration)->Name("iterate/Set");
BENCHMARK(SequenceIteration<std::vector<std::int32_t>>)->Name("iterate/std_vector");
BENCHMARK(SequenceIteration<std::list<std::int32_t>>)->Name("iterate/std_list");

// --- Push and pop at the back: n pushes then n pops -----------------------------------------

[[gnu::noinline]] void setRevPushPop(varnel::SetRev& set, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) set.pushBack(i);
  for (std::int32_t i = 0; i < n; ++i) set.popBack();
}

[[gnu::noinline]] void vectorPushPop(std::vector<std::int32_t>& vector, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) vector.push_back(i);
  for (std::int32_t i = 0; i < n; ++i) {
    vector.pop_back();
    clobberMemory();
  }
}

// Inside one restoration point, registered once and logged; the pop that restores the set
// between rounds is not timed.
void SetRevPushPop(benchmark::State& state) {
  auto* solver = varnel::newPooled<varnel::Solver>();
  {
    varnel::SetRev set(*solver, kItems);
    for (auto _ : state) {
      solver->pushRestorationPoint();
      setRevPushPop(set, kItems);
      state.PauseTiming();
      solver->popRestorationPoint();
      state.ResumeTiming();
    }
    reportOps(state, 2 * kItems);
  }
  varnel::deletePooled(solver);
}

void VectorPushPop(benchmark::State& state) {
  std::vector<std::int32_t> vector;
  vector.reserve(kItems);
  for (auto _ : state) vectorPushPop(vector, kItems);
  reportOps(state, 2 * kItems);
}

BENCHMARK(SetRevPushPop)->Name("push_pop/SetRev");
BENCHMARK(VectorPushPop)->Name("push_pop/std_vector");

// --- Key changes in an indexed min-heap of 10,000 elements ----------------------------------

// The textbook indexed binary heap: keys by element, the heap of elements, each element's
// position; no filler positions, so sift-down tests for the right child.
class PlainIndexedHeap {
 public:
  explicit PlainIndexedHeap(const std::vector<std::int64_t>& keys)
      : key_(keys), heap_(keys.size()), position_(keys.size()) {
    std::iota(heap_.begin(), heap_.end(), 0);
    std::iota(position_.begin(), position_.end(), 0);
    for (std::int32_t p = static_cast<std::int32_t>(heap_.size()) / 2; p >= 0; --p) siftDown(p);
  }

  void setKey(std::int32_t e, std::int64_t key) {
    const std::int64_t old = key_[e];
    key_[e] = key;
    if (key < old) {
      siftUp(position_[e]);
    } else if (key > old) {
      siftDown(position_[e]);
    }
  }
  std::int32_t top() const { return heap_[0]; }

 private:
  void place(std::int32_t p, std::int32_t e) {
    heap_[p] = e;
    position_[e] = p;
  }
  void siftUp(std::int32_t p) {
    const std::int32_t e = heap_[p];
    const std::int64_t k = key_[e];
    while (p > 0) {
      const std::int32_t q = (p - 1) / 2;
      if (key_[heap_[q]] <= k) break;
      place(p, heap_[q]);
      p = q;
    }
    place(p, e);
  }
  void siftDown(std::int32_t p) {
    const std::int32_t n = static_cast<std::int32_t>(heap_.size());
    const std::int32_t e = heap_[p];
    const std::int64_t k = key_[e];
    for (std::int32_t c = 2 * p + 1; c < n; c = 2 * p + 1) {
      if (c + 1 < n && key_[heap_[c + 1]] < key_[heap_[c]]) ++c;
      if (key_[heap_[c]] >= k) break;
      place(p, heap_[c]);
      p = c;
    }
    place(p, e);
  }

  std::vector<std::int64_t> key_;
  std::vector<std::int32_t> heap_;
  std::vector<std::int32_t> position_;
};

constexpr std::int32_t kKeyChanges = 100000;

struct KeyChanges {
  std::vector<std::int64_t> initial;
  std::vector<std::int32_t> element;
  std::vector<std::int64_t> key;
};

const KeyChanges& keyChanges() {
  static const KeyChanges changes = [] {
    KeyChanges c;
    std::mt19937_64 random(777);
    for (std::int32_t e = 0; e < kItems; ++e)
      c.initial.push_back(static_cast<std::int64_t>(random() % 1000000));
    for (std::int32_t k = 0; k < kKeyChanges; ++k) {
      c.element.push_back(static_cast<std::int32_t>(random() % kItems));
      c.key.push_back(static_cast<std::int64_t>(random() % 1000000));
    }
    return c;
  }();
  return changes;
}

template <class Heap>
[[gnu::noinline]] void applyKeyChanges(Heap& heap, const KeyChanges& changes) {
  for (std::int32_t k = 0; k < kKeyChanges; ++k) heap.setKey(changes.element[k], changes.key[k]);
  clobberMemory();
}

void HeapMinSetKey(benchmark::State& state) {
  const KeyChanges& changes = keyChanges();
  varnel::Array<std::int64_t> values(kItems);
  for (std::int32_t e = 0; e < kItems; ++e) values[e] = changes.initial[e];
  auto* heap = varnel::newPooled<varnel::HeapMinInt64>(values);
  for (auto _ : state) {
    applyKeyChanges(*heap, changes);
    std::int32_t top = heap->elementAt(0);
    keepAlive(top);
  }
  reportOps(state, kKeyChanges);
  varnel::deletePooled(heap);
}

void PlainHeapSetKey(benchmark::State& state) {
  const KeyChanges& changes = keyChanges();
  PlainIndexedHeap heap(changes.initial);
  for (auto _ : state) {
    applyKeyChanges(heap, changes);
    std::int32_t top = heap.top();
    keepAlive(top);
  }
  reportOps(state, kKeyChanges);
}

BENCHMARK(HeapMinSetKey)->Name("set_key/HeapMinInt64");
BENCHMARK(PlainHeapSetKey)->Name("set_key/plain_indexed_heap");

// --- A restoration point pushed and popped with nothing in it --------------------------------

[[gnu::noinline]] void pushPopPoints(varnel::Solver& solver, std::int32_t pairs) {
  for (std::int32_t i = 0; i < pairs; ++i) {
    solver.pushRestorationPoint();
    solver.popRestorationPoint();
  }
}

void PushPopRestorationPoint(benchmark::State& state) {
  auto* solver = varnel::newPooled<varnel::Solver>();
  for (auto _ : state) pushPopPoints(*solver, 1000);
  reportOps(state, 1000);
  varnel::deletePooled(solver);
}
BENCHMARK(PushPopRestorationPoint)->Name("restoration_point/push_pop");

}  // namespace

BENCHMARK_MAIN();
