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
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

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

// glibc's own entry points, which the glibc side calls by name (peerServingMalloc checks that
// no peer answers them).
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

// Every pair allocates, writes the block and frees it: one op is one pair. Pinned like the
// patterns below; unpinned, a thread the benchmark spawns would stay on the one processor its
// main thread was pinned to by an earlier benchmark.
template <class Side>
void Pairs48(benchmark::State& state) {
  MeasuredThread measured(state);
  FreshAllocatorScope scope(0);
  measured.start();
  for (auto _ : state) {
    void* block = Side::allocate(48);
    *static_cast<volatile char*>(block) = 1;
    benchmark::DoNotOptimize(block);
    Side::release(block, 48);
  }
  measured.stop();
  state.SetItemsProcessed(state.iterations());
}

// One step frees the oldest block of the ring and allocates its replacement, whose size walks
// the mix with a stride that does not follow the ring, so blocks of every size are live at once.
// One step is one op.
template <class Side>
class ChurnRing {
 public:
  ChurnRing() {
    for (int i = 0; i < kRing; ++i) {
      sizes_[i] = kChurnSizes[i % kChurnSizes.size()];
      ring_[i] = Side::allocate(sizes_[i]);
    }
  }
  ~ChurnRing() {
    for (int i = 0; i < kRing; ++i) Side::release(ring_[i], sizes_[i]);
  }
  ChurnRing(const ChurnRing&) = delete;
  ChurnRing& operator=(const ChurnRing&) = delete;

  // Runs `steps` steps and returns their ops. The ring's two positions live in locals for the
  // run: members would be stored and reloaded at every step, since the write to the new block
  // may alias them, and that traffic would be the benchmark's, not the allocator's.
  std::int64_t run(std::int64_t steps) {
    int slot = slot_;
    std::uint32_t next = next_;
    for (std::int64_t k = 0; k < steps; ++k) {
      Side::release(ring_[slot], sizes_[slot]);
      const std::uint32_t bytes = kChurnSizes[next];
      next = (next + 7) & 15;
      void* block = Side::allocate(bytes);
      *static_cast<volatile char*>(block) = 1;
      ring_[slot] = block;
      sizes_[slot] = bytes;
      if (++slot == kRing) slot = 0;
    }
    slot_ = slot;
    next_ = next;
    return steps;
  }

 private:
  std::array<void*, kRing> ring_;
  std::array<std::uint32_t, kRing> sizes_;
  std::uint32_t next_ = 0;
  int slot_ = 0;
};

// A depth-first search's allocations: one 24-byte block (a node's decision) per node opened, freed
// when the search backtracks past it, last in first out. The depth walks a fixed pseudo-random
// path between 0 and 64 (down five times in eight, else backtracking 1 to 8 levels), so that the
// stack is deep and shallow in turn as a real search's is. A step is one move of the path; a run
// returns its ops, one per allocation or free.
template <class Side>
class DecisionStack {
 public:
  DecisionStack() {
    // The path: +1 pushes one node, -k backtracks k levels.
    std::uint32_t random = 12345;
    for (std::size_t k = 0; k < path_.size(); ++k) {
      random = random * 1664525u + 1013904223u;
      path_[k] = static_cast<std::int8_t>(
          (random >> 28) < 10 ? 1 : -1 - static_cast<int>((random >> 20) & 7));
    }
  }
  ~DecisionStack() {
    while (depth_ > 0) Side::release(stack_[--depth_], kDecisionBytes);
  }
  DecisionStack(const DecisionStack&) = delete;
  DecisionStack& operator=(const DecisionStack&) = delete;

  // Runs `steps` moves of the path and returns their ops. The positions stay members, unlike
  // ChurnRing's: this pattern's time is mostly its mispredicted turns, and with the positions in
  // locals GCC laid the branches out so that a step took 15 to 40 % longer, peers and pools.
  std::int64_t run(std::int64_t steps) {
    std::int64_t ops = 0;
    for (std::int64_t k = 0; k < steps; ++k) ops += step();
    return ops;
  }

 private:
  std::int64_t step() {
    // The path's moves, kept between depth 0 and kDepth.
    int move = path_[position_];
    position_ = (position_ + 1) & (path_.size() - 1);
    if (move > 0 && depth_ == kDepth) move = -1;
    if (move < 0 && depth_ + move < 0) move = depth_ == 0 ? 1 : -depth_;
    if (move > 0) {
      void* block = Side::allocate(kDecisionBytes);
      *static_cast<volatile char*>(block) = 1;
      stack_[depth_++] = block;
      return 1;
    }
    for (int k = 0; k < -move; ++k) Side::release(stack_[--depth_], kDecisionBytes);
    return -move;
  }

  static constexpr int kDepth = 64;
  static constexpr std::uint32_t kDecisionBytes = 24;
  std::array<std::int8_t, 4096> path_;
  std::array<void*, kDepth + 1> stack_;
  int depth_ = 0;
  std::size_t position_ = 0;
};

// Steps before the clock starts: every pool the pattern uses reaches the state the timed loop
// keeps it in (its chunks obtained and their pages touched).
constexpr int kWarmUpSteps = 64 * kRing;

// Steps the timed loop runs between two looks at the clock's state: the benchmark's iterations
// are steps, counted in batches of this many.
constexpr std::int64_t kBatch = 1000;

// A pattern on a fresh allocator (the benchmark's argument is its budget, 0 for none), warmed
// up, then timed.
template <class Side, template <class> class Pattern>
void Measure(benchmark::State& state) {
  MeasuredThread measured(state);
  FreshAllocatorScope scope(static_cast<std::uint64_t>(state.range(0)));
  Pattern<Side> pattern;
  pattern.run(kWarmUpSteps);
  std::int64_t ops = 0;
  measured.start();
  while (state.KeepRunningBatch(kBatch)) ops += pattern.run(kBatch);
  measured.stop();
  state.SetItemsProcessed(ops);
}

// The same pattern for exactly `steps` steps after the same warm-up, untimed: two runs under
// valgrind (callgrind or cachegrind) with different step counts give the instructions and the
// simulated cache misses of one op by difference, setup and warm-up cancelling out.
template <class Side, template <class> class Pattern>
std::int64_t countSteps(std::uint64_t budget, std::int64_t steps) {
  FreshAllocatorScope scope(budget);
  Pattern<Side> pattern;
  pattern.run(kWarmUpSteps);
  return pattern.run(steps);
}

// Command-line names of the sides and patterns, for --count.
using CountFunction = std::int64_t (*)(std::uint64_t, std::int64_t);
std::map<std::string, CountFunction>& countFunctions() {
  static std::map<std::string, CountFunction> functions;
  return functions;
}

template <class Side>
void registerSide(const char* name, bool pools) {
  const std::string side(name);
  benchmark::RegisterBenchmark(("pairs48/" + side).c_str(), Pairs48<Side>)->Threads(1)->Threads(2);
  benchmark::RegisterBenchmark(("churn/" + side).c_str(), Measure<Side, ChurnRing>)
      ->Arg(0)
      ->Threads(1)
      ->Threads(2);
  benchmark::RegisterBenchmark(("search/" + side).c_str(), Measure<Side, DecisionStack>)
      ->Arg(0)
      ->Threads(1)
      ->Threads(2);
  if (pools) {
    benchmark::RegisterBenchmark(("churn_budget/" + side).c_str(), Measure<Side, ChurnRing>)
        ->Arg(static_cast<std::int64_t>(kChurnBudget))
        ->Threads(1)
        ->Threads(2);
    benchmark::RegisterBenchmark(("search_budget/" + side).c_str(), Measure<Side, DecisionStack>)
        ->Arg(static_cast<std::int64_t>(kChurnBudget))
        ->Threads(1)
        ->Threads(2);
  }
  countFunctions()["churn/" + side] = countSteps<Side, ChurnRing>;
  countFunctions()["search/" + side] = countSteps<Side, DecisionStack>;
}

// What serves the process's malloc or glibc's __libc_malloc when it is not the C library, or
// null. The peer libraries define malloc, mimalloc and tcmalloc __libc_malloc too, as aliases of
// their own entry points, and the first library the loader finds them in serves the whole
// process: the glibc side and the pools' chunks would be that peer's (the build links the C
// library first to prevent it). In glibc, malloc is an alias of __libc_malloc.
const char* peerServingMalloc() {
  void* (*const libcMalloc)(std::size_t) = &__libc_malloc;
#ifdef VARNEL_PEER_MIMALLOC
  if (libcMalloc == &mi_malloc) return "mimalloc";
#endif
#ifdef VARNEL_PEER_TCMALLOC
  if (libcMalloc == &tc_malloc) return "tcmalloc";
#endif
  if (libcMalloc != static_cast<void* (*)(std::size_t)>(&std::malloc)) return "a peer library";
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* peer = peerServingMalloc()) {
    std::fprintf(stderr,
                 "peer_allocators_bench: %s serves malloc in this process, so the glibc side or "
                 "the pools' chunks would not be glibc's; link the C library before the peer "
                 "libraries\n",
                 peer);
    return 2;
  }
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
  // peer_allocators_bench --count PATTERN/SIDE BUDGET STEPS: no timing, see countSteps.
  if (argc == 5 && std::string(argv[1]) == "--count") {
    const auto found = countFunctions().find(argv[2]);
    if (found == countFunctions().end()) {
      std::fprintf(stderr, "--count: no pattern/side %s\n", argv[2]);
      return 2;
    }
    const std::int64_t ops =
        found->second(std::strtoull(argv[3], nullptr, 10), std::strtoll(argv[4], nullptr, 10));
    std::printf("%s: %lld ops\n", argv[2], static_cast<long long>(ops));
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
