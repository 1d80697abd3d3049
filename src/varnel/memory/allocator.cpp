// Cold paths of the allocator: refills, chunk-table growth, creation and destruction.
#include "varnel/memory/allocator.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "varnel/memory/out_of_memory.h"
#include "varnel/platform/platform.h"

namespace varnel {

constinit platform::ThreadSlotKey allocatorTlsIndex{};

namespace {

constexpr std::uint32_t kInitialChunkCapacity = 8;

// The arena rule for the allocator's own records: carved from the budget, or a heap request
// whose refusal ends the process (a record is never optional).
void* allocateRecord(MemoryArena* arena, std::uint64_t bytes) {
  void* record = arenaAllocate(arena, bytes);
  if (record == nullptr) exitRecordRefused(bytes);
  return record;
}

varnel_allocator* buildAllocator(MemoryArena* arena) {
  auto* allocator = static_cast<varnel_allocator*>(allocateRecord(arena, sizeof(varnel_allocator)));
  allocator->arena = arena;
  for (unsigned c = 0; c < kSizeClassCount; ++c) {
    auto* pool = static_cast<SizeClassPool*>(allocateRecord(arena, sizeof(SizeClassPool)));
    pool->chunks =
        static_cast<void**>(allocateRecord(arena, kInitialChunkCapacity * sizeof(void*)));
    pool->firstFree = nullptr;
    pool->allocator = allocator;
    pool->freeCount = 0;
    pool->blockWords = blockBytesOf(c) / 8;
    pool->blocksPerChunk = blocksPerChunkOf(c);
    pool->chunkCapacity = kInitialChunkCapacity;
    pool->chunkCount = 0;
    allocator->pools[c] = pool;
  }
  return allocator;
}

MemoryArena* newArena() {
  auto* arena = static_cast<MemoryArena*>(std::malloc(sizeof(MemoryArena)));
  if (arena == nullptr) exitRecordRefused(sizeof(MemoryArena));
  *arena = MemoryArena{};
  return arena;
}

constinit int processAllocatorUsers = 0;

}  // namespace

detail::ProcessAllocatorInit::ProcessAllocatorInit() {
  if (processAllocatorUsers++ == 0) allocatorTlsIndex = createProcessAllocator();
}

namespace {

// Blocks threaded onto the free list at a time: a page's worth.
constexpr std::uint64_t kThreadBytes = 4096;

// Obtains a chunk for `pool`, poisoned, none of its blocks threaded yet; all zero if `zeroed`.
void obtainChunk(SizeClassPool* pool, bool zeroed = false) {
  MemoryArena* arena = pool->allocator->arena;
  const std::uint64_t words = pool->blockWords * pool->blocksPerChunk;
  const std::uint64_t bytes = words > std::numeric_limits<std::uint64_t>::max() / 8
                                  ? std::numeric_limits<std::uint64_t>::max()
                                  : words * 8;
  void* chunk = zeroed ? arenaAllocateZeroed(arena, bytes) : arenaAllocate(arena, bytes);
  if (chunk == nullptr) exitChunkRefused(words);

  if (pool->chunkCount == pool->chunkCapacity) {
    // 2^31 chunks of 8 KiB or more would be 16 TiB: long refused by the heap, never wrapped.
    if (pool->chunkCapacity > UINT32_MAX / 2) exitChunkTableRefused(UINT32_MAX);
    const std::uint32_t newCapacity = 2 * pool->chunkCapacity;
    auto* table = static_cast<void**>(arenaAllocate(arena, std::uint64_t{newCapacity} * 8));
    if (table == nullptr) exitChunkTableRefused(newCapacity);
    std::memcpy(table, pool->chunks, std::uint64_t{pool->chunkCapacity} * sizeof(void*));
    // Inside a budget the old table keeps its place; nothing is ever given back to an arena.
    if (arena->capacity == 0) arenaRelease(arena, pool->chunks);
    pool->chunks = table;
    pool->chunkCapacity = newCapacity;
  }
  pool->chunks[pool->chunkCount++] = chunk;
  pool->freeCount += pool->blocksPerChunk;
  poisonBytes(chunk, words * 8);
}

}  // namespace

void* refillPool(SizeClassPool* pool) {
  VARNEL_ASSERT(pool->firstFree == nullptr);
  // With the list empty, the free blocks are the last chunk's unthreaded ones.
  if (pool->freeCount == 0) obtainChunk(pool);
  const std::uint64_t unthreaded = pool->freeCount;
  const std::uint64_t stride = pool->blockWords;
  const std::uint64_t perPage = kThreadBytes / 8 / stride;
  const std::uint64_t count = perPage == 0 ? 1 : perPage < unthreaded ? perPage : unthreaded;
  void** chunk = static_cast<void**>(pool->chunks[pool->chunkCount - 1]);
  void** first = chunk + (pool->blocksPerChunk - unthreaded) * stride;
  unpoisonBytes(first, count * stride * 8);
  void** block = first;
  for (std::uint64_t k = 0; k + 1 < count; ++k) {
    void** next = block + stride;
    *block = next;
    block = next;
  }
  *block = nullptr;
  poisonBytes(first, count * stride * 8);
  return first;
}

void* allocateZeroedBlock(unsigned sizeClass, [[maybe_unused]] std::uint64_t bytes) {
  VARNEL_ASSERT(sizeClass < kSizeClassCount && bytes <= blockBytesOf(sizeClass));
#ifdef VARNEL_SYSTEM_HEAP
  void* block = std::calloc(1, blockBytesOf(sizeClass));
  if (block == nullptr) exitChunkRefused(blockBytesOf(sizeClass) / 8);
  return block;
#else
  SizeClassPool* pool = currentAllocator()->pools[sizeClass];
  if (pool->blocksPerChunk != 1 || pool->firstFree != nullptr ||
      pool->allocator->arena->capacity != 0) {
    void* block = allocateBlock(sizeClass);
    std::memset(block, 0, bytes);
    return block;
  }
  // What refillPool and allocateBlock do for a chunk of one block, the chunk taken zeroed.
  VARNEL_ASSERT(pool->freeCount == 0);
  obtainChunk(pool, true);
  void* block = pool->chunks[pool->chunkCount - 1];
  unpoisonBytes(block, pool->blockWords * 8);
  --pool->freeCount;
  return block;
#endif
}

platform::ThreadSlotKey createProcessAllocator() {
  platform::ThreadSlotKey key{};
  if (!platform::allocateThreadSlot(&key)) exitNoThreadSlot();
  // The main thread's arena lives as long as the process; it never has a budget.
  static constinit MemoryArena processArena{};
  platform::threadSlotSet(key, buildAllocator(&processArena));
  return key;
}

void createThreadAllocator(std::uint64_t budgetBytes) {
  MemoryArena* arena = newArena();
  if (budgetBytes != 0) {
    // The buffer starts on a page boundary. Where the carving starts within a page is where the
    // thread's records and chunks fall, and it showed in a churning thread's time: started 16
    // bytes into a page, as the heap places a large block, the budgeted churn ran 3 to 10 %
    // behind the unbudgeted one; started at 0, or half a page on, it ran alike.
    const std::uint64_t capacity = roundUpToWord(budgetBytes);
    void* base = capacity < budgetBytes ? nullptr : platform::allocatePageAligned(capacity);
    if (base == nullptr) exitBudgetRefused(budgetBytes);
    arena->base = base;
    arena->capacity = capacity;
  }
  platform::threadSlotSet(allocatorTlsIndex, buildAllocator(arena));
}

void destroyThreadAllocator() {
  varnel_allocator* allocator = currentAllocator();
  if (allocator == nullptr) return;
  MemoryArena* arena = allocator->arena;
  if (arena->capacity != 0) {
    // The allocator record, every pool, table and chunk at once.
    platform::releasePageAligned(arena->base);
  } else {
    for (SizeClassPool* pool : allocator->pools) {
      if (pool == nullptr) continue;
      for (std::uint32_t k = 0; k < pool->chunkCount; ++k) std::free(pool->chunks[k]);
      std::free(pool->chunks);
      std::free(pool);
    }
    std::free(allocator);
  }
  std::free(arena);
  platform::threadSlotSet(allocatorTlsIndex, nullptr);
}

std::uint64_t memoryConsumption(const varnel_allocator* allocator) {
  if (allocator->arena->capacity != 0) return allocator->arena->used;
  std::uint64_t bytes = 0;
  for (const SizeClassPool* pool : allocator->pools) {
    bytes += (pool->chunkCount * pool->blocksPerChunk * pool->blockWords + pool->chunkCapacity) * 8;
  }
  return bytes;
}

}  // namespace varnel
