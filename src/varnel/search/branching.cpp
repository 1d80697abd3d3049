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
      instance_(&space.instance()),
      degree_(nullptr),
      open_(nullptr),
      openCount_(nullptr),
      placeStart_(nullptr),
      places_(nullptr),
      placeCount_(0),
      conflicts_(options.lastConflict > 0
                     ? allocateArray<std::int32_t>(static_cast<std::uint64_t>(options.lastConflict))
                     : nullptr),
      conflictCount_(0),
      random_(options.seed) {
  for (std::int32_t c = 0; c < constraintCount_; ++c) weights_[c] = 1;
  if (options.variables != VariableOrder::kDomWdeg &&
      options.variables != VariableOrder::kDomDdeg) {
    return;
  }
  // Every variable starts open: each constraint of two or more places counts its weight, 1, at
  // each of its places. The first selection's sync closes the variables assigned by then.
  const auto vars = static_cast<std::uint64_t>(varCount_);
  degree_ = allocateArray<double>(vars);
  open_ = allocateArray<std::uint8_t>(vars);
  openCount_ = allocateArray<std::int32_t>(static_cast<std::uint64_t>(constraintCount_));
  placeStart_ = allocateArray<std::int32_t>(vars + 1);
  for (std::int32_t x = 0; x <= varCount_; ++x) placeStart_[x] = 0;
  for (std::int32_t c = 0; c < constraintCount_; ++c) {
    const std::int32_t* scope = instance_->scope(c);
    for (std::int32_t i = 0; i < instance_->arity(c); ++i) ++placeStart_[scope[i] + 1];
  }
  for (std::int32_t x = 0; x < varCount_; ++x) placeStart_[x + 1] += placeStart_[x];
  placeCount_ = placeStart_[varCount_];
  places_ = allocateArray<std::int32_t>(static_cast<std::uint64_t>(placeCount_));
  for (std::int32_t x = 0; x < varCount_; ++x) {
    degree_[x] = 0;
    open_[x] = 1;
  }
  for (std::int32_t c = 0; c < constraintCount_; ++c) {
    const std::int32_t* scope = instance_->scope(c);
    const std::int32_t arity = instance_->arity(c);
    openCount_[c] = arity;
    for (std::int32_t i = 0; i < arity; ++i) {
      // placeStart_[x] walks to x's end while filling, and is moved back below.
      places_[placeStart_[scope[i]]++] = c;
      if (arity >= 2) degree_[scope[i]] += 1;
    }
  }
  for (std::int32_t x = varCount_; x > 0; --x) placeStart_[x] = placeStart_[x - 1];
  placeStart_[0] = 0;
}

Branching::~Branching() {
  if (conflicts_ != nullptr) {
    freeArray(conflicts_, static_cast<std::uint64_t>(options_.lastConflict));
  }
  if (degree_ != nullptr) {
    const auto vars = static_cast<std::uint64_t>(varCount_);
    freeArray(places_, static_cast<std::uint64_t>(placeCount_));
    freeArray(placeStart_, vars + 1);
    freeArray(openCount_, static_cast<std::uint64_t>(constraintCount_));
    freeArray(open_, vars);
    freeArray(degree_, vars);
  }
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

void Branching::moveOpen(std::int32_t x, std::int32_t by) {
  // A constraint counts at each of its places while two or more of them are open: crossing that
  // line, in either direction, adds or takes its weight at every place.
  for (std::int32_t p = placeStart_[x]; p < placeStart_[x + 1]; ++p) {
    const std::int32_t c = places_[p];
    const std::int32_t before = openCount_[c];
    openCount_[c] = before + by;
    if ((before >= 2) == (before + by >= 2)) continue;
    const double w = by > 0 ? weights_[c] : -weights_[c];
    const std::int32_t* scope = instance_->scope(c);
    for (std::int32_t i = 0; i < instance_->arity(c); ++i) degree_[scope[i]] += w;
  }
}

void Branching::syncDegrees(const SearchSpace& space) {
  for (std::int32_t x = 0; x < varCount_; ++x) {
    const std::uint8_t open = space.var(x).size() > 1;
    if (open == open_[x]) [[likely]]
      continue;
    open_[x] = open;
    moveOpen(x, open != 0 ? 1 : -1);
  }
}

bool Branching::degreesExact(const SearchSpace& space) const {
  for (std::int32_t x = 0; x < varCount_; ++x) {
    if (space.var(x).size() <= 1) continue;
    double degree = 0;
    for (std::int32_t p = placeStart_[x]; p < placeStart_[x + 1]; ++p) {
      const std::int32_t c = places_[p];
      std::int32_t open = 0;
      for (std::int32_t i = 0; i < instance_->arity(c); ++i) {
        open += space.var(instance_->scope(c)[i]).size() > 1;
      }
      if (open >= 2) degree += weights_[c];
    }
    if (degree != degree_[x]) return false;
  }
  return true;
}

std::int32_t Branching::selectByDegree(const SearchSpace& space) {
  // Weights are whole numbers, so the kept sums are exact: the same doubles as sums made anew.
  syncDegrees(space);
  VARNEL_ASSERT(degreesExact(space));
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
  if (constraint >= 0 && options_.variables == VariableOrder::kDomWdeg) {
    weights_[constraint] += 1;
    if (openCount_[constraint] >= 2) {
      const std::int32_t* scope = instance_->scope(constraint);
      for (std::int32_t i = 0; i < instance_->arity(constraint); ++i) degree_[scope[i]] += 1;
    }
  }
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
