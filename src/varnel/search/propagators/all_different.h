// AllDifferentRev: an allDifferent constraint of a search. One list: its variables take pairwise
// different values, kept either by forward checking (an assigned variable's value leaves every
// other variable) or generalised-arc-consistent by Régin's matching algorithm ("A filtering
// algorithm for constraints of difference in CSPs", AAAI 1994: a maximum matching of variables to
// values, then the strongly connected components of its residual graph). Several lists: the lists
// pairwise differ as tuples; a pair of lists equal at every position but one, where one side is
// assigned, takes that value from the other side. Values are compared as values, not indices, so
// variables of different domains mix.
#pragma once

#include <cstdint>

#include "varnel/search/int_var.h"
#include "varnel/search/propagation_queue.h"
#include "varnel/solver/reversible.h"
#include "varnel/solver/solver.h"

namespace varnel {

class CspInstance;

// How a single-list allDifferent filters.
enum class AllDifferentLevel : std::uint8_t {
  kForwardChecking,  // an assigned variable's value leaves the others
  kMatching,         // generalised arc consistency (Régin)
};

// The level a space uses when none is asked for.
inline constexpr AllDifferentLevel kDefaultAllDifferentLevel = AllDifferentLevel::kMatching;

class AllDifferentRev : public Reversible {
 public:
  // Constraint `number` of `instance` (an allDifferent) over `scope`, its variables in the
  // instance's scope order; `level` applies to the single-list form.
  AllDifferentRev(Solver& solver, std::int32_t number, IntVar* const* scope,
                  const CspInstance& instance, AllDifferentLevel level);
  ~AllDifferentRev() override;

  // The first filtering, once before any propagate(). False on a wipe-out.
  bool post(PropagationQueue& queue) { return propagate(queue); }
  // Filters to the constraint's own fixpoint, waking the other constraints on each variable that
  // lost values. False on a wipe-out or when two lists are equal.
  bool propagate(PropagationQueue& queue);

  std::int32_t number() const { return number_; }
  std::int32_t arity() const { return arity_; }
  AllDifferentLevel level() const { return level_; }
  // Variables whose value has been taken from the others (forward checking).
  std::int32_t doneCount() const { return done_; }

 private:
  bool forwardCheck(PropagationQueue& queue);
  bool matchAndFilter(PropagationQueue& queue);
  bool compareLists(PropagationQueue& queue);
  // Removes `value` (a value, not an index) from position p's variable if there. False when
  // the domain is wiped out; sets *changed when the domain shrank.
  bool removeValue(std::int32_t p, std::int64_t value, PropagationQueue& queue, bool* changed);
  std::int64_t valueAt(std::int32_t p, std::int32_t k) const { return values_[p][k]; }
  // Matching: an augmenting path from position p; stamps the values it visits.
  bool augment(std::int32_t p);

  Solver* solver_;
  IntVar** scope_;
  const std::int64_t** values_;  // per position: its variable's values, increasing
  std::int32_t arity_;
  std::int32_t lists_;  // 1 for the single-list form
  std::int32_t length_;
  std::int32_t number_;
  AllDifferentLevel level_;
  bool repeated_;  // single list naming a variable twice: never satisfied
  // Lists form: per list, whether another list names one of its variables at the same place
  // (such a list is always looked at), and the lists a run looks at.
  std::uint8_t* sharesPlace_;
  std::int32_t* candidates_;
  // Forward checking: order_[0 .. done_) are the positions whose value left the others.
  std::int32_t* order_;
  std::int32_t done_;
  std::uint64_t doneStamp_;
  // Matching (instance data copied per constraint, hints kept between runs, never restored):
  // every value of the scope numbered 0 .. valueCount_-1, per position the number of each of
  // its value indices, the matching both ways, and the graph's scratch.
  std::int32_t valueCount_;
  std::int32_t* valueBase_;  // arity + 1: where position p's numbers start in valueIds_
  std::int32_t* valueIds_;
  std::int32_t* holderStart_;  // valueCount + 1: the (position, index) pairs holding each value
  std::int32_t* holders_;      // (position, value index) pairs, side by side
  std::int32_t* matchOf_;      // per position: its matched value number, -1 none
  std::int32_t* matchedBy_;    // per value: its matched position, -1 none
  std::uint32_t* seen_;        // per value: the augmentation that visited it
  std::uint32_t visit_;
  std::int32_t* scratch_;  // Tarjan's and the search's arrays over positions and values
};

}  // namespace varnel
