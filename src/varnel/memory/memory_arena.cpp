// Bump allocation inside a budget, or plain heap requests without one.
#include "varnel/memory/memory_arena.h"

#include <cstdlib>

#include "varnel/memory/out_of_memory.h"
#include "varnel/platform/assert.h"

namespace varnel {

void* arenaAllocate(MemoryArena* arena, std::uint64_t bytes) {
  if (bytes == 0) return nullptr;
  if (arena->capacity == 0) return std::malloc(bytes);
  const std::uint64_t start = arena->used;
  const std::uint64_t rounded = roundUpToWord(bytes);
  // A request so large that start + rounded wraps is past any budget too.
  const bool fits = rounded <= arena->capacity && start <= arena->capacity - rounded;
  arena->used = start + rounded;
  if (!fits) exitBudgetExceeded(arena->capacity);
  return static_cast<char*>(arena->base) + start;
}

void* arenaAllocateZeroed([[maybe_unused]] MemoryArena* arena, std::uint64_t bytes) {
  VARNEL_ASSERT(arena->capacity == 0);
  return bytes == 0 ? nullptr : std::calloc(1, bytes);
}

void arenaRelease([[maybe_unused]] MemoryArena* arena, void* block) {
  VARNEL_ASSERT(arena->capacity == 0);
  std::free(block);
}

}  // namespace varnel
