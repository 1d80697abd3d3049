// A thread's optional fixed budget: one buffer obtained once and carved by bumping an offset.
// An arena with capacity 0 has no budget and passes every request to the general heap.
#pragma once

#include <cstdint>

namespace varnel {

struct MemoryArena {
  void* base = nullptr;        // start of the budget buffer; null without a budget
  std::uint64_t capacity = 0;  // budget in bytes, a multiple of 8; 0 means no budget
  std::uint64_t used = 0;      // bytes carved so far, counted from base
};

// Bytes rounded up to a multiple of 8 (1 -> 8, 8 -> 8, 9 -> 16). Precondition: bytes >= 1.
constexpr std::uint64_t roundUpToWord(std::uint64_t bytes) { return ((bytes - 1) & ~7ull) + 8; }

// `bytes` bytes from the arena. 0 bytes: null, nothing changes. Without a budget: a heap
// block, or null when the heap refuses (the caller decides). With a budget: the next `bytes`
// rounded up to 8, never null; passing the capacity ends the process ("is exceeded").
void* arenaAllocate(MemoryArena* arena, std::uint64_t bytes);

// arenaAllocate's block with its `bytes` bytes zero, from the heap's calloc (which leaves pages
// the system maps anew as they come). Only for arenas without a budget.
void* arenaAllocateZeroed(MemoryArena* arena, std::uint64_t bytes);

// Returns to the heap a block that arenaAllocate took from it. Only for arenas without a budget.
void arenaRelease(MemoryArena* arena, void* block);

}  // namespace varnel
