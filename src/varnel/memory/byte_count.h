// What a run needs, counted before anything large is built: a byte count that cannot overflow,
// the two ways a need is measured, and the size of one array or pooled object each way. Shared
// by every program that sizes a request up front and refuses what cannot fit.
#pragma once

#include <cstdint>
#include <string>

#include "varnel/memory/size_class.h"

namespace varnel {

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
  bool exceeds(const ByteCount& other) const {
    return high_ != other.high_ ? high_ > other.high_ : low_ > other.low_;
  }
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

// `count` elements of `size` bytes (count * size below 2^64): as written, or as the block that
// holds them.
inline ByteCount arrayBytes(std::uint64_t count, std::uint64_t size, Measure m) {
  if (count == 0) return 0;
  const std::uint64_t bytes = count * size;
  if (m == Measure::resident || bytes > kLargestBlockBytes) return bytes;
  return blockBytesOf(sizeClassOf(bytes));
}

// An array that the run takes but may never write: only carved.
inline ByteCount unwrittenBytes(std::uint64_t count, std::uint64_t size, Measure m) {
  return m == Measure::carved ? arrayBytes(count, size, m) : 0;
}

// One pooled object of type T.
template <class T>
ByteCount objectBytes(Measure m) {
  return m == Measure::resident ? sizeof(T) : blockBytesOf(kSizeClassOf<T>);
}

// The refusals, in the words of the library's out-of-memory line:
// "Error: no more memory: N bytes needed by this run, above the P bytes of physical memory".
std::string neededAbovePhysicalMemory(const ByteCount& need, std::uint64_t physicalMemory);
// "Error: no more memory: N bytes needed by this run, above the L-byte address-space limit
// (ulimit -v)": a limit the process is under, below physical memory; `limit` names it
// (platform::MemoryLimit::what), L is written with thousands separators.
std::string neededAboveProcessLimit(const ByteCount& need, std::uint64_t bytes, const char* limit);
// "Error: no more memory: N bytes needed by each worker, above its budget of B bytes".
std::string neededAboveWorkerBudget(const ByteCount& need, std::uint64_t budget);

}  // namespace varnel
