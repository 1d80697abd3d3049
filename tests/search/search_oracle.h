// Brute-force model of a search space for the tests and the fuzz target: the generalised-arc-
// consistent closure of an instance under a list of decisions, computed from scratch, and a
// plain copy of everything a pop must restore (domains, bucket fronts as sets, counts, the
// sizes each constraint last saw).
#pragma once

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "varnel/search/search_space.h"

namespace varnel::testing {

struct Decision {
  std::int32_t var;
  std::int32_t value;
  bool assign;  // x = value; otherwise x != value
};

using Domains = std::vector<std::vector<bool>>;

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

// Empty when the space's domains are `expected` and every member's front holds exactly its valid
// tuples.
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
  for (std::int32_t c = 0; c < space.constraintCount(); ++c) {
    const TableCtRev& ct = space.constraint(c);
    for (std::int32_t i = 0; i < ct.arity(); ++i) {
      for (std::int32_t v = 0; v < ct.var(i).initialSize(); ++v) {
        if (!ct.var(i).contains(v)) continue;
        std::vector<std::int32_t> valid;
        for (std::int32_t t = 0; t < ct.tupleCount(); ++t) {
          bool ok = ct.valueOf(i, t) == v;
          for (std::int32_t j = 0; j < ct.arity() && ok; ++j)
            ok = ct.var(j).contains(ct.valueOf(j, t));
          if (ok) valid.push_back(t);
        }
        std::vector<std::int32_t> front(ct.front(i, v), ct.front(i, v) + ct.count(i, v));
        std::sort(front.begin(), front.end());
        if (front != valid) {
          why << "constraint " << c << ": front of value " << v << " at position " << i << " has "
              << front.size() << " tuples, " << valid.size() << " are valid; ";
        }
      }
    }
  }
  return why.str();
}

// Everything a pop restores, with fronts and domains as sorted sets.
struct SpaceCopy {
  std::vector<std::vector<std::int32_t>> domains;
  std::vector<std::vector<std::int32_t>> fronts;  // per constraint, position and value
  std::vector<std::int32_t> lastSizes;

  explicit SpaceCopy(const SearchSpace& space) {
    for (std::int32_t x = 0; x < space.varCount(); ++x) {
      std::vector<std::int32_t> members;
      for (std::int32_t k = 0; k < space.var(x).size(); ++k) members.push_back(space.var(x).at(k));
      std::sort(members.begin(), members.end());
      domains.push_back(members);
    }
    for (std::int32_t c = 0; c < space.constraintCount(); ++c) {
      const TableCtRev& ct = space.constraint(c);
      for (std::int32_t i = 0; i < ct.arity(); ++i) {
        lastSizes.push_back(ct.lastSize(i));
        for (std::int32_t v = 0; v < ct.var(i).initialSize(); ++v) {
          std::vector<std::int32_t> front(ct.front(i, v), ct.front(i, v) + ct.count(i, v));
          std::sort(front.begin(), front.end());
          fronts.push_back(front);
        }
      }
    }
  }
  bool operator==(const SpaceCopy&) const = default;
};

}  // namespace varnel::testing
