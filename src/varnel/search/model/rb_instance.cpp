// Model RB generation: scopes by a partial Fisher-Yates shuffle of the variables, tables by a
// partial shuffle of the d^k tuple codes, every draw from nextRandom.
#include "varnel/search/model/rb_instance.h"

#include <algorithm>
#include <cmath>

#include "varnel/memory/arrays.h"
#include "varnel/memory/pooled.h"
#include "varnel/table/next_random.h"

namespace varnel {
namespace {

// A number in 0 .. bound-1 (bound <= 2^30), from one draw when bound fits in 15 bits.
std::int32_t randomBelow(std::int32_t bound) {
  if (bound <= 32768) return nextRandom() % bound;
  const std::int32_t r = (nextRandom() << 15) | nextRandom();
  return r % bound;
}

std::int64_t span(std::int32_t domain, std::int32_t arity) {
  std::int64_t s = 1;
  for (std::int32_t i = 0; i < arity; ++i) {
    s *= domain;
    if (s > kLargestTableSpan) return kLargestTableSpan + 1;
  }
  return s;
}

}  // namespace

std::string rbParameterProblem(const RbParameters& p) {
  if (p.vars < 1) return "the number of variables must be at least 1";
  if (p.domain < 1) return "the domain size must be at least 1";
  if (p.arity < 1 || p.arity > p.vars) {
    return "the arity must be between 1 and the number of variables";
  }
  if (p.constraints < 0) return "the number of constraints must not be negative";
  if (!(p.tightness >= 0 && p.tightness <= 1)) return "the tightness must be between 0 and 1";
  if (span(p.domain, p.arity) > kLargestTableSpan) {
    return "domain^arity must be at most 16777216";
  }
  return std::string();
}

std::int64_t rbTupleCount(const RbParameters& p) {
  const std::int64_t count =
      std::llround((1.0 - p.tightness) * static_cast<double>(span(p.domain, p.arity)));
  return p.planted && count == 0 ? 1 : count;
}

CspInstance* generateRbInstance(const RbParameters& p, std::int32_t* hidden) {
  detail::randomState = p.seed;
  // The hidden assignment comes first, so that the scopes are drawn as without it.
  auto* planted =
      p.planted ? allocateArray<std::int32_t>(static_cast<std::uint64_t>(p.vars)) : nullptr;
  for (std::int32_t x = 0; planted != nullptr && x < p.vars; ++x) {
    planted[x] = randomBelow(p.domain);
    if (hidden != nullptr) hidden[x] = planted[x];
  }
  auto* instance = newPooled<CspInstance>(p.vars);
  auto* values = allocateArray<std::int64_t>(static_cast<std::uint64_t>(p.domain));
  for (std::int32_t v = 0; v < p.domain; ++v) values[v] = v;
  for (std::int32_t x = 0; x < p.vars; ++x) instance->setDomain(x, values, p.domain);
  freeArray(values, static_cast<std::uint64_t>(p.domain));

  const auto codes = static_cast<std::int32_t>(span(p.domain, p.arity));
  const auto tuples = static_cast<std::int32_t>(rbTupleCount(p));
  auto* order = allocateArray<std::int32_t>(static_cast<std::uint64_t>(p.vars));
  auto* code = allocateArray<std::int32_t>(static_cast<std::uint64_t>(codes));
  auto* rows = allocateArray<std::int32_t>(std::uint64_t(tuples) * std::uint64_t(p.arity));
  for (std::int32_t c = 0; c < p.constraints; ++c) {
    // k distinct variables: the first k places of a partial shuffle, kept in increasing order.
    for (std::int32_t x = 0; x < p.vars; ++x) order[x] = x;
    for (std::int32_t i = 0; i < p.arity; ++i) {
      std::swap(order[i], order[i + randomBelow(p.vars - i)]);
    }
    std::sort(order, order + p.arity);
    // `tuples` distinct codes out of d^k, then decoded in increasing order, the first position
    // the most significant digit.
    for (std::int32_t t = 0; t < codes; ++t) code[t] = t;
    std::int32_t first = 0;
    if (planted != nullptr) {
      // The hidden assignment's tuple is kept first; the others are drawn from the rest.
      std::int32_t kept = 0;
      for (std::int32_t i = 0; i < p.arity; ++i) kept = kept * p.domain + planted[order[i]];
      std::swap(code[0], code[kept]);
      first = 1;
    }
    for (std::int32_t t = first; t < tuples; ++t) {
      std::swap(code[t], code[t + randomBelow(codes - t)]);
    }
    std::sort(code, code + tuples);
    for (std::int32_t t = 0; t < tuples; ++t) {
      std::int32_t rest = code[t];
      for (std::int32_t i = p.arity - 1; i >= 0; --i) {
        rows[std::int64_t(t) * p.arity + i] = rest % p.domain;
        rest /= p.domain;
      }
    }
    instance->addConstraint(order, p.arity, rows, tuples);
  }
  freeArray(rows, std::uint64_t(tuples) * std::uint64_t(p.arity));
  freeArray(code, static_cast<std::uint64_t>(codes));
  freeArray(order, static_cast<std::uint64_t>(p.vars));
  if (planted != nullptr) freeArray(planted, static_cast<std::uint64_t>(p.vars));
  return instance;
}

CspInstance* instanceFromTable(const TupleTable& table) {
  const std::int32_t arity = table.arity();
  const std::int32_t numTuples = table.tupleCount();
  auto* instance = newPooled<CspInstance>(arity);
  // rank[i][v]: the place of column i's value index v among its values in increasing order.
  auto* scope = allocateArray<std::int32_t>(static_cast<std::uint64_t>(arity));
  auto* rows = allocateArray<std::int32_t>(std::uint64_t(arity) * std::uint64_t(numTuples));
  for (std::int32_t i = 0; i < arity; ++i) {
    scope[i] = i;
    const TableColumn& column = table.column(i);
    const std::int32_t d = column.valueCount();
    auto* sorted = allocateArray<std::int64_t>(static_cast<std::uint64_t>(d));
    auto* rank = allocateArray<std::int32_t>(static_cast<std::uint64_t>(d));
    for (std::int32_t v = 0; v < d; ++v) sorted[v] = column.value(v);
    std::sort(sorted, sorted + d);
    for (std::int32_t v = 0; v < d; ++v) {
      rank[v] =
          static_cast<std::int32_t>(std::lower_bound(sorted, sorted + d, column.value(v)) - sorted);
    }
    instance->setDomain(i, sorted, d);
    for (std::int32_t t = 0; t < numTuples; ++t) {
      rows[std::int64_t(t) * arity + i] = rank[table.tuple(t)[i]];
    }
    freeArray(rank, static_cast<std::uint64_t>(d));
    freeArray(sorted, static_cast<std::uint64_t>(d));
  }
  instance->addConstraint(scope, arity, rows, numTuples);
  freeArray(rows, std::uint64_t(arity) * std::uint64_t(numTuples));
  freeArray(scope, static_cast<std::uint64_t>(arity));
  return instance;
}

}  // namespace varnel
