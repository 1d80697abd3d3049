// Brute-force model of a search space for the tests and the fuzz target: the generalised-arc-
// consistent closure of an instance under a list of decisions, computed from scratch, and a
// plain copy of everything a pop must restore (domains, the valid tuples each constraint keeps
// per value: GAC-4R's bucket fronts or Compact-Table's currTable under each support mask, as
// sets; the sizes each constraint last saw). Both propagators are checked by the same code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "varnel/memory/pooled.h"
#include "varnel/search/search_space.h"

namespace varnel::testing {

struct Decision {
  std::int32_t var;
  std::int32_t value;
  bool assign;  // x = value; otherwise x != value
};

using Domains = std::vector<std::vector<bool>>;

// The two propagators a space can run, for parameterized tests.
enum class Propagator { kGac4r, kCompactTable };

inline const char* propagatorName(Propagator p) {
  return p == Propagator::kCompactTable ? "CompactTable" : "Gac4r";
}

// The support masks of an instance when the propagator needs them (null otherwise), released
// at the end of the scope.
class MasksFor {
 public:
  MasksFor(const CspInstance& instance, Propagator p)
      : masks_(p == Propagator::kCompactTable ? newPooled<InstanceSupportMasks>(instance)
                                              : nullptr) {}
  ~MasksFor() {
    if (masks_ != nullptr) deletePooled(masks_);
  }
  const InstanceSupportMasks* get() const { return masks_; }

  MasksFor(const MasksFor&) = delete;
  MasksFor& operator=(const MasksFor&) = delete;

 private:
  InstanceSupportMasks* masks_;
};

// Propagations that rebuilt the constraint's state from the remaining values rather than from
// the removed ones (GAC-4R's resets, Compact-Table's reset updates).
inline std::uint64_t resetsOf(const SearchSpace& space, std::int32_t c) {
  return space.compactTables() ? space.compactTable(c).resetCount()
                               : space.constraint(c).resetCount();
}

// The closure of the root domains under `decisions`; false when a domain becomes empty.
inline bool closure(const CspInstance& instance, const std::vector<Decision>& decisions,
                    Domains* domains) {
  Domains& d = *domains;
  d.assign(instance.varCount(), {});
  for (std::int32_t x = 0; x < instance.varCount(); ++x) d[x].assign(instance.domainSize(x), true);
  for (const Decision& k : decisions) {
    for (std::int32_t v = 0; v < instance.domainSize(k.var); ++v) {
      if ((v == k.value) != k.assign) d[k.var][v] = false;
    }
  }
  for (bool changed = true; changed;) {
    changed = false;
    for (std::int32_t c = 0; c < instance.constraintCount(); ++c) {
      const std::int32_t arity = instance.arity(c);
      const std::int32_t* scope = instance.scope(c);
      Domains supported(arity);
      for (std::int32_t i = 0; i < arity; ++i) supported[i].assign(d[scope[i]].size(), false);
      for (std::int32_t t = 0; t < instance.tupleCount(c); ++t) {
        const std::int32_t* row = instance.tuples(c) + std::int64_t(t) * arity;
        bool valid = true;
        for (std::int32_t i = 0; i < arity && valid; ++i) valid = d[scope[i]][row[i]];
        for (std::int32_t i = 0; i < arity && valid; ++i) supported[i][row[i]] = true;
      }
      for (std::int32_t i = 0; i < arity; ++i) {
        for (std::size_t v = 0; v < supported[i].size(); ++v) {
          if (d[scope[i]][v] && !supported[i][v]) {
            d[scope[i]][v] = false;
            changed = true;
          }
        }
      }
    }
  }
  for (const auto& values : d) {
    if (std::find(values.begin(), values.end(), true) == values.end()) return false;
  }
  return true;
}

// The tuples constraint c keeps as valid for value v at position i, sorted: the front of the
// bucket (GAC-4R), or currTable under the value's support mask (Compact-Table).
inline std::vector<std::int32_t> keptTuples(const SearchSpace& space, std::int32_t c,
                                            std::int32_t i, std::int32_t v) {
  std::vector<std::int32_t> kept;
  if (space.compactTables()) {
    const CompactTableRev& ct = space.compactTable(c);
    const std::uint64_t* mask = ct.masks().mask(i, v);
    for (std::int32_t t = 0; t < ct.tupleCount(); ++t) {
      if (ct.table().contains(t) && ((mask[t >> 6] >> (t & 63)) & 1)) kept.push_back(t);
    }
    return kept;
  }
  const TableCtRev& ct = space.constraint(c);
  kept.assign(ct.front(i, v), ct.front(i, v) + ct.count(i, v));
  std::sort(kept.begin(), kept.end());
  return kept;
}

inline std::int32_t lastSizeOf(const SearchSpace& space, std::int32_t c, std::int32_t i) {
  return space.compactTables() ? space.compactTable(c).lastSize(i)
                               : space.constraint(c).lastSize(i);
}

// Empty when the space's domains are `expected` and every member keeps exactly its valid tuples.
inline std::string closureMismatch(const SearchSpace& space, const Domains& expected) {
  std::ostringstream why;
  for (std::int32_t x = 0; x < space.varCount(); ++x) {
    for (std::int32_t v = 0; v < space.var(x).initialSize(); ++v) {
      if (space.var(x).contains(v) != expected[x][v]) {
        why << "value " << v << " of variable " << x << " is "
            << (expected[x][v] ? "missing" : "kept") << "; ";
      }
    }
  }
  const CspInstance& instance = space.instance();
  for (std::int32_t c = 0; c < space.constraintCount(); ++c) {
    if (space.compactTables() && !space.compactTable(c).table().audit()) {
      why << "constraint " << c << ": currTable's invariants are broken; ";
    }
    const std::int32_t arity = instance.arity(c);
    const std::int32_t* scope = instance.scope(c);
    for (std::int32_t i = 0; i < arity; ++i) {
      for (std::int32_t v = 0; v < instance.domainSize(scope[i]); ++v) {
        if (!space.var(scope[i]).contains(v)) continue;
        std::vector<std::int32_t> valid;
        for (std::int32_t t = 0; t < instance.tupleCount(c); ++t) {
          const std::int32_t* row = instance.tuples(c) + std::int64_t(t) * arity;
          bool ok = row[i] == v;
          for (std::int32_t j = 0; j < arity && ok; ++j) ok = space.var(scope[j]).contains(row[j]);
          if (ok) valid.push_back(t);
        }
        const std::vector<std::int32_t> kept = keptTuples(space, c, i, v);
        if (kept != valid) {
          why << "constraint " << c << ": value " << v << " at position " << i << " keeps "
              << kept.size() << " tuples, " << valid.size() << " are valid; ";
        }
      }
    }
  }
  return why.str();
}

// Everything a pop restores, with fronts and domains as sorted sets.
struct SpaceCopy {
  std::vector<std::vector<std::int32_t>> domains;
  std::vector<std::vector<std::int32_t>> fronts;  // kept tuples per constraint, position, value
  std::vector<std::int32_t> lastSizes;

  explicit SpaceCopy(const SearchSpace& space) {
    for (std::int32_t x = 0; x < space.varCount(); ++x) {
      std::vector<std::int32_t> members;
      for (std::int32_t k = 0; k < space.var(x).size(); ++k) members.push_back(space.var(x).at(k));
      std::sort(members.begin(), members.end());
      domains.push_back(members);
    }
    const CspInstance& instance = space.instance();
    for (std::int32_t c = 0; c < space.constraintCount(); ++c) {
      for (std::int32_t i = 0; i < instance.arity(c); ++i) {
        lastSizes.push_back(lastSizeOf(space, c, i));
        for (std::int32_t v = 0; v < instance.domainSize(instance.scope(c)[i]); ++v) {
          fronts.push_back(keptTuples(space, c, i, v));
        }
      }
    }
  }
  bool operator==(const SpaceCopy&) const = default;
};

}  // namespace varnel::testing
