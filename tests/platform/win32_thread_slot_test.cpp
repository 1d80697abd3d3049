// The allocator's thread-local slot: one value per thread, null until the thread sets it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "varnel/memory/allocator.h"
#include "varnel/platform/platform.h"
#include "varnel/platform/thread_slot.h"

namespace varnel::platform {
namespace {

// Runs entry(argument) on a fresh thread and returns its exit code.
unsigned runOnNewThread(ThreadEntry entry, void* argument) {
  ThreadHandle handle;
  if (!createSuspendedThread(entry, argument, &handle)) return ~0u;
  releaseThread(handle);
  const unsigned code = joinThread(handle);
  closeThread(handle);
  return code;
}

TEST(ThreadSlotValues, MainThreadHoldsItsAllocatorBeforeMainRuns) {
  EXPECT_NE(threadSlotGet(allocatorTlsIndex), nullptr)
      << "static initialisation did not store the main thread's allocator in the slot";
  EXPECT_EQ(threadSlotGet(allocatorTlsIndex), currentAllocator())
      << "currentAllocator and the slot disagree";
}

TEST(ThreadSlotValues, FreshThreadReadsNull) {
  void* seen = &seen;
  const unsigned code = runOnNewThread(
      [](void* out) -> unsigned {
        *static_cast<void**>(out) = threadSlotGet(allocatorTlsIndex);
        return 0;
      },
      &seen);
  ASSERT_EQ(code, 0u) << "the probe thread did not run";
  EXPECT_EQ(seen, nullptr) << "a thread that never set the slot must read null, not another "
                              "thread's allocator";
}

TEST(ThreadSlotValues, WorkerValueLeavesMainValueAlone) {
  void* const mainValue = threadSlotGet(allocatorTlsIndex);
  const unsigned code = runOnNewThread(
      [](void*) -> unsigned {
        int local = 0;
        threadSlotSet(allocatorTlsIndex, &local);
        const bool kept = threadSlotGet(allocatorTlsIndex) == &local;
        threadSlotSet(allocatorTlsIndex, nullptr);
        return kept ? 1 : 0;
      },
      nullptr);
  EXPECT_EQ(code, 1u) << "a worker did not read back the value it had just set";
  EXPECT_EQ(threadSlotGet(allocatorTlsIndex), mainValue)
      << "a worker's threadSlotSet changed the main thread's value";
}

struct Pair {
  std::atomic<int> haveSet{0};
};

TEST(ThreadSlotValues, ConcurrentThreadsEachKeepTheirOwnValue) {
  // Both threads set the slot, wait until the other has set it too, then read it back: a slot
  // shared by the process would give one of them the other's value.
  Pair pair;
  const ThreadEntry entry = [](void* raw) -> unsigned {
    auto* shared = static_cast<Pair*>(raw);
    int mine = 0;
    threadSlotSet(allocatorTlsIndex, &mine);
    shared->haveSet.fetch_add(1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (shared->haveSet.load() < 2 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    const bool kept = threadSlotGet(allocatorTlsIndex) == &mine;
    threadSlotSet(allocatorTlsIndex, nullptr);
    return kept ? 1 : 0;
  };
  ThreadHandle a;
  ThreadHandle b;
  ASSERT_TRUE(createSuspendedThread(entry, &pair, &a)) << "the system refused a thread";
  ASSERT_TRUE(createSuspendedThread(entry, &pair, &b)) << "the system refused a thread";
  releaseThread(a);
  releaseThread(b);
  EXPECT_EQ(joinThread(a), 1u) << "the first thread read a value it had not set";
  EXPECT_EQ(joinThread(b), 1u) << "the second thread read a value it had not set";
  closeThread(a);
  closeThread(b);
  EXPECT_EQ(pair.haveSet.load(), 2) << "not both threads reached the slot";
}

TEST(ThreadSlotValues, WorkerAllocatorComesAndGoesThroughTheSlot) {
  const unsigned code = runOnNewThread(
      [](void*) -> unsigned {
        if (currentAllocator() != nullptr) return 10;
        createThreadAllocator(0);
        varnel_allocator* own = currentAllocator();
        if (own == nullptr) return 11;
        void* block = allocateBlock(3);
        freeBlock(block, 3);
        if (allocateBlock(3) != block) return 12;
        destroyThreadAllocator();
        return currentAllocator() == nullptr ? 0 : 13;
      },
      nullptr);
  // 10: slot not null on a fresh thread; 11: not stored; 12: pool not found through the slot
  // again; 13: not cleared on destruction.
  EXPECT_EQ(code, 0u) << "the worker's allocator life cycle failed at step " << code;
}

}  // namespace
}  // namespace varnel::platform
