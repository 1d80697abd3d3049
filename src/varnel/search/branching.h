// The search's choices: which variable to branch on (smallest domain, dom/wdeg, dom/ddeg or the
// lowest index), which value to try first, how ties are broken, last-conflict reasoning, and the
// restart sequence. A Branching belongs to one search: the weights it learns are its own.
#pragma once

#include <cstdint>

#include "varnel/search/search_space.h"

namespace varnel {

enum class VariableOrder : std::uint8_t {
  kDom,      // the smallest domain
  kDomWdeg,  // the smallest domain over weighted degree (Boussemart et al., ECAI 2004)
  kDomDdeg,  // the smallest domain over dynamic degree (every weight 1, never learnt)
  kLex,      // the lowest index
};

enum class ValueOrder : std::uint8_t { kMin, kMax, kRandom };

enum class RestartPolicy : std::uint8_t {
  kNone,
  kLuby,       // base x 1, 1, 2, 1, 1, 2, 4, ... failures (Luby, Sinclair, Zuckerman 1993)
  kGeometric,  // base x 1.5^i failures
};

struct BranchingOptions {
  VariableOrder variables = VariableOrder::kDom;
  ValueOrder values = ValueOrder::kMin;
  // Ties of the variable order drawn at random from `seed`; otherwise the lowest index wins.
  bool randomTies = false;
  std::uint64_t seed = 1;  // the draws of randomTies and of ValueOrder::kRandom
  // Last-conflict reasoning over the k most recent conflict variables; 0: off.
  std::int32_t lastConflict = 0;
  RestartPolicy restarts = RestartPolicy::kNone;
  std::uint64_t restartBase = 100;  // failures: the unit of the restart sequence, >= 1

  // True for the original branching (smallest domain, lowest index, smallest value, nothing
  // learnt, no restart), which the search runs without consulting a Branching at all.
  bool plain() const {
    return variables == VariableOrder::kDom && values == ValueOrder::kMin && !randomTies &&
           lastConflict == 0 && restarts == RestartPolicy::kNone;
  }
};

// The i-th term (i >= 1) of Luby's sequence 1, 1, 2, 1, 1, 2, 4, 1, ...
std::uint64_t lubyTerm(std::uint64_t i);
// Failures allowed before restart number `restarts` + 1 (restarts done so far). Grows without
// bound, which is what keeps a restarting search complete.
std::uint64_t restartCutoff(const BranchingOptions& options, std::uint64_t restarts);

class Branching {
 public:
  // The choices of `options` over `space`'s variables and constraints; every weight starts at 1.
  Branching(const BranchingOptions& options, const SearchSpace& space);
  ~Branching();

  // The variable to branch on: the last-conflict variables first (most recent first) while one
  // is unassigned, then the variable order's best; -1 when every variable is assigned.
  std::int32_t selectVariable(const SearchSpace& space);
  // The value of x tried first. Precondition: x is unassigned.
  std::int32_t selectValue(const SearchSpace& space, std::int32_t x);
  // A node failed: `constraint` wiped out a domain (-1 when no constraint did, a nogood), after
  // a decision on `decisionVar` (-1 at the root).
  void onFailure(std::int32_t constraint, std::int32_t decisionVar);
  // The decision x = value propagated without a failure: x leaves the last-conflict variables
  // (its conflict is resolved, the variable order takes over again).
  void onAssigned(std::int32_t x) {
    if (conflictCount_ > 0) forgetConflict(x);
  }

  // Constraint c's weight: 1 + the wipe-outs it caused (dom/wdeg); always 1 otherwise.
  double weight(std::int32_t c) const { return weights_[c]; }
  const BranchingOptions& options() const { return options_; }

  Branching(const Branching&) = delete;
  Branching& operator=(const Branching&) = delete;

 private:
  std::int32_t selectByDegree(const SearchSpace& space);
  // Brings the degrees up to the variables now unassigned in `space`.
  void syncDegrees(const SearchSpace& space);
  // Variable x became unassigned (by = +1) or assigned (by = -1) since the last sync.
  void moveOpen(std::int32_t x, std::int32_t by);
  // The degrees recomputed from the scopes equal the kept ones (a debug check).
  bool degreesExact(const SearchSpace& space) const;
  std::int32_t selectSmallestDomain(const SearchSpace& space);
  std::int32_t selectLowestIndex(const SearchSpace& space) const;
  void forgetConflict(std::int32_t x);
  // A draw in 0 .. bound-1 (splitmix64).
  std::uint64_t draw(std::uint64_t bound);
  // Reservoir sampling of ties: true when the tie-th candidate (tie >= 2) replaces the best.
  bool takeTie(std::uint64_t tie) { return options_.randomTies && draw(tie) == 0; }

  BranchingOptions options_;
  std::int32_t varCount_;
  std::int32_t constraintCount_;
  double* weights_;  // per constraint
  // The weighted degrees, kept up to date between selections instead of recomputed: at the last
  // sync, open_[x] said whether x was unassigned and openCount_[c] counted the places of c's
  // scope holding an unassigned variable; degree_[x] sums, over the places of x in the scopes
  // of the constraints with two or more such places, their weights. Only for the degree orders.
  const CspInstance* instance_;
  double* degree_;            // per variable
  std::uint8_t* open_;        // per variable
  std::int32_t* openCount_;   // per constraint
  std::int32_t* placeStart_;  // per variable and one more: where its places start in places_
  std::int32_t* places_;      // the constraints over each variable, once per place
  std::int32_t placeCount_;
  std::int32_t* conflicts_;  // the last-conflict variables, oldest first
  std::int32_t conflictCount_;
  std::uint64_t random_;
};

}  // namespace varnel
