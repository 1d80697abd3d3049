// Brute-force model of GAC4RTableCt for the tests and the fuzz target: plain boolean domains,
// the generalised-arc-consistent closure by fixpoint iteration, and a comparison with a
// constraint's domains and bucket fronts.
#pragma once

#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "varnel/table/gac4r_table_ct.h"
#include "varnel/table/tuple_table.h"

namespace varnel::testing {

// The front of bucket v of variable i: the tuples that still support the value.
inline std::vector<std::int32_t> front(const GAC4RTableCt& ct, std::int32_t i, std::int32_t v) {
  const SupportBucket& b = *ct.supports(i).buckets[v];
  return std::vector<std::int32_t>(b.items, b.items + b.count);
}

// Plain boolean domains and the closure by fixpoint iteration.
class ClosureOracle {
 public:
  explicit ClosureOracle(const TupleTable& table) : table_(table) {
    for (std::int32_t i = 0; i < table.arity(); ++i) {
      domains_.emplace_back(static_cast<std::size_t>(table.valueCount(i)), true);
    }
  }
  void remove(std::int32_t i, std::int32_t v) { domains_[i][v] = false; }
  bool has(std::int32_t i, std::int32_t v) const { return domains_[i][v]; }
  bool valid(std::int32_t t) const {
    for (std::int32_t i = 0; i < table_.arity(); ++i) {
      if (!domains_[i][table_.tuple(t)[i]]) return false;
    }
    return true;
  }
  // Removes unsupported values until every remaining value has a valid tuple.
  void close() {
    for (bool changed = true; changed;) {
      changed = false;
      std::vector<std::vector<bool>> supported;
      for (const auto& d : domains_) supported.emplace_back(d.size(), false);
      for (std::int32_t t = 0; t < table_.tupleCount(); ++t) {
        if (!valid(t)) continue;
        for (std::int32_t i = 0; i < table_.arity(); ++i) supported[i][table_.tuple(t)[i]] = true;
      }
      for (std::size_t i = 0; i < domains_.size(); ++i) {
        for (std::size_t v = 0; v < domains_[i].size(); ++v) {
          if (domains_[i][v] && !supported[i][v]) {
            domains_[i][v] = false;
            changed = true;
          }
        }
      }
    }
  }
  // Empty when the constraint matches the model: same domains, nothing pending, and each
  // remaining value's front holding exactly its valid tuples.
  std::string mismatch(const GAC4RTableCt& ct) const {
    std::ostringstream why;
    if (ct.pendingVariables().size() != 0) why << "variables still pending; ";
    for (std::int32_t i = 0; i < table_.arity(); ++i) {
      if (ct.delta(i).size() != 0) why << "removals of variable " << i << " still pending; ";
      for (std::int32_t v = 0; v < table_.valueCount(i); ++v) {
        if (ct.domain(i).contains(v) != has(i, v)) {
          why << "value " << v << " of variable " << i << " is "
              << (has(i, v) ? "missing from" : "still in") << " the domain; ";
        }
      }
      for (const std::int32_t v : ct.domain(i)) {
        std::multiset<std::int32_t> expected;
        for (std::int32_t t = 0; t < table_.tupleCount(); ++t) {
          if (table_.tuple(t)[i] == v && valid(t)) expected.insert(t);
        }
        const std::vector<std::int32_t> got = front(ct, i, v);
        if (std::multiset<std::int32_t>(got.begin(), got.end()) != expected) {
          why << "front of value " << v << " of variable " << i << " has " << got.size()
              << " tuples, " << expected.size() << " are valid; ";
        }
      }
    }
    return why.str();
  }

 private:
  const TupleTable& table_;
  std::vector<std::vector<bool>> domains_;
};

}  // namespace varnel::testing
