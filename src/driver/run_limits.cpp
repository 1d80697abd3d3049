// A run's needs, from its arguments alone, and the checks that refuse what cannot fit. Each need
// follows the structures its problem builds (their counts, element sizes and size classes) and
// leaves out whatever depends on the random values, so that it stays a lower bound.
#include "driver/run_limits.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <iostream>

#include "runner/runner.h"
#include "varnel/containers/array.h"
#include "varnel/containers/collection.h"
#include "varnel/containers/set.h"
#include "varnel/containers/succession_int.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/memory_arena.h"
#include "varnel/platform/platform.h"
#include "varnel/table/gac4r_table_ct.h"
#include "varnel/table/tuple_table.h"

namespace varnel::driver {

using namespace runner;  // the launch, budgets and report lines both programs share

// --- ByteCount --------------------------------------------------------------------------------

ByteCount& ByteCount::operator+=(const ByteCount& other) {
  low_ += other.low_;
  high_ += other.high_ + (low_ < other.low_ ? 1 : 0);
  return *this;
}

ByteCount operator*(const ByteCount& a, std::uint64_t factor) {
  // The low word times the factor in 32-bit halves, carrying into the high word.
  constexpr std::uint64_t kHalf = 0xFFFFFFFFu;
  const std::uint64_t a0 = a.low_ & kHalf, a1 = a.low_ >> 32;
  const std::uint64_t b0 = factor & kHalf, b1 = factor >> 32;
  const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const std::uint64_t middle = (p00 >> 32) + (p01 & kHalf) + (p10 & kHalf);
  ByteCount product;
  product.low_ = (middle << 32) | (p00 & kHalf);
  product.high_ = a.high_ * factor + p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
  return product;
}

std::string ByteCount::toString() const {
  // Long division by 10 over four 32-bit limbs, most significant first.
  std::uint32_t limbs[4] = {
      static_cast<std::uint32_t>(high_ >> 32), static_cast<std::uint32_t>(high_),
      static_cast<std::uint32_t>(low_ >> 32), static_cast<std::uint32_t>(low_)};
  std::string digits;
  do {
    std::uint64_t remainder = 0;
    bool zero = true;
    for (std::uint32_t& limb : limbs) {
      const std::uint64_t current = (remainder << 32) | limb;
      limb = static_cast<std::uint32_t>(current / 10);
      remainder = current % 10;
      zero = zero && limb == 0;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + remainder));
    if (zero) break;
  } while (true);
  return digits;
}

// --- Needs ------------------------------------------------------------------------------------

namespace {

// Capacity and slot count of problem 0's collections (HashLookupRunner and the baseline).
constexpr std::uint64_t kLookupCapacity = 10000;
constexpr std::uint64_t kLookupSlots = 4 * std::bit_floor(kLookupCapacity);

// `count` elements of `size` bytes: as written, or as the block that holds them.
ByteCount arrayBytes(std::uint64_t count, std::uint64_t size, Measure m) {
  if (count == 0) return 0;
  const std::uint64_t bytes = count * size;  // counts stay below 2^33, sizes at 8 or less
  if (m == Measure::resident || bytes > kLargestBlockBytes) return bytes;
  return blockBytesOf(sizeClassOf(bytes));
}

// An array that the run takes but may never write: only carved.
ByteCount unwrittenBytes(std::uint64_t count, std::uint64_t size, Measure m) {
  return m == Measure::carved ? arrayBytes(count, size, m) : 0;
}

// One pooled object of type T.
template <class T>
ByteCount objectBytes(Measure m) {
  return m == Measure::resident ? sizeof(T) : blockBytesOf(kSizeClassOf<T>);
}

// The main thread's share of each worker: its runner and thread record on the general heap, and
// their entries in the runner, record and time tables.
constexpr std::uint64_t kWorkerRecordBytes =
    sizeof(AllocatorRunner) + sizeof(ThreadRecord) + 3 * sizeof(void*);

}  // namespace

ByteCount tableBytes(std::int32_t arity, std::int32_t numTuples, std::int32_t upper, Measure m) {
  const auto columns = static_cast<std::uint64_t>(arity);
  const auto tuples = static_cast<std::uint64_t>(numTuples);
  const auto valueRoom = static_cast<std::uint64_t>(std::min(upper, numTuples));
  // A column: its value index (every slot written, items only as values appear: one at least),
  // its table of value lists (likewise), and the lists, which hold every tuple number once.
  const ByteCount column =
      objectBytes<TableColumn>(m) + arrayBytes(4 * std::bit_floor(valueRoom), 4, m) +
      (m == Measure::carved ? arrayBytes(valueRoom, 8, m) * 2 : ByteCount(2 * 8)) +
      objectBytes<SuccessionInt>(m) + ByteCount(tuples) * 4;
  return objectBytes<TupleTable>(m) + arrayBytes(tuples, 8, m) + arrayBytes(columns, 8, m) +
         column * columns + arrayBytes(columns, 4, m) * tuples;
}

ByteCount reductionBytes(std::int32_t arity, std::int32_t numTuples, Measure m) {
  const auto variables = static_cast<std::uint64_t>(arity);
  const auto tuples = static_cast<std::uint64_t>(numTuples);
  // A variable with one value at least: its bucket table, its position and value tables (written
  // for every tuple), the bucket items (every tuple once), its domain and delta sets.
  const ByteCount variable = objectBytes<VariableSupports>(m) + arrayBytes(1, 8, m) +
                             arrayBytes(tuples, 4, m) * 2 + objectBytes<SupportBucket>(m) +
                             ByteCount(tuples) * 4 +
                             (objectBytes<Set>(m) + arrayBytes(2, 4, m) * 2) * 2;
  // The constraint: its tuple buffer and gathering marks (written only as far as propagation
  // reaches), its three per-variable tables and pending set; then the centre tuple.
  return objectBytes<GAC4RTableCt>(m) + unwrittenBytes(tuples, 4, m) * 2 +
         arrayBytes(variables, 8, m) * 3 + arrayBytes(variables + 1, 4, m) * 2 +
         variable * variables + objectBytes<Array<std::int32_t>>(m) + arrayBytes(variables, 4, m);
}

ByteCount lookupBytes(Measure m) {
  // Problem 0 probes an empty collection: its slots are written, its items never.
  return objectBytes<Collection>(m) + arrayBytes(kLookupSlots, 4, m) +
         unwrittenBytes(kLookupCapacity, 8, m);
}

ByteCount suiteBytes(std::int32_t n) {
  // The largest structures are the two link arrays of a Set(n), written whole, and the plain
  // array of n integers on the general heap. Once freed, the Set's blocks stay in the pools,
  // so with pools the plain array comes on top of them.
  const auto count = static_cast<std::uint64_t>(n);
  const ByteCount set = arrayBytes(count + 1, 4, Measure::resident) * 2;
  const std::uint64_t plain = 4 * count;
  if (kPoolsKeepFreedBlocks) return set + plain;
  return set.exceeds(plain) ? set : ByteCount(plain);
}

ByteCount allocatorRecordBytes() {
  return roundUpToWord(sizeof(varnel_allocator)) +
         ByteCount(roundUpToWord(sizeof(SizeClassPool)) + 8 * sizeof(void*)) * kSizeClassCount;
}

// --- Checks -----------------------------------------------------------------------------------

MachineLimits currentMachineLimits() {
  return {platform::totalPhysicalMemory(), platform::maxThreadCount()};
}

Refusal checkRunLimits(const RunParameters& p, const MachineLimits& machine) {
  const bool workers = p.pb == 0 || p.pb == 1;
  const auto threads = static_cast<std::uint64_t>(p.numThreads);
  ByteCount total;
  ByteCount perWorker;
  if (p.pb == 0) {
    perWorker = allocatorRecordBytes() + lookupBytes(Measure::carved);
    total =
        (allocatorRecordBytes() + lookupBytes(Measure::resident) + kWorkerRecordBytes) * threads;
  } else if (p.pb == 1) {
    // The main thread's own reduction runs after every worker has ended and given its memory
    // back, so at most numThreads constraints exist at once.
    perWorker = allocatorRecordBytes() + reductionBytes(p.arity, p.numTuples, Measure::carved);
    total = tableBytes(p.arity, p.numTuples, p.upper, Measure::resident) +
            (allocatorRecordBytes() + reductionBytes(p.arity, p.numTuples, Measure::resident) +
             kWorkerRecordBytes) *
                threads;
  } else {
    total = suiteBytes(p.numThreads);
  }

  if (machine.physicalMemory != 0 && total.exceeds(machine.physicalMemory)) {
    return {1, "Error: no more memory: " + total.toString() +
                   " bytes needed by this run, above the " +
                   std::to_string(machine.physicalMemory) + " bytes of physical memory"};
  }
  if (workers && p.mem > 0) {
    const std::uint64_t budget =
        roundUpToWord(perThreadBudget(p.numThreads, true, machine.physicalMemory));
    if (perWorker.exceeds(budget)) {
      return {1, "Error: no more memory: " + perWorker.toString() +
                     " bytes needed by each worker, above its budget of " + std::to_string(budget) +
                     " bytes"};
    }
  }
  if (workers && threads + 1 > machine.maxThreads) {
    return {3, "Error: the system cannot run " + std::to_string(threads) +
                   " worker threads: at most " + std::to_string(machine.maxThreads) +
                   " threads can exist at once"};
  }
  return {};
}

void exitIfRunCannotStart(const RunParameters& parameters) {
  const Refusal refusal = checkRunLimits(parameters, currentMachineLimits());
  if (refusal.exitCode == 0) return;
  std::cout.flush();
  std::cerr << refusal.message << std::endl;
  std::exit(refusal.exitCode);
}

}  // namespace varnel::driver
