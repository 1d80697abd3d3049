// What a run needs from the machine, worked out from its arguments before anything large is
// built: the bytes its structures hold, each worker's share of them, and its threads. A run that
// cannot fit is refused at once, instead of growing until the heap, a budget or the system's
// out-of-memory killer ends it part way.
#pragma once

#include <cstdint>
#include <string>

#include "driver/cli.h"
#include "varnel/memory/byte_count.h"
#include "varnel/table/table_bytes.h"

namespace varnel::driver {

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
  // A limit the process is under (resource limit, control group, job object), and its name;
  // UINT64_MAX when none. A run is checked against the smaller of it and physical memory; the
  // budgets of split memory still divide physical memory.
  std::uint64_t processLimit = UINT64_MAX;
  const char* processLimitName = "";
};

// This machine's limits, from the platform layer.
MachineLimits currentMachineLimits();

// The answer to a run that cannot start: its exit code and the line for standard error.
struct Refusal {
  int exitCode = 0;  // 0: the run fits
  std::string message;
};

// Checks a run whose arguments passed invalidParameterMessage, in this order: its resident need
// against physical memory or the process's smaller limit (exit 1), with mem > 0 each worker's
// carved need against its budget (exit 1), then its thread count against the system's limit (exit
// 3).
Refusal checkRunLimits(const RunParameters& parameters, const MachineLimits& machine);

// checkRunLimits on this machine; a refusal is written to standard error (standard output
// flushed first) and ends the process with its code.
void exitIfRunCannotStart(const RunParameters& parameters);

}  // namespace varnel::driver
