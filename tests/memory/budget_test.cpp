// Budgets: carving by 8-byte steps, exact fits, and the out-of-memory exits (from the main thread
// and from workers), each checked in a child process for its exact line and exit code 1.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <thread>

#include "thread_allocator.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/arrays.h"
#include "varnel/memory/memory_arena.h"
#include "varnel/platform/platform.h"

namespace varnel {
namespace {

using testing::kRecordBytes;
using testing::onFreshAllocator;

TEST(Arena, RoundsEveryRequestUpToWholeWords) {
  alignas(8) static char buffer[64];
  MemoryArena arena{buffer, 64, 0};
  EXPECT_EQ(arenaAllocate(&arena, 0), nullptr) << "0 bytes yields null";
  EXPECT_EQ(arena.used, 0u) << "0 bytes consumes nothing";
  EXPECT_EQ(arenaAllocate(&arena, 1), buffer);
  EXPECT_EQ(arena.used, 8u) << "1 byte consumes a word";
  EXPECT_EQ(arenaAllocate(&arena, 8), buffer + 8);
  EXPECT_EQ(arenaAllocate(&arena, 9), buffer + 16);
  EXPECT_EQ(arena.used, 32u) << "9 bytes consume two words";
  EXPECT_EQ(arenaAllocate(&arena, 32), buffer + 32) << "a request ending exactly at capacity fits";
  EXPECT_EQ(arena.used, 64u);
}

TEST(Arena, WithoutBudgetRequestsGoToTheHeap) {
  MemoryArena arena{};
  void* block = arenaAllocate(&arena, 100);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(arena.used, 0u) << "heap requests are not counted";
  arenaRelease(&arena, block);
}

TEST(Budget, CapacityIsTheBudgetRoundedUpToAWord) {
  onFreshAllocator(kRecordBytes + 8192 - 5, [] {
    EXPECT_EQ(currentAllocator()->arena->capacity, kRecordBytes + 8192) << "rounded up to 8";
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(currentAllocator()->arena->base) % 4096, 0u)
        << "the budget buffer starts on a page boundary";
    allocateBlock(0);  // the first chunk of class 0 ends exactly at capacity
    EXPECT_EQ(currentAllocator()->arena->used, currentAllocator()->arena->capacity);
  });
}

// Death tests run the statement in a child; the whole stderr output must be the one line.
using BudgetDeathTest = ::testing::Test;

TEST(BudgetDeathTest, OneByteBudgetFailsAtTheAllocatorRecord) {
  EXPECT_EXIT(onFreshAllocator(1, [] {}), ::testing::ExitedWithCode(1),
              "^Error: no more memory: 8 is exceeded\n$");
}

TEST(BudgetDeathTest, ExactFitOfTheRecordsFailsAtTheFirstChunk) {
  EXPECT_EXIT(onFreshAllocator(kRecordBytes,
                               [] {
                                 EXPECT_EQ(currentAllocator()->arena->used, kRecordBytes);
                                 allocateBlock(0);
                               }),
              ::testing::ExitedWithCode(1), "^Error: no more memory: 5896 is exceeded\n$");
}

TEST(BudgetDeathTest, SecondChunkPastTheBudgetEndsTheProcess) {
  EXPECT_EXIT(onFreshAllocator(kRecordBytes + 8192,
                               [] {
                                 for (int k = 0; k < 1024; ++k) allocateBlock(0);
                                 std::fprintf(stderr, "first chunk used up\n");
                                 allocateBlock(0);
                               }),
              ::testing::ExitedWithCode(1),
              "^first chunk used up\nError: no more memory: 14088 is exceeded\n$");
}

TEST(BudgetDeathTest, WorkerRunningOutEndsTheProcessWhileOthersRun) {
  // One worker loops on its own allocator while another passes its budget: the process still
  // ends with the single line and code 1, with earlier report text flushed before it.
  EXPECT_EXIT(
      {
        std::cout << "report line";
        std::thread busy([] {
          createThreadAllocator(0);
          for (;;) freeBlock(allocateBlock(4), 4);
        });
        busy.detach();
        onFreshAllocator(kRecordBytes + 100, [] { allocateBlock(20); });
      },
      ::testing::ExitedWithCode(1), "^Error: no more memory: 6000 is exceeded\n$");
}

TEST(BudgetDeathTest, RequestAboveTheLargestClassIsRefusedWithAClearLine) {
  EXPECT_EXIT(allocateArray<std::uint64_t>(std::uint64_t{1} << 35), ::testing::ExitedWithCode(1),
              "^Error: no more memory: 274877906944 bytes requested at once, above the largest "
              "block of 137438953472 bytes\n$");
}

TEST(BudgetDeathTest, BudgetTheHeapCannotSupplyIsReported) {
  EXPECT_EXIT(onFreshAllocator(std::uint64_t{1} << 62, [] {}), ::testing::ExitedWithCode(1),
              "Error: no more memory: 4611686018427387904 bytes of budget cannot be reserved\n$");
}

}  // namespace
}  // namespace varnel
