// What an instance and a search over it need, from the instance's counts alone, so that a
// program can refuse a request that cannot fit before building any of it. Every count is a lower
// bound (what depends on the search's course, the trail and the allocators' rounding to whole
// chunks is left out), so that no run that fits is refused.
#pragma once

#include <cstdint>
#include <string>

#include "varnel/memory/byte_count.h"
#include "varnel/search/model/csp_instance.h"
#include "varnel/search/model/rb_instance.h"

namespace varnel {

// The counts an instance's memory and a search space's depend on, and the bytes of its tables
// and variables, each rounded array by array as the allocator rounds it (so that a shape is built
// one table or one run of identical tables at a time).
struct InstanceShape {
  std::uint64_t vars = 0;
  std::uint64_t domainValues = 0;  // the domain sizes
  std::uint64_t constraints = 0;
  std::uint64_t scopeEntries = 0;  // the arities
  std::uint64_t tuples = 0;        // the tuple counts
  ByteCount instanceArrays[2];     // per Measure: the domains, scopes and tuples of the instance
  ByteCount spaceTables[2];        // per Measure: the tables' GAC-4R constraints in one space
  ByteCount compactTables[2];      // per Measure: the tables' Compact-Table constraints instead
  ByteCount supportMasks[2];       // per Measure: the tables' support masks (Compact-Table only)
  ByteCount allDifferents[2];      // per Measure: the allDifferent constraints in one space
  bool compactTable = false;       // the spaces run Compact-Table over shared support masks
  ByteCount spaceVars[2];          // per Measure: the variables of one space

  // `count` variables of `domainSize` values each.
  void addVariables(std::uint64_t count, std::uint64_t domainSize);
  // `count` tables of `arity` variables and `tuples` tuples whose scope's domain sizes sum to
  // `buckets`.
  void addTables(std::uint64_t count, std::uint64_t arity, std::uint64_t tuples,
                 std::uint64_t buckets);
  // `count` allDifferent constraints over `arity` scope entries whose domain sizes sum to
  // `buckets` (what forward checking holds: a lower bound for the matching too).
  void addAllDifferent(std::uint64_t count, std::uint64_t arity, std::uint64_t buckets);
};

// The shape of a built instance.
InstanceShape shapeOf(const CspInstance& instance);
// The shape of the model RB instance of `p` (rbParameterProblem(p) empty).
InstanceShape rbShape(const RbParameters& p);
// The shape of problem 1's table as an instance, with one value per column (the fewest).
InstanceShape tableShape(std::int32_t arity, std::int32_t numTuples);

// The instance's own storage.
ByteCount instanceBytes(const InstanceShape& shape, Measure m);
// The scratch generateRbInstance holds besides the instance while it draws (freed after).
ByteCount rbScratchBytes(const RbParameters& p, Measure m);
// One search space over the instance, posted: variables, constraints (GAC-4R's buckets or
// Compact-Table's bitsets, as shape.compactTable says), queue and watcher lists.
ByteCount spaceBytes(const InstanceShape& shape, Measure m);
// The support masks Compact-Table shares between every space (0 for GAC-4R): instance data,
// built once after the instance.
ByteCount supportMaskBytes(const InstanceShape& shape, Measure m);

// Checks a search over an instance of `shape` whose building holds `buildScratch` bytes at its
// peak besides the instance, with `spaces` spaces alive at once (the workers of a parallel run;
// 1 for a search on one thread). In order: instance and support masks, scratch or spaces
// (whichever is larger:
// the scratch is freed before any space exists) against `physicalMemory` (0: not checked);
// then, when workerBudget > 0, one space against it. Empty when the run fits; otherwise the
// "Error: no more memory: N bytes needed ..." line.
// With `processLimit` below physicalMemory (physicalMemory 0: unknown), the run is checked
// against that limit instead, and the refusal names it by `processLimitName`.
std::string searchMemoryRefusal(const InstanceShape& shape, const ByteCount& buildScratch,
                                std::uint64_t spaces, std::uint64_t workerBudget,
                                std::uint64_t physicalMemory,
                                std::uint64_t processLimit = UINT64_MAX,
                                const char* processLimitName = "");

}  // namespace varnel
