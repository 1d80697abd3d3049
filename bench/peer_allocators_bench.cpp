// The pools against general allocators on the same sequences: glibc (always), and mimalloc,
// jemalloc and tcmalloc when they were found at configure time. 48-byte allocate/free pairs; a
// churn over a ring of 1,000 live blocks with a fixed mix of 8 to 512 bytes; and the search's own
// pattern: blocks of a search node's decision (24 bytes) allocated as the search goes down and
// freed last-in first-out as it backtracks (pools with and without a budget); one thread, and two
// threads each with private work. tools/compare-peers runs it and turns the medians into ns/op
// and ratios.
//
// What makes a figure repeat: each thread is pinned to its own processor; the allocator under
// test is new for each run and its blocks are warmed by as many operations as the timed loop's
// first thousands before the clock starts, so every run starts from the same memory state; the
// page faults a thread takes inside the timed loop are reported beside the time (faults/op,
// which should be 0: a figure that moves with them measures the kernel, not the allocator).
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "bench_support.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/size_class.h"
#include "varnel/platform/platform.h"

#ifdef VARNEL_PEER_MIMALLOC
#include <mimalloc.h>
#endif
#ifdef VARNEL_PEER_JEMALLOC
#include <jemalloc/jemalloc.h>
#endif
#ifdef VARNEL_PEER_TCMALLOC
#include <gperftools/tcmalloc.h>
#endif

// glibc's own entry points: plain malloc may be served by whichever peer the process loaded
// first, these never are.
extern "C" void* __libc_malloc(std::size_t bytes);
extern "C" void __libc_free(void* block);

namespace {

using varnel::bench::FreshAllocatorScope;

struct PoolSide {
  static void* allocate(std::uint32_t bytes) {
    return varnel::allocateBlock(varnel::sizeClassOf(bytes));
  }
  static void release(void* block, std::uint32_t bytes) {
    varnel::freeBlock(block, varnel::sizeClassOf(bytes));
  }
};

// The pools behind a call the compiler cannot inline, as the peers are (they are shared
// libraries): separates the fast path's cost from the saving of the call.
void* (*volatile outOfLineAllocate)(std::uint32_t) = &PoolSide::allocate;
void (*volatile outOfLineRelease)(void*, std::uint32_t) = &PoolSide::release;

struct OutOfLinePoolSide {
  static void* allocate(std::uint32_t bytes) { return outOfLineAllocate(bytes); }
  static void release(void* block, std::uint32_t bytes) { outOfLineRelease(block, bytes); }
};

struct GlibcSide {
  static void* allocate(std::uint32_t bytes) { return __libc_malloc(bytes); }
  static void release(void* block, std::uint32_t) { __libc_free(block); }
};

#ifdef VARNEL_PEER_MIMALLOC
struct MimallocSide {
  static void* allocate(std::uint32_t bytes) { return mi_malloc(bytes); }
  static void release(void* block, std::uint32_t bytes) { mi_free_size(block, bytes); }
};
#endif

#ifdef VARNEL_PEER_JEMALLOC
struct JemallocSide {
  static void* allocate(std::uint32_t bytes) { return mallocx(bytes, 0); }
  static void release(void* block, std::uint32_t bytes) { sdallocx(block, bytes, 0); }
};
#endif

#ifdef VARNEL_PEER_TCMALLOC
struct TcmallocSide {
  static void* allocate(std::uint32_t bytes) { return tc_malloc(bytes); }
  static void release(void* block, std::uint32_t bytes) { tc_free_sized(block, bytes); }
};
#endif

// Pins the benchmark's thread to a processor of its own and counts the page faults of the timed
// loop, reported as faults per operation.
class MeasuredThread {
 public:
  explicit MeasuredThread(benchmark::State& state) : state_(state) {
    varnel::platform::pinCurrentThread(static_cast<unsigned>(state.thread_index()));
  }
  // Call right before the timed loop.
  void start() { faults_ = varnel::platform::pageFaults(); }
  // Call right after it.
  void stop() {
    const std::uint64_t faults = varnel::platform::pageFaults() - faults_;
    state_.counters["faults/op"] =
        benchmark::Counter(static_cast<double>(faults) / static_cast<double>(state_.iterations()));
  }

 private:
  benchmark::State& state_;
  std::uint64_t faults_ = 0;
};

constexpr std::array<std::uint32_t, 16> kChurnSizes = {8,   16,  24,  32,  40,  48,  64,  96,
                                                       128, 160, 200, 256, 320, 384, 448, 512};
constexpr int kRing = 1000;
constexpr std::uint64_t kChurnBudget = std::uint64_t{64} << 20;

// Every pair allocates, writes the block and frees it: one op is one pair.
template <class Side>
void Pairs48(benchmark::State& state) {
  FreshAllocatorScope scope(0);
  for (auto _ : state) {
    void* block = Side::allocate(48);
    *static_cast<volatile char*>(block) = 1;
    benchmark::DoNotOptimize(block);
    Side::release(block, 48);
  }
  state.SetItemsProcessed(state.iterations());
}

// One op frees the oldest block of the ring and allocates its replacement, whose size walks the
// mix with a stride that does not follow the ring, so blocks of every size are live at once.
template <class Side>
void Churn(benchmark::State& state) {
  MeasuredThread measured(state);
  FreshAllocatorScope scope(static_cast<std::uint64_t>(state.range(0)));
  std::array<void*, kRing> ring;
  std::array<std::uint32_t, kRing> sizes;
  for (int i = 0; i < kRing; ++i) {
    sizes[i] = kChurnSizes[i % kChurnSizes.size()];
    ring[i] = Side::allocate(sizes[i]);
  }
  std::uint32_t next = 0;
  int slot = 0;
  auto churn = [&]() {
    Side::release(ring[slot], sizes[slot]);
    const std::uint32_t bytes = kChurnSizes[next];
    next = (next + 7) & 15;
    void* block = Side::allocate(bytes);
    *static_cast<volatile char*>(block) = 1;
    ring[slot] = block;
    sizes[slot] = bytes;
    if (++slot == kRing) slot = 0;
  };
  // Warm-up: every size's pool reaches the state the timed loop keeps it in.
  for (int k = 0; k < 64 * kRing; ++k) churn();
  measured.start();
  for (auto _ : state) churn();
  measured.stop();
  for (int i = 0; i < kRing; ++i) Side::release(ring[i], sizes[i]);
  state.SetItemsProcessed(state.iterations());
}

// A depth-first search's allocations: one 24-byte block (a node's decision) per node opened, freed
// when the search backtracks past it, last in first out. The depth walks a fixed pseudo-random
// path between 0 and 64 (down five times in eight, else backtracking 1 to 8 levels), so that the
// stack is deep and shallow in turn as a real search's is. One op is one allocation or free.
template <class Side>
void SearchNodes(benchmark::State& state) {
  MeasuredThread measured(state);
  FreshAllocatorScope scope(static_cast<std::uint64_t>(state.range(0)));
  constexpr int kDepth = 64;
  constexpr std::uint32_t kDecisionBytes = 24;
  // The path: +1 pushes one node, -k backtracks k levels.
  std::array<std::int8_t, 4096> path;
  std::uint32_t random = 12345;
  for (std::size_t k = 0; k < path.size(); ++k) {
    random = random * 1664525u + 1013904223u;
    path[k] = static_cast<std::int8_t>(
        (random >> 28) < 10 ? 1 : -1 - static_cast<int>((random >> 20) & 7));
  }
  std::array<void*, kDepth + 1> stack;
  int depth = 0;
  std::size_t step = 0;
  std::int64_t ops = 0;
  auto walk = [&]() {
    // The path's moves, kept between depth 0 and kDepth.
    int move = path[step];
    step = (step + 1) & (path.size() - 1);
    if (move > 0 && depth == kDepth) move = -1;
    if (move < 0 && depth + move < 0) move = depth == 0 ? 1 : -depth;
    if (move > 0) {
      void* block = Side::allocate(kDecisionBytes);
      *static_cast<volatile char*>(block) = 1;
      stack[depth++] = block;
      return 1;
    }
    for (int k = 0; k < -move; ++k) Side::release(stack[--depth], kDecisionBytes);
    return -move;
  };
  for (int k = 0; k < 64 * kRing; ++k) walk();
  measured.start();
  for (auto _ : state) ops += walk();
  measured.stop();
  while (depth > 0) Side::release(stack[--depth], kDecisionBytes);
  state.SetItemsProcessed(ops);
}

template <class Side>
void registerSide(const char* name, bool pools) {
  const std::string side(name);
  benchmark::RegisterBenchmark(("pairs48/" + side).c_str(), Pairs48<Side>)->Threads(1)->Threads(2);
  benchmark::RegisterBenchmark(("churn/" + side).c_str(), Churn<Side>)
      ->Arg(0)
      ->Threads(1)
      ->Threads(2);
  benchmark::RegisterBenchmark(("search/" + side).c_str(), SearchNodes<Side>)
      ->Arg(0)
      ->Threads(1)
      ->Threads(2);
  if (pools) {
    benchmark::RegisterBenchmark(("churn_budget/" + side).c_str(), Churn<Side>)
        ->Arg(static_cast<std::int64_t>(kChurnBudget))
        ->Threads(1)
        ->Threads(2);
    benchmark::RegisterBenchmark(("search_budget/" + side).c_str(), SearchNodes<Side>)
        ->Arg(static_cast<std::int64_t>(kChurnBudget))
        ->Threads(1)
        ->Threads(2);
  }
}

}  // namespace

int main(int argc, char** argv) {
  registerSide<PoolSide>("pools", true);
  registerSide<OutOfLinePoolSide>("pools_out_of_line", false);
  registerSide<GlibcSide>("glibc", false);
#ifdef VARNEL_PEER_MIMALLOC
  registerSide<MimallocSide>("mimalloc", false);
#endif
#ifdef VARNEL_PEER_JEMALLOC
  registerSide<JemallocSide>("jemalloc", false);
#endif
#ifdef VARNEL_PEER_TCMALLOC
  registerSide<TcmallocSide>("tcmalloc", false);
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
