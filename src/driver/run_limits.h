// What a run needs from the machine, worked out from its arguments before anything large is
// built: the bytes its structures hold, each worker's share of them, and its threads. A run that
// cannot fit is refused at once, instead of growing until the heap, a budget or the system's
// out-of-memory killer ends it part way.
#pragma once

#include <cstdint>
#include <string>

#include "driver/cli.h"

namespace varnel::driver {

// A byte count of up to 128 bits. The needs multiply up to three arguments of 2^31 each (2^31
// workers over a table of 2^31 x 2^31 entries), which 64 bits cannot hold; they never approach
// 2^128, so neither operation checks the high word.
class ByteCount {
 public:
  constexpr ByteCount(std::uint64_t bytes = 0) : high_(0), low_(bytes) {}

  ByteCount& operator+=(const ByteCount& other);
  friend ByteCount operator+(ByteCount a, const ByteCount& b) { return a += b; }
  friend ByteCount operator*(const ByteCount& a, std::uint64_t factor);

  // True when the count is larger than `limit`.
  bool exceeds(std::uint64_t limit) const { return high_ != 0 || low_ > limit; }
  // The count in plain decimal.
  std::string toString() const;

 private:
  std::uint64_t high_;
  std::uint64_t low_;
};

// How a need counts its bytes. Both are lower bounds, so that no run that fits is refused.
enum class Measure {
  // The bytes the run writes: a lower bound of the physical memory it occupies.
  resident,
  // The blocks the allocators hand out, each rounded up to its size class, written or not: a
  // lower bound of memoryConsumption and of what a worker's budget pays for.
  carved,
};

// Problem 1: the main thread's table of `arity` columns and `numTuples` tuples of values below
// `upper`, filled. All arguments >= 1.
ByteCount tableBytes(std::int32_t arity, std::int32_t numTuples, std::int32_t upper, Measure m);
// Problem 1: one timed reduction's constraint over that table, built and reduced.
ByteCount reductionBytes(std::int32_t arity, std::int32_t numTuples, Measure m);
// Problem 0: one worker's collection.
ByteCount lookupBytes(Measure m);
// Problem 2: the suite with element count n >= 0, at its fullest.
ByteCount suiteBytes(std::int32_t n);
// One worker allocator's own records, which a budget pays for first.
ByteCount allocatorRecordBytes();

// What the machine offers a run.
struct MachineLimits {
  std::uint64_t physicalMemory;  // total physical memory in bytes; 0 when unknown (not checked)
  std::uint64_t maxThreads;      // threads that may exist at once; UINT64_MAX when unlimited
};

// This machine's limits, from the platform layer.
MachineLimits currentMachineLimits();

// The answer to a run that cannot start: its exit code and the line for standard error.
struct Refusal {
  int exitCode = 0;  // 0: the run fits
  std::string message;
};

// Checks a run whose arguments passed invalidParameterMessage, in this order: its resident need
// against physical memory (exit 1), with mem > 0 each worker's carved need against its budget
// (exit 1), then its thread count against the system's limit (exit 3).
Refusal checkRunLimits(const RunParameters& parameters, const MachineLimits& machine);

// checkRunLimits on this machine; a refusal is written to standard error (standard output
// flushed first) and ends the process with its code.
void exitIfRunCannotStart(const RunParameters& parameters);

}  // namespace varnel::driver
