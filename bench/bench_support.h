// Shared by the benchmark programs: a fresh allocator for the calling thread for the length of
// one run.
#pragma once

#include <cstdint>

#include "varnel/memory/allocator.h"
#include "varnel/platform/thread_slot.h"

namespace varnel::bench {

// Gives the calling thread a fresh allocator (with `budget` bytes, 0 for none) and puts back the
// one it had. A benchmark's first thread is the process's main thread, whose allocator never has
// a budget and already holds chunks: a run that must start cold or budgeted has to swap it.
class FreshAllocatorScope {
 public:
  explicit FreshAllocatorScope(std::uint64_t budget = 0) : previous_(currentAllocator()) {
    createThreadAllocator(budget);
  }
  ~FreshAllocatorScope() {
    destroyThreadAllocator();
    platform::threadSlotSet(allocatorTlsIndex, previous_);
  }
  FreshAllocatorScope(const FreshAllocatorScope&) = delete;
  FreshAllocatorScope& operator=(const FreshAllocatorScope&) = delete;

 private:
  varnel_allocator* previous_;
};

}  // namespace varnel::bench
