// The per-thread allocator: refills, chunk tables, LIFO reuse, consumption and isolation.
#include "varnel/memory/allocator.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "thread_allocator.h"

namespace varnel {
namespace {

using testing::kRecordBytes;
using testing::onFreshAllocator;

SizeClassPool& pool(unsigned c) { return *currentAllocator()->pools[c]; }

TEST(Allocator, RecordsHaveTheDocumentedSizes) {
  EXPECT_EQ(sizeof(SizeClassPool), 56u) << "pool record layout changed";
  EXPECT_EQ(sizeof(varnel_allocator), 46u * 8 + 8) << "allocator record layout changed";
  EXPECT_EQ(kRecordBytes, 5896u);
}

TEST(Allocator, FreshAllocatorHoldsOnlyItsChunkTables) {
  onFreshAllocator(0, [] {
    EXPECT_EQ(memoryConsumption(currentAllocator()), 2944u) << "46 tables of 8 entries";
    for (unsigned c = 0; c < kSizeClassCount; ++c) {
      EXPECT_EQ(pool(c).chunkCount, 0u) << "class " << c << " took a chunk before use";
      EXPECT_EQ(pool(c).freeCount, 0u) << "class " << c;
      EXPECT_EQ(pool(c).chunkCapacity, 8u) << "class " << c;
    }
    void* block = allocateBlock(0);
    EXPECT_EQ(memoryConsumption(currentAllocator()), 2944u + 8192u) << "one chunk of class 0";
    freeBlock(block, 0);
    EXPECT_EQ(memoryConsumption(currentAllocator()), 2944u + 8192u) << "chunks are kept";
  });
}

TEST(Allocator, FirstAllocationTakesOneChunkAndLeavesTheRestFree) {
  onFreshAllocator(0, [] {
    for (unsigned c : {0u, 7u, 15u, 16u, 24u, 25u, 26u}) {
      void* block = allocateBlock(c);
      EXPECT_EQ(pool(c).chunkCount, 1u) << "class " << c;
      EXPECT_EQ(pool(c).freeCount, blocksPerChunkOf(c) - 1) << "class " << c;
      freeBlock(block, c);
    }
  });
}

TEST(Allocator, BlocksOfOneChunkAreDistinctAndContiguous) {
  onFreshAllocator(0, [] {
    std::vector<char*> blocks;
    for (int k = 0; k < 1024; ++k) blocks.push_back(static_cast<char*>(allocateBlock(3)));
    EXPECT_EQ(pool(3).chunkCount, 1u) << "1024 blocks of class 3 fit one chunk";
    EXPECT_EQ(pool(3).freeCount, 0u);
    for (int k = 1; k < 1024; ++k) {
      EXPECT_EQ(blocks[k] - blocks[k - 1], 32) << "block " << k << " is not right after " << k - 1;
    }
    void* next = allocateBlock(3);
    EXPECT_EQ(pool(3).chunkCount, 2u) << "the 1025th block needs a second chunk";
    EXPECT_EQ(std::set<char*>(blocks.begin(), blocks.end()).count(static_cast<char*>(next)), 0u);
    freeBlock(next, 3);
    for (char* b : blocks) freeBlock(b, 3);
    EXPECT_EQ(pool(3).freeCount, 2048u) << "every block came back";
  });
}

// A chunk reaches the free list a page at a time: blocks freed in between come back first, and
// the chunk's rest still follows, every block once.
TEST(Allocator, BlocksFreedWhileAChunkIsThreadedComeBackBeforeItsRest) {
  onFreshAllocator(0, [] {
    std::vector<char*> live;
    for (int k = 0; k < 300; ++k) live.push_back(static_cast<char*>(allocateBlock(3)));
    for (int k : {299, 150, 7}) freeBlock(live[k], 3);
    for (int k : {7, 150, 299}) EXPECT_EQ(allocateBlock(3), live[k]) << "block " << k;
    while (live.size() < 1024) live.push_back(static_cast<char*>(allocateBlock(3)));
    EXPECT_EQ(pool(3).chunkCount, 1u);
    EXPECT_EQ(pool(3).freeCount, 0u);
    EXPECT_EQ(std::set<char*>(live.begin(), live.end()).size(), 1024u) << "a block came twice";
    for (char* b : live) EXPECT_EQ((b - live[0]) % 32, 0) << "off the chunk's grid";
    for (char* b : live) freeBlock(b, 3);
    EXPECT_EQ(pool(3).freeCount, 1024u);
  });
}

TEST(Allocator, FreeListIsLastInFirstOut) {
  onFreshAllocator(0, [] {
    void* a = allocateBlock(5);
    void* b = allocateBlock(5);
    freeBlock(a, 5);
    freeBlock(b, 5);
    EXPECT_EQ(allocateBlock(5), b) << "the most recently freed block comes back first";
    EXPECT_EQ(allocateBlock(5), a);
  });
}

TEST(Allocator, NinthRefillDoublesTheChunkTableAndReleasesTheOldOneWithoutBudget) {
  onFreshAllocator(0, [] {
    std::vector<void*> blocks;
    for (int k = 0; k < 8 * 1024; ++k) blocks.push_back(allocateBlock(0));
    EXPECT_EQ(pool(0).chunkCount, 8u);
    EXPECT_EQ(pool(0).chunkCapacity, 8u) << "eight chunks still fit the first table";
    void** firstTable = pool(0).chunks;
    blocks.push_back(allocateBlock(0));
    EXPECT_EQ(pool(0).chunkCount, 9u);
    EXPECT_EQ(pool(0).chunkCapacity, 16u) << "the ninth chunk doubles the table";
    EXPECT_NE(pool(0).chunks, firstTable);
    EXPECT_EQ(memoryConsumption(currentAllocator()), 2944u - 64 + 128 + 9 * 8192)
        << "the old table is not counted once replaced";
    for (void* b : blocks) freeBlock(b, 0);
  });
}

TEST(Allocator, NinthRefillInsideABudgetKeepsTheOldTableInPlace) {
  onFreshAllocator(1u << 20, [] {
    MemoryArena& arena = *currentAllocator()->arena;
    EXPECT_EQ(arena.used, kRecordBytes) << "only the records are carved at creation";
    EXPECT_EQ(static_cast<void*>(currentAllocator()), arena.base) << "the allocator sits at base";
    for (int k = 0; k < 8 * 1024 + 1; ++k) allocateBlock(0);
    EXPECT_EQ(pool(0).chunkCapacity, 16u);
    EXPECT_EQ(arena.used, kRecordBytes + 9 * 8192 + 16 * 8)
        << "nine chunks and the new table, in request order; the old table stays";
    EXPECT_EQ(memoryConsumption(currentAllocator()), arena.used) << "budgeted consumption";
  });
}

TEST(Allocator, EachThreadHasItsOwnPools) {
  void* mainBlock = allocateBlock(2);
  const std::uint64_t mainFree = pool(2).freeCount;
  onFreshAllocator(0, [&] {
    EXPECT_NE(currentAllocator()->pools[2], nullptr);
    void* block = allocateBlock(2);
    EXPECT_NE(block, mainBlock) << "a worker must not hand out the main thread's blocks";
    EXPECT_EQ(pool(2).freeCount, 1023u) << "the worker's pool starts fresh";
    freeBlock(block, 2);
  });
  EXPECT_EQ(pool(2).freeCount, mainFree) << "the worker touched the main thread's pool";
  freeBlock(mainBlock, 2);
}

TEST(Allocator, DestroyingAThreadAllocatorClearsItsSlot) {
  std::thread worker([] {
    EXPECT_EQ(currentAllocator(), nullptr) << "a new thread has no allocator";
    createThreadAllocator(0);
    EXPECT_NE(currentAllocator(), nullptr);
    allocateBlock(30);  // a 16 MiB chunk, released with the allocator
    destroyThreadAllocator();
    EXPECT_EQ(currentAllocator(), nullptr);
    destroyThreadAllocator();  // harmless a second time
  });
  worker.join();
}

}  // namespace
}  // namespace varnel
