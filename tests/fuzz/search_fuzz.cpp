// Fuzz target: search with restoration points over reversible table constraints. The input
// decodes to a small instance (up to 6 variables, up to 6 tables of arity 1 to 3, any tuples)
// and a walk of pushes with a decision (x = v or x != v) and pops. After every propagation the
// domains must be the closure computed from scratch and every front must hold exactly its valid
// tuples; after every pop the space must equal the copy taken at the matching push. The walk runs
// twice from the same bytes, once with GAC-4R and once with Compact-Table.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "search/search_oracle.h"
#include "varnel/memory/pooled.h"

using namespace varnel;

namespace {

// Pushes, decisions, propagations and pops decoded from `in`, each checked against the oracle.
void walk(const CspInstance& instance, const InstanceSupportMasks* masks, fuzz::ByteReader& in,
          std::int32_t n) {
  Solver* solver = newPooled<Solver>();
  auto* space = newPooled<SearchSpace>(*solver, instance, masks);
  std::vector<testing::Decision> decisions;
  std::vector<testing::SpaceCopy> copies;
  bool consistent = space->post();
  for (int step = 0; step < 200; ++step) {
    testing::Domains expected;
    VARNEL_FUZZ_CHECK(consistent == testing::closure(instance, decisions, &expected),
                      "step %d: propagation says %d about failure", step, consistent);
    if (consistent) {
      const std::string why = testing::closureMismatch(*space, expected);
      VARNEL_FUZZ_CHECK(why.empty(), "step %d: %s", step, why.c_str());
    }
    const std::int32_t x = in.between(0, n - 1);
    const bool branch = consistent && in.more() && in.below(3) != 0 && space->var(x).size() > 1;
    if (branch) {
      const testing::Decision d{x, space->var(x).at(in.between(0, space->var(x).size() - 1)),
                                in.below(2) == 0};
      copies.emplace_back(*space);
      solver->pushRestorationPoint();
      decisions.push_back(d);
      d.assign ? space->assign(d.var, d.value) : space->removeValue(d.var, d.value);
      consistent = space->propagate();
    } else if (!copies.empty()) {
      solver->popRestorationPoint();
      decisions.pop_back();
      VARNEL_FUZZ_CHECK(testing::SpaceCopy(*space) == copies.back(),
                        "step %d: the pop to depth %zu did not restore the push", step,
                        decisions.size());
      copies.pop_back();
      consistent = true;
    } else if (!in.more()) {
      break;
    }
  }
  solver->popAllRestorationPoints();
  deletePooled(space);
  deletePooled(solver);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader in(data, size);
  const std::int32_t n = in.between(1, 6);
  auto* instance = newPooled<CspInstance>(n);
  const std::int64_t values[] = {0, 1, 2, 3, 4};
  for (std::int32_t x = 0; x < n; ++x) instance->setDomain(x, values, in.between(1, 5));
  const std::int32_t m = in.between(0, 6);
  for (std::int32_t c = 0; c < m; ++c) {
    const std::int32_t arity = in.between(1, std::min(3, n));
    std::vector<std::int32_t> free(n), scope;
    for (std::int32_t x = 0; x < n; ++x) free[x] = x;
    while (static_cast<std::int32_t>(scope.size()) < arity) {
      const std::int32_t k = in.between(0, static_cast<std::int32_t>(free.size()) - 1);
      scope.push_back(free[k]);
      free.erase(free.begin() + k);
    }
    const std::int32_t tuples = in.between(0, 30);
    std::vector<std::int32_t> rows;
    for (std::int32_t t = 0; t < tuples * arity; ++t) {
      rows.push_back(in.between(0, instance->domainSize(scope[t % arity]) - 1));
    }
    instance->addConstraint(scope.data(), arity, rows.data(), tuples);
  }

  const fuzz::ByteReader walkStart = in;
  for (const testing::Propagator propagator :
       {testing::Propagator::kGac4r, testing::Propagator::kCompactTable}) {
    in = walkStart;
    const testing::MasksFor masks(*instance, propagator);
    walk(*instance, masks.get(), in, n);
  }
  deletePooled(instance);
  return 0;
}
