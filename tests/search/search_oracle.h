// Brute-force model of a search space for the tests and the fuzz target: the generalised-arc-
// consistent closure of an instance under a list of decisions, computed from scratch, and a
// plain copy of everything a pop must restore (domains, the valid tuples each constraint keeps
// per value: GAC-4R's bucket fronts or Compact-Table's currTable under each support mask, as
// sets; the sizes each constraint last saw). Both propagators are checked by the same code, and
// so are conflicts tables, short tuples and allDifferent (forward checking or matching).
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
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

// The propagators a space can run, for parameterized tests: the two table propagators on
// positive tables, and Compact-Table on instances that also hold conflicts tables, short tuples
// and allDifferent (see mixedInstance), with each allDifferent level.
enum class Propagator { kGac4r, kCompactTable, kMixedForward, kMixedMatching };

inline const char* propagatorName(Propagator p) {
  const char* names[] = {"Gac4r", "CompactTable", "MixedForwardChecking", "MixedMatching"};
  return names[static_cast<int>(p)];
}
inline AllDifferentLevel levelOf(Propagator p) {
  return p == Propagator::kMixedMatching ? AllDifferentLevel::kMatching
                                         : AllDifferentLevel::kForwardChecking;
}

// `base` (positive tables over domains 0 .. d-1) made into an instance of every kind: odd
// variables' values shifted by one (allDifferent compares values, not indices), every third
// table told by its forbidden tuples, every third with some entries starred, and two
// allDifferent: one list of three variables, and two of lists, one naming a variable in both
// lists at one place.
inline CspInstance* mixedInstance(const CspInstance& base, std::uint32_t seed) {
  std::mt19937 random(seed);
  const std::int32_t n = base.varCount();
  auto* mixed = newPooled<CspInstance>(n);
  for (std::int32_t x = 0; x < n; ++x) {
    std::vector<std::int64_t> values(base.values(x), base.values(x) + base.domainSize(x));
    for (auto& v : values) v += x % 2;
    mixed->setDomain(x, values.data(), base.domainSize(x));
  }
  for (std::int32_t c = 0; c < base.constraintCount(); ++c) {
    const std::int32_t arity = base.arity(c);
    std::vector<std::int32_t> rows(base.tuples(c),
                                   base.tuples(c) + std::int64_t(arity) * base.tupleCount(c));
    if (c % 3 == 1) {
      for (auto& v : rows) v = random() % 6 == 0 ? kStar : v;
    }
    if (c % 3 == 0) {
      // The same constraint told by its forbidden tuples, one of them also starred (it overlaps
      // others, which counting must see once).
      std::vector<std::int32_t> forbidden, t(static_cast<std::size_t>(arity), 0);
      const std::int32_t d = base.domainSize(base.scope(c)[0]);
      for (std::int32_t i = 0; i >= 0;) {
        bool allowed = false;
        for (std::size_t r = 0; r < rows.size() && !allowed; r += arity) {
          allowed = std::equal(t.begin(), t.end(), rows.begin() + static_cast<std::ptrdiff_t>(r));
        }
        if (!allowed) forbidden.insert(forbidden.end(), t.begin(), t.end());
        for (i = arity - 1; i >= 0 && ++t[i] == d; --i) t[i] = 0;
      }
      if (!forbidden.empty()) {
        forbidden.insert(forbidden.end(), forbidden.begin(), forbidden.begin() + arity);
        forbidden[forbidden.size() - static_cast<std::size_t>(arity)] = kStar;
      }
      rows = forbidden;
    }
    mixed->addTable(c % 3 == 0 ? ConstraintKind::kConflicts : ConstraintKind::kSupports,
                    base.scope(c), arity, rows.data(),
                    static_cast<std::int32_t>(rows.size()) / arity);
  }
  std::vector<std::int32_t> order(static_cast<std::size_t>(n));
  for (std::int32_t x = 0; x < n; ++x) order[x] = x;
  std::shuffle(order.begin(), order.end(), random);
  mixed->addAllDifferent(order.data(), 3, 1);
  // [x3 x4] != [x0 x3], and [x1 x2] != [x1 x4], lists naming one variable at one place.
  const std::int32_t lists[] = {order[3], order[4], order[0], order[3]};
  mixed->addAllDifferent(lists, 2, 2);
  const std::int32_t sharing[] = {order[1], order[2], order[1], order[4]};
  mixed->addAllDifferent(sharing, 2, 2);
  return mixed;
}

// The support masks of an instance when the propagator needs them (null otherwise), released
// at the end of the scope.
class MasksFor {
 public:
  MasksFor(const CspInstance& instance, Propagator p)
      : masks_(p != Propagator::kGac4r ? newPooled<InstanceSupportMasks>(instance) : nullptr) {}
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
  if (!space.instance().isTable(c)) return 0;
  return space.compactTables() ? space.compactTable(c).resetCount()
                               : space.constraint(c).resetCount();
}

// True when some assignment of c's scope within `d`, with position i at value index v, is
// allowed by c: every combination tried. Precondition: c's scope names each variable once.
inline bool supportedSomehow(const CspInstance& instance, std::int32_t c, const Domains& d,
                             std::int32_t i, std::int32_t v) {
  const std::int32_t arity = instance.arity(c);
  const std::int32_t* scope = instance.scope(c);
  std::vector<std::int32_t> at(static_cast<std::size_t>(arity), 0);
  std::vector<std::int64_t> values(static_cast<std::size_t>(instance.varCount()), 0);
  at[i] = v;
  while (true) {
    bool inside = true;
    for (std::int32_t j = 0; j < arity && inside; ++j) {
      inside = d[scope[j]][at[j]];
      values[scope[j]] = instance.value(scope[j], at[j]);
    }
    if (inside && instance.allows(c, values.data())) return true;
    std::int32_t j = 0;
    for (; j < arity; ++j) {
      if (j == i) continue;
      if (++at[j] < instance.domainSize(scope[j])) break;
      at[j] = 0;
    }
    if (j == arity) return false;
  }
}

// allDifferent c by forward checking (one list) or by lists fixed but for one position, as
// AllDifferentRev filters. False when two lists are fixed and equal.
inline bool forwardCheck(const CspInstance& instance, std::int32_t c, Domains& d, bool* changed) {
  const std::int32_t* scope = instance.scope(c);
  const std::int32_t length = instance.listCount(c) == 1 ? 1 : instance.listLength(c);
  const std::int32_t lists = instance.arity(c) / length;
  auto single = [&](std::int32_t p) {
    return std::count(d[scope[p]].begin(), d[scope[p]].end(), true) == 1;
  };
  auto valueOf = [&](std::int32_t p) {
    const auto k = std::find(d[scope[p]].begin(), d[scope[p]].end(), true) - d[scope[p]].begin();
    return instance.value(scope[p], static_cast<std::int32_t>(k));
  };
  auto take = [&](std::int32_t p, std::int64_t value) {
    for (std::int32_t k = 0; k < instance.domainSize(scope[p]); ++k) {
      if (d[scope[p]][k] && instance.value(scope[p], k) == value) {
        d[scope[p]][k] = false;
        *changed = true;
      }
    }
  };
  for (std::int32_t a = 0; a < lists; ++a) {
    for (std::int32_t b = a + 1; b < lists; ++b) {
      std::vector<std::int32_t> open;
      bool differ = false;
      for (std::int32_t i = 0; i < length; ++i) {
        const std::int32_t pa = a * length + i, pb = b * length + i;
        if (scope[pa] == scope[pb]) continue;
        if (single(pa) && single(pb)) {
          differ = differ || valueOf(pa) != valueOf(pb);
        } else {
          open.push_back(i);
        }
      }
      if (differ || open.size() > 1) continue;
      if (open.empty()) return false;
      const std::int32_t pa = a * length + open[0], pb = b * length + open[0];
      if (single(pa))
        take(pb, valueOf(pa));
      else if (single(pb))
        take(pa, valueOf(pb));
    }
  }
  return true;
}

// The closure of the root domains under `decisions`; false when a domain becomes empty. Tables
// and allDifferent at the matching level are generalised-arc-consistent; the other allDifferent
// follow forwardCheck.
inline bool closure(const CspInstance& instance, const std::vector<Decision>& decisions,
                    Domains* domains,
                    AllDifferentLevel level = AllDifferentLevel::kForwardChecking) {
  Domains& d = *domains;
  d.assign(instance.varCount(), {});
  for (std::int32_t x = 0; x < instance.varCount(); ++x) d[x].assign(instance.domainSize(x), true);
  for (const Decision& k : decisions) {
    for (std::int32_t v = 0; v < instance.domainSize(k.var); ++v) {
      if ((v == k.value) != k.assign) d[k.var][v] = false;
    }
  }
  auto wipedOut = [&] {
    for (const auto& values : d) {
      if (std::find(values.begin(), values.end(), true) == values.end()) return true;
    }
    return false;
  };
  for (bool changed = true; changed && !wipedOut();) {
    changed = false;
    for (std::int32_t c = 0; c < instance.constraintCount(); ++c) {
      const std::int32_t arity = instance.arity(c);
      const std::int32_t* scope = instance.scope(c);
      if (!instance.isTable(c) && (level == AllDifferentLevel::kForwardChecking ||
                                   (instance.listCount(c) > 1 && instance.listLength(c) > 1))) {
        if (!forwardCheck(instance, c, d, &changed)) return false;
        continue;
      }
      if (!instance.isTable(c) || instance.kind(c) == ConstraintKind::kConflicts) {
        for (std::int32_t i = 0; i < arity; ++i) {
          for (std::int32_t v = 0; v < instance.domainSize(scope[i]); ++v) {
            if (d[scope[i]][v] && !supportedSomehow(instance, c, d, i, v)) {
              d[scope[i]][v] = false;
              changed = true;
            }
          }
        }
        continue;
      }
      Domains supported(arity);
      for (std::int32_t i = 0; i < arity; ++i) supported[i].assign(d[scope[i]].size(), false);
      for (std::int32_t t = 0; t < instance.tupleCount(c); ++t) {
        const std::int32_t* row = instance.tuples(c) + std::int64_t(t) * arity;
        bool valid = true;
        for (std::int32_t i = 0; i < arity && valid; ++i)
          valid = row[i] == kStar || d[scope[i]][row[i]];
        for (std::int32_t i = 0; i < arity && valid; ++i) {
          if (row[i] != kStar)
            supported[i][row[i]] = true;
          else
            std::fill(supported[i].begin(), supported[i].end(), true);
        }
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
  return !wipedOut();
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
  if (!space.instance().isTable(c)) return space.allDifferent(c).doneCount();
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
    if (!instance.isTable(c)) continue;
    if (space.compactTables() && !space.compactTable(c).table().audit()) {
      why << "constraint " << c << ": currTable's invariants are broken; ";
    }
    // A conflicts table's masks number its distinct expanded tuples, not the instance's rows.
    if (instance.kind(c) == ConstraintKind::kConflicts) continue;
    const std::int32_t arity = instance.arity(c);
    const std::int32_t* scope = instance.scope(c);
    for (std::int32_t i = 0; i < arity; ++i) {
      for (std::int32_t v = 0; v < instance.domainSize(scope[i]); ++v) {
        if (!space.var(scope[i]).contains(v)) continue;
        std::vector<std::int32_t> valid;
        for (std::int32_t t = 0; t < instance.tupleCount(c); ++t) {
          const std::int32_t* row = instance.tuples(c) + std::int64_t(t) * arity;
          bool ok = row[i] == v || row[i] == kStar;
          for (std::int32_t j = 0; j < arity && ok; ++j) {
            ok = row[j] == kStar || space.var(scope[j]).contains(row[j]);
          }
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
      if (!instance.isTable(c)) {
        lastSizes.push_back(lastSizeOf(space, c, 0));
        continue;
      }
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
