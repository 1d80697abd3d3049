// The needs of an instance and of a search space, array by array, following the constructors of
// CspInstance, IntVar, TableCtRev, PropagationQueue and SearchSpace. Sums over the tables are
// taken exactly rather than rounded table by table to their size classes, which keeps them lower
// bounds of the carved blocks too.
#include "varnel/search/search_bytes.h"

#include <bit>

#include "varnel/memory/allocator.h"
#include "varnel/search/search_space.h"

namespace varnel {

InstanceShape shapeOf(const CspInstance& instance) {
  InstanceShape s;
  s.vars = static_cast<std::uint64_t>(instance.varCount());
  for (std::int32_t x = 0; x < instance.varCount(); ++x) {
    s.domainValues += static_cast<std::uint64_t>(instance.domainSize(x));
  }
  s.constraints = static_cast<std::uint64_t>(instance.constraintCount());
  for (std::int32_t c = 0; c < instance.constraintCount(); ++c) {
    const auto arity = static_cast<std::uint64_t>(instance.arity(c));
    const auto tuples = static_cast<std::uint64_t>(instance.tupleCount(c));
    s.scopeEntries += arity;
    s.tuples += tuples;
    s.tupleEntries += arity * tuples;
    for (std::int32_t i = 0; i < instance.arity(c); ++i) {
      s.buckets += static_cast<std::uint64_t>(instance.domainSize(instance.scope(c)[i]));
    }
  }
  return s;
}

InstanceShape rbShape(const RbParameters& p) {
  const auto n = static_cast<std::uint64_t>(p.vars);
  const auto d = static_cast<std::uint64_t>(p.domain);
  const auto k = static_cast<std::uint64_t>(p.arity);
  const auto m = static_cast<std::uint64_t>(p.constraints);
  const auto t = static_cast<std::uint64_t>(rbTupleCount(p));
  // Every product is below 2^64: n, m <= 10^7, k <= 24, d <= 2^24 and d^k <= 2^24.
  return {n, n * d, m, m * k, m * t, m * t * k, m * k * d};
}

InstanceShape tableShape(std::int32_t arity, std::int32_t numTuples) {
  const auto k = static_cast<std::uint64_t>(arity);
  const auto t = static_cast<std::uint64_t>(numTuples);
  return {k, k, 1, k, t, k * t, k};
}

ByteCount instanceBytes(const InstanceShape& s, Measure m) {
  // The constraint records grow by doubling: at least one record per table.
  return objectBytes<CspInstance>(m) + arrayBytes(s.vars, 4, m) + arrayBytes(s.vars, 8, m) +
         ByteCount(s.domainValues) * 8 + ByteCount(s.constraints) * 24 +
         ByteCount(s.scopeEntries) * 4 + ByteCount(s.tupleEntries) * 4;
}

ByteCount rbScratchBytes(const RbParameters& p, Measure m) {
  const auto n = static_cast<std::uint64_t>(p.vars);
  const auto k = static_cast<std::uint64_t>(p.arity);
  std::uint64_t codes = 1;
  for (std::int32_t i = 0; i < p.arity; ++i) codes *= static_cast<std::uint64_t>(p.domain);
  // The values of a domain, the variable order, every tuple code and one table's rows.
  return arrayBytes(static_cast<std::uint64_t>(p.domain), 8, m) + arrayBytes(n, 4, m) +
         arrayBytes(codes, 4, m) +
         arrayBytes(static_cast<std::uint64_t>(rbTupleCount(p)) * k, 4, m);
}

ByteCount spaceBytes(const InstanceShape& s, Measure m) {
  // A variable: its object and its two sparse-set arrays.
  const ByteCount vars =
      arrayBytes(s.vars, 8, m) + objectBytes<IntVar>(m) * s.vars + ByteCount(s.domainValues) * 8;
  // A table: its object; per position its variable, value base, last size and stamp, pending,
  // delta and change marks (8 + 4 + 4 + 8 + 4 + 4 + 4 + 1 bytes) and one more value base; per
  // bucket its start, count and stamp; per entry its item, place and value; per tuple its
  // gathering mark and (only carved: never written whole) its place in the tuple buffer.
  const ByteCount tables =
      arrayBytes(s.constraints, 8, m) + objectBytes<TableCtRev>(m) * s.constraints +
      ByteCount(s.scopeEntries) * 37 + ByteCount(s.constraints) * 4 + ByteCount(s.buckets) * 16 +
      ByteCount(s.tupleEntries) * 12 + ByteCount(s.tuples) * (m == Measure::carved ? 8 : 4);
  // The queue's ring (a power of two) and marks, the watcher lists and their counting sort.
  const std::uint64_t ring = s.constraints == 0 ? 1 : std::bit_ceil(s.constraints);
  const ByteCount rest = objectBytes<SearchSpace>(m) + arrayBytes(ring, 4, m) +
                         arrayBytes(s.constraints, 1, m) + arrayBytes(s.scopeEntries, 4, m) +
                         arrayBytes(s.vars + 1, 4, m);
  return vars + tables + rest;
}

std::string searchMemoryRefusal(const InstanceShape& shape, const ByteCount& buildScratch,
                                std::uint64_t spaces, std::uint64_t workerBudget,
                                std::uint64_t physicalMemory) {
  const ByteCount allSpaces = spaceBytes(shape, Measure::resident) * (spaces > 0 ? spaces : 1);
  const ByteCount total = instanceBytes(shape, Measure::resident) +
                          (buildScratch.exceeds(allSpaces) ? buildScratch : allSpaces);
  if (physicalMemory != 0 && total.exceeds(physicalMemory)) {
    return neededAbovePhysicalMemory(total, physicalMemory);
  }
  const ByteCount perWorker = spaceBytes(shape, Measure::carved);
  if (workerBudget != 0 && perWorker.exceeds(workerBudget)) {
    return neededAboveWorkerBudget(perWorker, workerBudget);
  }
  return std::string();
}

}  // namespace varnel
