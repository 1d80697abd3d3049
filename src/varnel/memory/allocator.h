// The per-thread size-class allocator: 46 LIFO pools of fixed-size blocks, found through the
// thread-local slot. Blocks carry no header; whoever frees a block names its class again.
#pragma once

#include <cstdint>
#ifdef VARNEL_SYSTEM_HEAP
#include <cstdlib>
#endif

#include "varnel/memory/memory_arena.h"
#ifdef VARNEL_SYSTEM_HEAP
#include "varnel/memory/out_of_memory.h"
#endif
#include "varnel/memory/poisoning.h"
#include "varnel/memory/size_class.h"
#include "varnel/platform/assert.h"
#include "varnel/platform/thread_slot.h"

namespace varnel {

struct varnel_allocator;

// One size class of one allocator: a free list threaded through the free blocks themselves.
// The two words every allocation and free writes come first, side by side: records carved from
// a budget sit at 8-byte steps, and 16 bytes cross a cache line at one start in eight where the
// first and fourth word did at three in eight.
// A chunk is threaded onto the free list a page at a time, as the list runs dry, so that the
// pages of a chunk a thread never reaches are never touched (nor faulted in by the system). The
// blocks not yet threaded are the last chunk's last ones; when the list is empty, freeCount
// counts exactly them.
struct SizeClassPool {
  void* firstFree;               // head of the free list; the first word of a free block links on
  std::uint64_t freeCount;       // free blocks: on the free list, or not yet threaded
  void** chunks;                 // every chunk obtained, in order
  varnel_allocator* allocator;   // the owner, through which refills reach the arena
  std::uint64_t blockWords;      // block size in 8-byte words
  std::uint64_t blocksPerChunk;  // blocks obtained per chunk
  std::uint32_t chunkCapacity;   // entries of `chunks`: 8 at creation, doubled when full
  std::uint32_t chunkCount;      // chunks obtained so far
};

// One thread's allocator.
struct varnel_allocator {
  SizeClassPool* pools[kSizeClassCount];  // index = size class
  MemoryArena* arena;                     // the thread's budget; capacity 0 when it has none
};

// Whether a freed block stays in its thread's pool until the allocator is destroyed (so memory a
// thread once held stays held), or goes straight back to the general heap (system-heap build).
#ifndef VARNEL_SYSTEM_HEAP
inline constexpr bool kPoolsKeepFreedBlocks = true;
#else
inline constexpr bool kPoolsKeepFreedBlocks = false;
#endif

// The process-wide slot whose value in each thread is that thread's allocator.
extern platform::ThreadSlotKey allocatorTlsIndex;

// The calling thread's allocator; null on a thread that has none.
varnel_allocator* currentAllocator();

// A block of class `sizeClass` from the calling thread's pool. Never null: exhaustion ends the
// process. Contents undefined.
void* allocateBlock(unsigned sizeClass);

// A block of class `sizeClass` whose first `bytes` bytes (at most the block's) are zero. When
// the block needs a chunk of its own (the classes of one block per chunk, their free list
// empty) and there is no budget, the heap hands the chunk over zeroed: pages the system maps
// anew are then not written twice. Otherwise the bytes are cleared here.
void* allocateZeroedBlock(unsigned sizeClass, std::uint64_t bytes);

// Returns `block` to the calling thread's pool of `sizeClass`, the class it was obtained with.
void freeBlock(void* block, unsigned sizeClass);

// For an empty free list: threads the next page's worth of blocks of the last chunk (at least
// one block), obtaining a chunk first when none is left, and returns the first of them.
void* refillPool(SizeClassPool* pool);

// Once, during static initialisation: allocates the slot, gives the main thread an allocator
// without budget, and returns the slot.
platform::ThreadSlotKey createProcessAllocator();

// First thing on a worker thread: an allocator confined to `budgetBytes` (0: no budget).
void createThreadAllocator(std::uint64_t budgetBytes);

// Last thing on a worker thread: releases every pool, or the whole budget buffer at once.
void destroyThreadAllocator();

// Bytes an allocator holds: with a budget, what was carved; without, all chunks plus all chunk
// tables (records not counted, independent of how many blocks are in use).
std::uint64_t memoryConsumption(const varnel_allocator* allocator);

// --- Inline definitions ------------------------------------------------------------------

inline varnel_allocator* currentAllocator() {
  return static_cast<varnel_allocator*>(platform::threadSlotGet(allocatorTlsIndex));
}

#ifndef VARNEL_SYSTEM_HEAP
inline void* allocateBlock(unsigned sizeClass) {
  VARNEL_ASSERT(sizeClass < kSizeClassCount);
  varnel_allocator* allocator = currentAllocator();
  VARNEL_ASSERT(allocator != nullptr);
  SizeClassPool* pool = allocator->pools[sizeClass];
  void* block = pool->firstFree;
  if (block == nullptr) [[unlikely]] {
    block = refillPool(pool);
  }
  unpoisonBytes(block, pool->blockWords * 8);
  pool->firstFree = *static_cast<void**>(block);
  --pool->freeCount;
  return block;
}

inline void freeBlock(void* block, unsigned sizeClass) {
  VARNEL_ASSERT(sizeClass < kSizeClassCount);
  VARNEL_ASSERT(block != nullptr);
  SizeClassPool* pool = currentAllocator()->pools[sizeClass];
  unpoisonBytes(block, sizeof(void*));
  *static_cast<void**>(block) = pool->firstFree;
  pool->firstFree = block;
  ++pool->freeCount;
  poisonBytes(block, pool->blockWords * 8);
}
#else
// The system-heap build (VARNEL_SYSTEM_HEAP): every block comes from the general heap at its
// class's size, so that the library can be measured on another allocator. The pools stay built
// but take no chunk; budgets then confine only the allocator's own records.
inline void* allocateBlock(unsigned sizeClass) {
  VARNEL_ASSERT(sizeClass < kSizeClassCount);
  void* block = std::malloc(blockBytesOf(sizeClass));
  if (block == nullptr) [[unlikely]]
    exitChunkRefused(blockBytesOf(sizeClass) / 8);
  return block;
}

inline void freeBlock(void* block, [[maybe_unused]] unsigned sizeClass) {
  VARNEL_ASSERT(sizeClass < kSizeClassCount);
  VARNEL_ASSERT(block != nullptr);
  std::free(block);
}
#endif

namespace detail {
// Creates the main thread's allocator before any static object of a translation unit that
// includes this header is constructed, whatever the order of static initialisation.
struct ProcessAllocatorInit {
  ProcessAllocatorInit();
};
static ProcessAllocatorInit processAllocatorInit;
}  // namespace detail

}  // namespace varnel
