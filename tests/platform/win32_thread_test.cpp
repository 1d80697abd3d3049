// Threads that start suspended, as the Win32 layer provides them with _beginthreadex and
// ResumeThread, and the alarm (once or every period) on a thread of its own; written against the
// platform contract so that the POSIX layer runs them too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <thread>

#include "varnel/platform/platform.h"

namespace varnel::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Spins until `flag` is set or `limit` has passed; true when the flag was seen.
bool waitFor(const std::atomic<bool>& flag, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!flag.load()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(SuspendedThreads, EntryDoesNotRunBeforeRelease) {
  std::atomic<bool> ran{false};
  ThreadHandle handle;
  ASSERT_TRUE(createSuspendedThread(
      [](void* flag) -> unsigned {
        static_cast<std::atomic<bool>*>(flag)->store(true);
        return 0;
      },
      &ran, &handle))
      << "the system refused a single thread";
  ASSERT_NE(handle.native, nullptr) << "a created thread must come back with a handle";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(ran.load()) << "the thread ran its entry before releaseThread was called";
  releaseThread(handle);
  joinThread(handle);
  EXPECT_TRUE(ran.load()) << "after release and join the entry must have run";
  closeThread(handle);
}

TEST(SuspendedThreads, JoinReturnsTheEntrysExitCode) {
  // 259 is STILL_ACTIVE on Windows; 3000000000 does not fit a signed 32-bit exit code.
  for (unsigned code : {0u, 1u, 259u, 3000000000u}) {
    ThreadHandle handle;
    ASSERT_TRUE(createSuspendedThread(
        [](void* value) -> unsigned { return *static_cast<unsigned*>(value); }, &code, &handle))
        << "the system refused a thread";
    releaseThread(handle);
    EXPECT_EQ(joinThread(handle), code) << "joinThread lost or altered the entry's return value";
    closeThread(handle);
  }
}

struct Square {
  unsigned input;
  unsigned output;
};

TEST(SuspendedThreads, EachThreadRunsWithItsOwnArgument) {
  constexpr unsigned kThreads = 8;
  Square work[kThreads];
  ThreadHandle handles[kThreads];
  for (unsigned i = 0; i < kThreads; ++i) {
    work[i] = {i + 2, 0};
    ASSERT_TRUE(createSuspendedThread(
        [](void* raw) -> unsigned {
          auto* square = static_cast<Square*>(raw);
          square->output = square->input * square->input;
          return square->input;
        },
        &work[i], &handles[i]))
        << "the system refused thread " << i;
  }
  for (ThreadHandle handle : handles) releaseThread(handle);
  for (unsigned i = 0; i < kThreads; ++i) {
    EXPECT_EQ(joinThread(handles[i]), i + 2) << "thread " << i << " ran with another argument";
    // The join is the only synchronisation: the thread's plain write must be visible now.
    EXPECT_EQ(work[i].output, (i + 2) * (i + 2)) << "thread " << i << "'s result is not visible";
    closeThread(handles[i]);
  }
}

struct Rendezvous {
  std::atomic<bool> first{false};
  std::atomic<bool> second{false};
};

TEST(SuspendedThreads, ReleasedThreadsRunAtTheSameTime) {
  // Each thread waits for the other to have started: a layer that ran the entries one after
  // the other (say, at join time) would leave the first thread waiting in vain.
  Rendezvous meeting;
  const ThreadEntry first = [](void* raw) -> unsigned {
    auto* m = static_cast<Rendezvous*>(raw);
    m->first.store(true);
    return waitFor(m->second, std::chrono::seconds(20)) ? 1 : 0;
  };
  const ThreadEntry second = [](void* raw) -> unsigned {
    auto* m = static_cast<Rendezvous*>(raw);
    m->second.store(true);
    return waitFor(m->first, std::chrono::seconds(20)) ? 1 : 0;
  };
  ThreadHandle a;
  ThreadHandle b;
  ASSERT_TRUE(createSuspendedThread(first, &meeting, &a)) << "the system refused a thread";
  ASSERT_TRUE(createSuspendedThread(second, &meeting, &b)) << "the system refused a thread";
  releaseThread(a);
  releaseThread(b);
  EXPECT_EQ(joinThread(a), 1u) << "the first thread never saw the second one start";
  EXPECT_EQ(joinThread(b), 1u) << "the second thread never saw the first one start";
  closeThread(a);
  closeThread(b);
}

TEST(SuspendedThreads, ManyThreadsCanBeCreatedJoinedAndClosedInTurn) {
  // A layer that leaked its per-thread record or handle would run out long before this on a
  // 32-bit process, and would show under the sanitizers everywhere else.
  unsigned total = 0;
  for (unsigned i = 0; i < 300; ++i) {
    ThreadHandle handle;
    ASSERT_TRUE(createSuspendedThread([](void*) -> unsigned { return 1; }, nullptr, &handle))
        << "the system refused thread " << i << " although all earlier ones were closed";
    releaseThread(handle);
    total += joinThread(handle);
    closeThread(handle);
  }
  EXPECT_EQ(total, 300u) << "some threads did not run their entry";
}

TEST(Alarm, FiresOnceAfterItsDelayAndNeverOnceCancelled) {
  std::atomic<int> fired{0};
  auto fire = [](void* count) { static_cast<std::atomic<int>*>(count)->fetch_add(1); };
  Alarm soon;
  const auto start = Clock::now();
  ASSERT_TRUE(startAlarm(0.05, fire, &fired, &soon)) << "the system refused the alarm's thread";
  while (fired.load() == 0) std::this_thread::yield();  // the test's time-out is the backstop
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40))
      << "the alarm fired well before its 50 ms";
  cancelAlarm(soon);
  EXPECT_EQ(fired.load(), 1) << "an alarm of 50 ms must fire exactly once";
  Alarm late;
  // A day away: were cancelling to wait for it, the test would time out rather than pass.
  ASSERT_TRUE(startAlarm(86400, fire, &fired, &late));
  cancelAlarm(late);
  EXPECT_EQ(fired.load(), 1) << "a cancelled alarm fired";
  // A period: it fires again and again until cancelled, and not once after.
  std::atomic<int> ticks{0};
  Alarm every;
  ASSERT_TRUE(startAlarm(0, fire, &ticks, &every, 0.001));
  while (ticks.load() < 3) std::this_thread::yield();
  cancelAlarm(every);
  const int seen = ticks.load();
  Alarm barrier;  // a whole start and cancel: time for a stray tick to show
  ASSERT_TRUE(startAlarm(86400, fire, &fired, &barrier));
  cancelAlarm(barrier);
  EXPECT_EQ(ticks.load(), seen) << "a repeating alarm fired after its cancel returned";
}

// The processor a new thread runs on once it pinned itself to `cpu`; UINT_MAX when refused.
unsigned processorOfNewThreadPinnedTo(unsigned cpu) {
  unsigned processor = UINT_MAX;
  std::thread([&] {
    if (pinCurrentThread(cpu)) processor = currentProcessor();
  }).join();
  return processor;
}

// A thread starts with its creator's placement, so a benchmark thread spawned by a pinned one
// must not be kept on its creator's processor. On a single processor every pin lands on it.
TEST(PinnedThreads, AChildOfAPinnedThreadGoesWhereItIsPinned) {
  const unsigned expected = processorOfNewThreadPinnedTo(1);
  if (expected == UINT_MAX) GTEST_SKIP() << "this system does not let a thread be pinned";
  unsigned parent = UINT_MAX;
  unsigned child = UINT_MAX;
  std::thread([&] {
    if (pinCurrentThread(0)) parent = currentProcessor();
    child = processorOfNewThreadPinnedTo(1);
  }).join();
  ASSERT_NE(parent, UINT_MAX) << "the system refused to pin a thread";
  EXPECT_EQ(child, expected) << "pinned from a thread on processor " << parent;
}

}  // namespace
}  // namespace varnel::platform
