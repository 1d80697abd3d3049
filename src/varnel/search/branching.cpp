// Variable and value selection, the constraints' weights and the restart sequence.
#include "varnel/search/branching.h"

#include <cmath>

#include "varnel/memory/arrays.h"

namespace varnel {

std::uint64_t lubyTerm(std::uint64_t i) {
  VARNEL_ASSERT(i >= 1);
  // With 2^k - 1 the first index of the form at or above i: i = 2^k - 1 gives 2^(k-1), otherwise
  // the sequence repeats from its start: the term of i - (2^(k-1) - 1).
  while (true) {
    std::uint64_t k = 1;
    while ((std::uint64_t(1) << k) - 1 < i) ++k;
    if ((std::uint64_t(1) << k) - 1 == i) return std::uint64_t(1) << (k - 1);
    i -= (std::uint64_t(1) << (k - 1)) - 1;
  }
}

std::uint64_t restartCutoff(const BranchingOptions& options, std::uint64_t restarts) {
  const std::uint64_t base = options.restartBase > 0 ? options.restartBase : 1;
  if (options.restarts == RestartPolicy::kLuby) {
    const std::uint64_t term = lubyTerm(restarts + 1);
    return term > UINT64_MAX / base ? UINT64_MAX : base * term;
  }
  const double cutoff = static_cast<double>(base) * std::pow(1.5, static_cast<double>(restarts));
  return cutoff >= 1.8e19 ? UINT64_MAX : static_cast<std::uint64_t>(cutoff);
}

Branching::Branching(const BranchingOptions& options, const SearchSpace& space)
    : options_(options),
      varCount_(space.varCount()),
      constraintCount_(space.constraintCount()),
      weights_(allocateArray<double>(static_cast<std::uint64_t>(constraintCount_))),
      degree_(allocateArray<double>(static_cast<std::uint64_t>(varCount_))),
      conflicts_(options.lastConflict > 0
                     ? allocateArray<std::int32_t>(static_cast<std::uint64_t>(options.lastConflict))
                     : nullptr),
      conflictCount_(0),
      random_(options.seed) {
  for (std::int32_t c = 0; c < constraintCount_; ++c) weights_[c] = 1;
}

Branching::~Branching() {
  if (conflicts_ != nullptr) {
    freeArray(conflicts_, static_cast<std::uint64_t>(options_.lastConflict));
  }
  freeArray(degree_, static_cast<std::uint64_t>(varCount_));
  freeArray(weights_, static_cast<std::uint64_t>(constraintCount_));
}

std::uint64_t Branching::draw(std::uint64_t bound) {
  random_ += 0x9e3779b97f4a7c15ULL;
  std::uint64_t z = random_;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return (z ^ (z >> 31)) % bound;
}

std::int32_t Branching::selectVariable(const SearchSpace& space) {
  // Last-conflict reasoning (Lecoutre, Sais, Tabary, Vidal, AIJ 2009): a variable whose
  // decision led to a failure is branched on first while it is unassigned, so that the search
  // goes back to the culprit of a conflict instead of thrashing below it.
  for (std::int32_t k = conflictCount_ - 1; k >= 0; --k) {
    if (space.var(conflicts_[k]).size() > 1) return conflicts_[k];
  }
  switch (options_.variables) {
    case VariableOrder::kDom:
      return options_.randomTies ? selectSmallestDomain(space) : space.selectVariable();
    case VariableOrder::kDomWdeg:
    case VariableOrder::kDomDdeg:
      return selectByDegree(space);
    case VariableOrder::kLex:
      return selectLowestIndex(space);
  }
  return -1;
}

std::int32_t Branching::selectSmallestDomain(const SearchSpace& space) {
  std::int32_t best = -1;
  std::int32_t bestSize = INT32_MAX;
  std::uint64_t ties = 0;
  for (std::int32_t x = 0; x < varCount_; ++x) {
    const std::int32_t size = space.var(x).size();
    if (size <= 1 || size > bestSize) continue;
    if (size < bestSize) {
      best = x;
      bestSize = size;
      ties = 1;
    } else if (takeTie(++ties)) {
      best = x;
    }
  }
  return best;
}

std::int32_t Branching::selectLowestIndex(const SearchSpace& space) const {
  for (std::int32_t x = 0; x < varCount_; ++x) {
    if (space.var(x).size() > 1) return x;
  }
  return -1;
}

std::int32_t Branching::selectByDegree(const SearchSpace& space) {
  // A constraint counts for its unassigned variables while it has two or more of them: then
  // each has another unassigned variable in it. One pass over the scopes gives every degree.
  const CspInstance& instance = space.instance();
  for (std::int32_t x = 0; x < varCount_; ++x) degree_[x] = 0;
  for (std::int32_t c = 0; c < constraintCount_; ++c) {
    const std::int32_t* scope = instance.scope(c);
    const std::int32_t arity = instance.arity(c);
    std::int32_t open = 0;
    for (std::int32_t i = 0; i < arity && open < 2; ++i) open += space.var(scope[i]).size() > 1;
    if (open < 2) continue;
    const double w = weights_[c];
    for (std::int32_t i = 0; i < arity; ++i) {
      if (space.var(scope[i]).size() > 1) degree_[scope[i]] += w;
    }
  }
  // The largest degree / size is the smallest size / degree; a variable of degree 0 comes last.
  // Equal fractions divide to equal doubles (division rounds correctly), so ties are exact.
  std::int32_t best = -1;
  double bestScore = -1;
  std::uint64_t ties = 0;
  for (std::int32_t x = 0; x < varCount_; ++x) {
    const std::int32_t size = space.var(x).size();
    if (size <= 1) continue;
    const double score = degree_[x] / size;
    if (score > bestScore) {
      best = x;
      bestScore = score;
      ties = 1;
    } else if (score == bestScore && takeTie(++ties)) {
      best = x;
    }
  }
  return best;
}

std::int32_t Branching::selectValue(const SearchSpace& space, std::int32_t x) {
  const IntVar& var = space.var(x);
  VARNEL_ASSERT(var.size() > 1);
  switch (options_.values) {
    case ValueOrder::kMin:
      return var.minValue();
    case ValueOrder::kMax: {
      std::int32_t best = var.at(0);
      for (std::int32_t k = 1; k < var.size(); ++k) best = var.at(k) > best ? var.at(k) : best;
      return best;
    }
    case ValueOrder::kRandom:
      return var.at(static_cast<std::int32_t>(draw(static_cast<std::uint64_t>(var.size()))));
  }
  return var.minValue();
}

void Branching::forgetConflict(std::int32_t x) {
  std::int32_t kept = 0;
  for (std::int32_t k = 0; k < conflictCount_; ++k) {
    if (conflicts_[k] != x) conflicts_[kept++] = conflicts_[k];
  }
  conflictCount_ = kept;
}

void Branching::onFailure(std::int32_t constraint, std::int32_t decisionVar) {
  if (constraint >= 0 && options_.variables == VariableOrder::kDomWdeg) weights_[constraint] += 1;
  if (options_.lastConflict == 0 || decisionVar < 0) return;
  for (std::int32_t k = 0; k < conflictCount_; ++k) {
    if (conflicts_[k] == decisionVar) return;
  }
  if (conflictCount_ == options_.lastConflict) {
    for (std::int32_t k = 1; k < conflictCount_; ++k) conflicts_[k - 1] = conflicts_[k];
    --conflictCount_;
  }
  conflicts_[conflictCount_++] = decisionVar;
}

}  // namespace varnel
