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
#include "varnel/memory/allocator.h"
#include "varnel/memory/memory_arena.h"
#include "varnel/platform/platform.h"
#include "varnel/table/gac4r_table_ct.h"
#include "varnel/table/table_bytes.h"
#include "varnel/table/tuple_table.h"

namespace varnel::driver {

using namespace runner;  // the launch, budgets and report lines both programs share

// --- Needs ------------------------------------------------------------------------------------

namespace {

// Capacity and slot count of problem 0's collections (HashLookupRunner and the baseline).
constexpr std::uint64_t kLookupCapacity = 10000;
constexpr std::uint64_t kLookupSlots = 4 * std::bit_floor(kLookupCapacity);

// The main thread's share of each worker: its runner and thread record on the general heap, and
// their entries in the runner, record and time tables.
constexpr std::uint64_t kWorkerRecordBytes =
    sizeof(AllocatorRunner) + sizeof(ThreadRecord) + 3 * sizeof(void*);

}  // namespace

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
  const platform::MemoryLimit limit = platform::processMemoryLimit();
  return {platform::totalPhysicalMemory(), platform::maxThreadCount(), limit.bytes, limit.what};
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

  const bool limitBelowMemory =
      machine.physicalMemory == 0 || machine.processLimit < machine.physicalMemory;
  if (limitBelowMemory && total.exceeds(machine.processLimit)) {
    return {1, neededAboveProcessLimit(total, machine.processLimit, machine.processLimitName)};
  }
  if (machine.physicalMemory != 0 && total.exceeds(machine.physicalMemory)) {
    return {1, neededAbovePhysicalMemory(total, machine.physicalMemory)};
  }
  if (workers && p.mem > 0) {
    const std::uint64_t budget =
        roundUpToWord(perThreadBudget(p.numThreads, true, machine.physicalMemory));
    if (perWorker.exceeds(budget)) {
      return {1, neededAboveWorkerBudget(perWorker, budget)};
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
