// Test helper: runs a function on a fresh thread that owns a fresh allocator, so pool counts and
// budgets start from a known state whatever the other tests did on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

#include "varnel/memory/allocator.h"

namespace varnel::testing {

inline void onFreshAllocator(std::uint64_t budgetBytes, const std::function<void()>& body) {
  std::thread worker([&] {
    createThreadAllocator(budgetBytes);
    body();
    destroyThreadAllocator();
  });
  worker.join();
}

// Size in bytes of an allocator's own records: the allocator, then per class a pool record and
// its 8-entry chunk table, in that order at the start of a budget.
inline constexpr std::uint64_t kRecordBytes =
    sizeof(varnel_allocator) + kSizeClassCount * (sizeof(SizeClassPool) + 8 * sizeof(void*));

}  // namespace varnel::testing
