// The high-resolution counter (QueryPerformanceCounter on Windows) and the physical-memory query
// (GlobalMemoryStatusEx), checked against the standard library.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "varnel/platform/clock.h"
#include "varnel/platform/platform.h"

namespace varnel::platform {
namespace {

TEST(HighResolutionCounter, FrequencyIsPositiveAndConstant) {
  const std::int64_t frequency = counterFrequency();
  EXPECT_GT(frequency, 0) << "a counter frequency must be a positive number of ticks per second";
  // Elapsed milliseconds multiply by 1000 first: a frequency below a kilohertz would make every
  // short interval read 0 ms.
  EXPECT_GE(frequency, 1000) << "the counter ticks too slowly for millisecond timing";
  EXPECT_EQ(counterFrequency(), frequency) << "the frequency changed between two calls";
}

TEST(HighResolutionCounter, NeverRunsBackward) {
  std::int64_t previous = counterNow();
  for (int i = 0; i < 100000; ++i) {
    const std::int64_t now = counterNow();
    ASSERT_GE(now, previous) << "the counter went backward after " << i << " reads";
    previous = now;
  }
}

TEST(HighResolutionCounter, MillisecondsAgreeWithTheSteadyClock) {
  // The counter's interval encloses the steady clock's, so it can only be longer, and only by
  // the few instructions (or a preemption) between the reads.
  const std::int64_t frequency = counterFrequency();
  const std::int64_t start = counterNow();
  const auto steadyStart = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  const auto steadyEnd = std::chrono::steady_clock::now();
  const std::int64_t end = counterNow();
  const std::int64_t counterMs = elapsedMilliseconds(start, end, frequency);
  const std::int64_t steadyMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(steadyEnd - steadyStart).count();
  EXPECT_GE(counterMs, steadyMs - 1) << "counter says " << counterMs << " ms, steady clock says "
                                     << steadyMs << " ms: the frequency does not match the counter";
  EXPECT_LE(counterMs, steadyMs + 100)
      << "counter says " << counterMs << " ms, steady clock says " << steadyMs
      << " ms: the frequency does not match the counter";
}

TEST(PhysicalMemory, TotalIsAPlausibleByteCount) {
  const std::uint64_t total = totalPhysicalMemory();
  // A failed query (0), or a count of pages or kilobytes of a machine below 256 GiB, falls under
  // 256 MiB; anything above 256 TiB is not a byte count of today's RAM.
  EXPECT_GE(total, std::uint64_t{256} << 20)
      << total << " is not the machine's physical memory in bytes";
  EXPECT_LE(total, std::uint64_t{256} << 40)
      << total << " is not the machine's physical memory in bytes";
  EXPECT_EQ(totalPhysicalMemory(), total) << "the total physical memory changed between calls";
}

}  // namespace
}  // namespace varnel::platform
