// Bump allocation inside a budget, or plain heap requests without one; large blocks are faulted
// in at once either way.
#include "varnel/memory/memory_arena.h"

#include <cstdlib>

#include "varnel/memory/out_of_memory.h"
#include "varnel/memory/poisoning.h"
#include "varnel/platform/assert.h"
#include "varnel/platform/platform.h"

namespace varnel {

namespace {

bool prefaults(std::uint64_t bytes) {
  return bytes >= kLargeBlockBytes && bytes <= kPrefaultLimitBytes;
}

}  // namespace

void* arenaAllocate(MemoryArena* arena, std::uint64_t bytes) {
  if (bytes == 0) return nullptr;
  if (arena->capacity == 0) {
    if (bytes < kLargeBlockBytes) return std::malloc(bytes);
    return platform::mapLargeBlock(bytes, prefaults(bytes));
  }
  const std::uint64_t start = arena->used;
  const std::uint64_t rounded = roundUpToWord(bytes);
  // A request so large that start + rounded wraps is past any budget too.
  const bool fits = rounded <= arena->capacity && start <= arena->capacity - rounded;
  arena->used = start + rounded;
  if (!fits) exitBudgetExceeded(arena->capacity);
  void* block = static_cast<char*>(arena->base) + start;
  if (prefaults(rounded)) platform::prefaultRange(block, rounded);
  return block;
}

void arenaRelease([[maybe_unused]] MemoryArena* arena, void* block, std::uint64_t bytes) {
  VARNEL_ASSERT(arena->capacity == 0);
  if (bytes < kLargeBlockBytes) {
    std::free(block);
  } else {
    unpoisonBytes(block, bytes);  // the addresses may come back from another mapping
    platform::unmapLargeBlock(block, bytes);
  }
}

}  // namespace varnel
