// The needs of an instance and of a search space, array by array, following the constructors of
// CspInstance, IntVar, TableCtRev, CompactTableRev, SupportMasks, PropagationQueue and
// SearchSpace. Sums over the tables are
// taken exactly rather than rounded table by table to their size classes, which keeps them lower
// bounds of the carved blocks too.
#include "varnel/search/search_bytes.h"

#include <bit>

#include "varnel/memory/allocator.h"
#include "varnel/search/propagators/all_different.h"
#include "varnel/search/propagators/compact_table_rev.h"
#include "varnel/search/search_space.h"

namespace varnel {
namespace {

constexpr std::uint64_t kPageBytes = 4096;

// An array of `count` elements of `size` bytes, or one object (count 1) as the measure counts
// it. Resident, a block of at most a page counts whole: the pool carves it between neighbours
// that are written too, so the pages under its rounding are touched all the same.
ByteCount held(std::uint64_t count, std::uint64_t size, Measure m) {
  if (count == 0) return 0;
  const std::uint64_t bytes = count * size;
  if (bytes > kLargestBlockBytes) return bytes;
  const std::uint64_t block = blockBytesOf(sizeClassOf(bytes));
  return m == Measure::carved || block <= kPageBytes ? block : bytes;
}

constexpr int index(Measure m) { return m == Measure::carved ? 1 : 0; }

}  // namespace

void InstanceShape::addVariables(std::uint64_t count, std::uint64_t domainSize) {
  vars += count;
  domainValues += count * domainSize;
  for (const Measure m : {Measure::resident, Measure::carved}) {
    // The domain's values in the instance; in a space, the variable and its sparse set.
    instanceArrays[index(m)] += held(domainSize, 8, m) * count;
    spaceVars[index(m)] += (held(1, sizeof(IntVar), m) + held(domainSize, 4, m) * 2) * count;
  }
}

void InstanceShape::addTables(std::uint64_t count, std::uint64_t arity, std::uint64_t tuples,
                              std::uint64_t buckets) {
  constraints += count;
  scopeEntries += count * arity;
  this->tuples += count * tuples;
  const std::uint64_t entries = arity * tuples;
  for (const Measure m : {Measure::resident, Measure::carved}) {
    instanceArrays[index(m)] += (held(arity, 4, m) + held(entries, 4, m)) * count;
    // Following TableCtRev's constructor: the object; per position the variable, value base,
    // last size and stamp, pending, delta and change marks; per bucket the start, count and
    // stamp; per entry the item, place and value; per tuple the gathering mark and the tuple
    // buffer, never written whole.
    const ByteCount table = held(1, sizeof(TableCtRev), m) + held(arity, 8, m) +
                            held(arity + 1, 4, m) + held(buckets, 4, m) * 2 + held(buckets, 8, m) +
                            held(entries, 4, m) * 3 + held(arity, 4, m) + held(arity, 8, m) +
                            held(tuples, 4, m) +
                            (m == Measure::carved ? held(tuples, 4, m) : ByteCount(0)) +
                            held(arity, 4, m) * 3 + held(arity, 1, m);
    spaceTables[index(m)] += table * count;
    // Following CompactTableRev's constructor: the object, one block for its per-position and
    // per-value arrays, and its table's bitset (words, scratch mask, stamps, index) in another.
    const std::uint64_t words = (tuples + 63) / 64;
    compactTables[index(m)] += (held(1, sizeof(CompactTableRev), m) +
                                held(2 * arity + (3 * arity + buckets + 2) / 2, 8, m) +
                                held(3 * words + (words + 1) / 2, 8, m)) *
                               count;
    // SupportMasks: the object, its value bases and a mask of `words` words per value.
    supportMasks[index(m)] +=
        (held(1, sizeof(SupportMasks), m) + held(arity + 1, 4, m) + held(buckets * words, 8, m)) *
        count;
  }
}

void InstanceShape::addAllDifferent(std::uint64_t count, std::uint64_t arity,
                                    std::uint64_t /*buckets*/) {
  constraints += count;
  scopeEntries += count * arity;
  for (const Measure m : {Measure::resident, Measure::carved}) {
    instanceArrays[index(m)] += held(arity, 4, m) * count;
    // Following AllDifferentRev's constructor: the object, its variables, value arrays and order.
    allDifferents[index(m)] +=
        (held(1, sizeof(AllDifferentRev), m) + held(arity, 8, m) * 2 + held(arity, 4, m)) * count;
  }
}

InstanceShape shapeOf(const CspInstance& instance) {
  InstanceShape s;
  for (std::int32_t x = 0; x < instance.varCount(); ++x) {
    s.addVariables(1, static_cast<std::uint64_t>(instance.domainSize(x)));
  }
  for (std::int32_t c = 0; c < instance.constraintCount(); ++c) {
    std::uint64_t buckets = 0;
    for (std::int32_t i = 0; i < instance.arity(c); ++i) {
      buckets += static_cast<std::uint64_t>(instance.domainSize(instance.scope(c)[i]));
    }
    if (!instance.isTable(c)) {
      s.addAllDifferent(1, static_cast<std::uint64_t>(instance.arity(c)), buckets);
      continue;
    }
    // A conflicts table's expanded stars only add to this.
    s.addTables(1, static_cast<std::uint64_t>(instance.arity(c)),
                static_cast<std::uint64_t>(instance.tupleCount(c)), buckets);
  }
  return s;
}

InstanceShape rbShape(const RbParameters& p) {
  const auto d = static_cast<std::uint64_t>(p.domain);
  const auto k = static_cast<std::uint64_t>(p.arity);
  InstanceShape s;
  // Every product is below 2^64: n, m <= 10^7, k <= 24, d <= 2^24 and d^k <= 2^24.
  s.addVariables(static_cast<std::uint64_t>(p.vars), d);
  s.addTables(static_cast<std::uint64_t>(p.constraints), k,
              static_cast<std::uint64_t>(rbTupleCount(p)), k * d);
  return s;
}

InstanceShape tableShape(std::int32_t arity, std::int32_t numTuples) {
  const auto k = static_cast<std::uint64_t>(arity);
  InstanceShape s;
  s.addVariables(k, 1);
  s.addTables(1, k, static_cast<std::uint64_t>(numTuples), k);
  return s;
}

ByteCount instanceBytes(const InstanceShape& s, Measure m) {
  // The table records grow by doubling from 4, and the pools keep every smaller array freed on
  // the way: 24 bytes for each of 2 x capacity - 4 records.
  const std::uint64_t capacity = s.constraints <= 4 ? 4 : std::bit_ceil(s.constraints);
  const ByteCount records = s.constraints == 0 ? ByteCount(0) : ByteCount(24) * (2 * capacity - 4);
  return held(1, sizeof(CspInstance), m) + held(s.vars, 4, m) + held(s.vars, 8, m) + records +
         s.instanceArrays[index(m)];
}

ByteCount rbScratchBytes(const RbParameters& p, Measure m) {
  const auto n = static_cast<std::uint64_t>(p.vars);
  const auto k = static_cast<std::uint64_t>(p.arity);
  std::uint64_t codes = 1;
  for (std::int32_t i = 0; i < p.arity; ++i) codes *= static_cast<std::uint64_t>(p.domain);
  // The values of a domain, the variable order (and the hidden assignment when planted), every
  // tuple code and one table's rows.
  return arrayBytes(static_cast<std::uint64_t>(p.domain), 8, m) + arrayBytes(n, 4, m) +
         (p.planted ? arrayBytes(n, 4, m) : ByteCount(0)) + arrayBytes(codes, 4, m) +
         arrayBytes(static_cast<std::uint64_t>(rbTupleCount(p)) * k, 4, m);
}

ByteCount spaceBytes(const InstanceShape& s, Measure m) {
  // The variable and constraint tables (tables and allDifferent), the queue's ring (a power of
  // two), marks, constraints and kinds, the watcher lists and their counting sort.
  const std::uint64_t ring = s.constraints == 0 ? 1 : std::bit_ceil(s.constraints);
  return held(1, sizeof(SearchSpace), m) + held(s.vars, 8, m) + held(s.constraints, 8, m) * 2 +
         held(ring, 4, m) + held(s.constraints, 1, m) * 2 + held(s.constraints, 8, m) +
         held(s.scopeEntries, 4, m) + held(s.vars + 1, 4, m) + s.spaceVars[index(m)] +
         s.allDifferents[index(m)] +
         (s.compactTable ? s.compactTables[index(m)] : s.spaceTables[index(m)]);
}

ByteCount supportMaskBytes(const InstanceShape& s, Measure m) {
  if (!s.compactTable) return 0;
  return held(1, sizeof(InstanceSupportMasks), m) + held(s.constraints, 8, m) +
         s.supportMasks[index(m)];
}

std::string searchMemoryRefusal(const InstanceShape& shape, const ByteCount& buildScratch,
                                std::uint64_t spaces, std::uint64_t workerBudget,
                                std::uint64_t physicalMemory, std::uint64_t processLimit,
                                const char* processLimitName) {
  const ByteCount allSpaces = spaceBytes(shape, Measure::resident) * (spaces > 0 ? spaces : 1);
  const ByteCount total = instanceBytes(shape, Measure::resident) +
                          supportMaskBytes(shape, Measure::resident) +
                          (buildScratch.exceeds(allSpaces) ? buildScratch : allSpaces);
  if ((physicalMemory == 0 || processLimit < physicalMemory) && total.exceeds(processLimit)) {
    return neededAboveProcessLimit(total, processLimit, processLimitName);
  }
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
