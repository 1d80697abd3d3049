// Fuzz target: GAC4RTableCt against a brute-force closure. The input decodes to a small table
// (arity 1-4, up to 16 tuples, values that may pass the announced `upper`) and batches of
// removals, several variables at once or a domain's last value included; after each
// propagation the domains must be the largest arc-consistent ones, every front must hold
// exactly its value's valid tuples, and the constraint's own audit must pass.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "table/closure_oracle.h"
#include "varnel/containers/array.h"
#include "varnel/memory/pooled.h"
#include "varnel/table/gac4r_table_ct.h"
#include "varnel/table/tuple_table.h"

namespace {

using varnel::GAC4RTableCt;
using varnel::TupleTable;
using varnel::testing::ClosureOracle;

void expectMatches(const GAC4RTableCt& ct, const ClosureOracle& closure, int step) {
  const std::string mismatch = closure.mismatch(ct);
  VARNEL_FUZZ_CHECK(mismatch.empty(), "step %d: %s", step, mismatch.c_str());
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
  ClosureOracle closure(*table);
  closure.close();
  expectMatches(*ct, closure, 0);

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
    expectMatches(*ct, closure, step);
  }
  varnel::deletePooled(ct);
  varnel::deletePooled(table);
  return 0;
}
