// The pools against malloc/free on the same operation sequences: allocate/free pairs of one size,
// and a churn over a ring of 1,000 live blocks with a fixed mix of sizes from 8 to 512 bytes.
// Run with --benchmark_filter and --benchmark_repetitions; the two-thread forms give each thread
// private work (and, for the pools, its own allocator).
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdlib>

#include "varnel/memory/allocator.h"
#include "varnel/memory/arrays.h"

namespace {

using varnel::allocateBlock;
using varnel::freeBlock;
using varnel::sizeClassOf;

// Gives a benchmark thread an allocator for the duration of the run: a fresh one when it has
// none or when the run asks for a budget (the thread's own allocator is put back afterwards).
class ThreadAllocatorScope {
 public:
  explicit ThreadAllocatorScope(std::uint64_t budget = 0) : saved_(varnel::currentAllocator()) {
    owned_ = saved_ == nullptr || budget != 0;
    if (owned_) varnel::createThreadAllocator(budget);
  }
  ~ThreadAllocatorScope() {
    if (!owned_) return;
    varnel::destroyThreadAllocator();
    varnel::platform::threadSlotSet(varnel::allocatorTlsIndex, saved_);
  }

 private:
  varnel::varnel_allocator* saved_;
  bool owned_;
};

constexpr std::array<std::uint32_t, 16> kChurnSizes = {8,   16,  24,  32,  40,  48,  64,  96,
                                                       128, 160, 200, 256, 320, 384, 448, 512};
constexpr int kRing = 1000;

struct PoolSide {
  static void* allocate(std::uint32_t bytes) { return allocateBlock(sizeClassOf(bytes)); }
  static void release(void* block, std::uint32_t bytes) { freeBlock(block, sizeClassOf(bytes)); }
};

struct MallocSide {
  static void* allocate(std::uint32_t bytes) { return std::malloc(bytes); }
  static void release(void* block, std::uint32_t) { std::free(block); }
};

// The pools reached through a call that the compiler cannot inline (the functions are called
// through volatile pointers): what a caller pays when the fast path is not expanded at its site.
void* (*volatile outOfLineAllocate)(std::uint32_t) = &PoolSide::allocate;
void (*volatile outOfLineRelease)(void*, std::uint32_t) = &PoolSide::release;

struct OutOfLinePoolSide {
  static void* allocate(std::uint32_t bytes) { return outOfLineAllocate(bytes); }
  static void release(void* block, std::uint32_t bytes) { outOfLineRelease(block, bytes); }
};

template <class Side>
void Pairs48(benchmark::State& state) {
  ThreadAllocatorScope scope;
  for (auto _ : state) {
    void* block = Side::allocate(48);
    *static_cast<volatile char*>(block) = 1;
    benchmark::DoNotOptimize(block);
    Side::release(block, 48);
  }
  state.SetItemsProcessed(state.iterations());
}

template <class Side>
void Churn(benchmark::State& state) {
  ThreadAllocatorScope scope(static_cast<std::uint64_t>(state.range(0)));
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
    next = (next + 7) & 15;  // a fixed walk over the mix that does not follow the ring
    void* block = Side::allocate(bytes);
    *static_cast<volatile char*>(block) = 1;
    ring[slot] = block;
    sizes[slot] = bytes;
    if (++slot == kRing) slot = 0;
  }
  for (int i = 0; i < kRing; ++i) Side::release(ring[i], sizes[i]);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(Pairs48<PoolSide>)->Name("pairs48/pools")->Threads(1)->Threads(2);
BENCHMARK(Pairs48<OutOfLinePoolSide>)->Name("pairs48/pools_out_of_line")->Threads(1);
BENCHMARK(Pairs48<MallocSide>)->Name("pairs48/malloc")->Threads(1)->Threads(2);
BENCHMARK(Churn<PoolSide>)->Name("churn/pools")->Arg(0)->Threads(1)->Threads(2);
BENCHMARK(Churn<PoolSide>)->Name("churn/pools_budget")->Arg(64 << 20)->Threads(1)->Threads(2);
BENCHMARK(Churn<OutOfLinePoolSide>)->Name("churn/pools_out_of_line")->Arg(0)->Threads(1);
BENCHMARK(Churn<MallocSide>)->Name("churn/malloc")->Arg(0)->Threads(1)->Threads(2);

}  // namespace

BENCHMARK_MAIN();
