// Fuzz target: GAC4RTableCt against a brute-force closure. The input decodes to a small table
// (arity 1-4, up to 16 tuples, values that may pass the announced `upper`) and batches of
// removals, several variables at once or a domain's last value included; after each
// propagation the domains must be the largest arc-consistent ones, every front must hold
// exactly its value's valid tuples, and the constraint's own audit must pass.
#include <cstdint>
#include <set>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "varnel/containers/array.h"
#include "varnel/memory/pooled.h"
#include "varnel/table/gac4r_table_ct.h"
#include "varnel/table/tuple_table.h"

namespace {

using varnel::GAC4RTableCt;
using varnel::TupleTable;

// Plain boolean domains; close() removes unsupported values until none is left.
class Closure {
 public:
  explicit Closure(const TupleTable& table) : table_(table) {
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
  void close() {
    for (bool changed = true; changed;) {
      changed = false;
      for (std::int32_t i = 0; i < table_.arity(); ++i) {
        for (std::int32_t v = 0; v < table_.valueCount(i); ++v) {
          if (!domains_[i][v]) continue;
          bool supported = false;
          for (std::int32_t t = 0; t < table_.tupleCount() && !supported; ++t) {
            supported = table_.tuple(t)[i] == v && valid(t);
          }
          if (!supported) {
            domains_[i][v] = false;
            changed = true;
          }
        }
      }
    }
  }

 private:
  const TupleTable& table_;
  std::vector<std::vector<bool>> domains_;
};

void expectMatches(const GAC4RTableCt& ct, const Closure& closure, const TupleTable& table,
                   int step) {
  VARNEL_FUZZ_CHECK(ct.pendingVariables().size() == 0, "step %d: variables still pending", step);
  for (std::int32_t i = 0; i < table.arity(); ++i) {
    VARNEL_FUZZ_CHECK(ct.delta(i).size() == 0, "step %d: removals of variable %d still pending",
                      step, i);
    for (std::int32_t v = 0; v < table.valueCount(i); ++v) {
      VARNEL_FUZZ_CHECK(ct.domain(i).contains(v) == closure.has(i, v),
                        "step %d: value %d of variable %d is %s the domain", step, v, i,
                        closure.has(i, v) ? "missing from" : "wrongly in");
    }
    for (const std::int32_t v : ct.domain(i)) {
      std::multiset<std::int32_t> expected;
      for (std::int32_t t = 0; t < table.tupleCount(); ++t) {
        if (table.tuple(t)[i] == v && closure.valid(t)) expected.insert(t);
      }
      const varnel::SupportBucket& b = *ct.supports(i).buckets[v];
      const std::multiset<std::int32_t> front(b.items, b.items + b.count);
      VARNEL_FUZZ_CHECK(front == expected,
                        "step %d: front of value %d of variable %d holds %d tuples, %zu valid",
                        step, v, i, b.count, expected.size());
    }
  }
  const std::string audit = ct.audit();
  VARNEL_FUZZ_CHECK(audit.empty(), "step %d: audit: %s", step, audit.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  varnel::fuzz::ByteReader in(data, size);
  const std::int32_t arity = in.between(1, 4);
  const std::int32_t upper = in.between(1, 4);
  const std::int32_t numTuples = in.between(1, 16);
  // Up to upper + 2 distinct raw values per column, so a column may outgrow its announced size;
  // raw values are spread out so that they also collide in the columns' value index.
  auto* table = varnel::newPooled<TupleTable>(arity, numTuples, upper);
  varnel::Array<std::int64_t> row(arity);
  for (std::int32_t t = 0; t < numTuples; ++t) {
    for (std::int32_t i = 0; i < arity; ++i) row[i] = std::int64_t(in.below(upper + 2)) * 64 - 3;
    table->addTuple(row);
  }

  auto* ct = varnel::newPooled<GAC4RTableCt>(*table);
  ct->initSupports();
  ct->pruneUnsupported();
  Closure closure(*table);
  closure.close();
  expectMatches(*ct, closure, *table, 0);

  for (int step = 1; in.more() && step <= 64; ++step) {
    const std::int32_t removals = in.between(1, 2 * arity);
    for (std::int32_t r = 0; r < removals; ++r) {
      const std::int32_t i = static_cast<std::int32_t>(in.below(static_cast<std::uint32_t>(arity)));
      const std::int32_t v =
          static_cast<std::int32_t>(in.below(static_cast<std::uint32_t>(table->valueCount(i))));
      if (!ct->domain(i).contains(v)) {
        // An absent value must leave the pending state as it was.
        const std::int32_t pending = ct->pendingVariables().size();
        const std::int32_t delta = ct->delta(i).size();
        ct->removeValue(i, v);
        VARNEL_FUZZ_CHECK(ct->pendingVariables().size() == pending && ct->delta(i).size() == delta,
                          "step %d: removing absent value %d of variable %d recorded something",
                          step, v, i);
        continue;
      }
      ct->removeValue(i, v);
      closure.remove(i, v);
    }
    ct->propagate();
    closure.close();
    expectMatches(*ct, closure, *table, step);
  }
  varnel::deletePooled(ct);
  varnel::deletePooled(table);
  return 0;
}
