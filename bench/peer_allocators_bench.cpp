// The pools against general allocators on the same sequences: glibc (always), and mimalloc,
// jemalloc and tcmalloc when they were found at configure time. 48-byte allocate/free pairs, and
// a churn over a ring of 1,000 live blocks with a fixed mix of 8 to 512 bytes (pools with and
// without a budget); one thread, and two threads each with private work. tools/compare-peers
// runs it and turns the medians into ns/op and ratios.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "bench_support.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/size_class.h"

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
  FreshAllocatorScope scope(static_cast<std::uint64_t>(state.range(0)));
  std::array<void*, kRing> ring;
  std::array<std::uint32_t, kRing> sizes;
  for (int i = 0; i < kRing; ++i) {
    sizes[i] = kChurnSizes[i % kChurnSizes.size()];
    ring[i] = Side::allocate(sizes[i]);
  }
  std::uint32_t next = 0;
  int slot = 0;
  for (auto _ : state) {
    Side::release(ring[slot], sizes[slot]);
    const std::uint32_t bytes = kChurnSizes[next];
    next = (next + 7) & 15;
    void* block = Side::allocate(bytes);
    *static_cast<volatile char*>(block) = 1;
    ring[slot] = block;
    sizes[slot] = bytes;
    if (++slot == kRing) slot = 0;
  }
  for (int i = 0; i < kRing; ++i) Side::release(ring[i], sizes[i]);
  state.SetItemsProcessed(state.iterations());
}

template <class Side>
void registerSide(const char* name, bool pools) {
  const std::string side(name);
  benchmark::RegisterBenchmark(("pairs48/" + side).c_str(), Pairs48<Side>)->Threads(1)->Threads(2);
  benchmark::RegisterBenchmark(("churn/" + side).c_str(), Churn<Side>)
      ->Arg(0)
      ->Threads(1)
      ->Threads(2);
  if (pools) {
    benchmark::RegisterBenchmark(("churn_budget/" + side).c_str(), Churn<Side>)
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
