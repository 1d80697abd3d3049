// NogoodStore: what a restarting search learnt, as reduced nld-nogoods (Lecoutre, Sais, Tabary,
// Vidal, "Recording and Minimizing Nogoods from Restarts", JSAT 2007). At a restart, every
// negative decision x != v of the branch says that the positive decisions above it together
// with x = v have been refuted (or their solutions counted): a nogood, a set of assignments that
// must not all hold. A nogood of one assignment is removed at every restart's root; longer ones
// are propagated on two watched assignments, like clauses in a SAT solver: a nogood wakes only
// when one of its watched assignments comes true.
#pragma once

#include <cstdint>
#include <vector>

#include "varnel/search/search_space.h"

namespace varnel {

class NogoodStore {
 public:
  // A store over `space`'s variables; which of them are unassigned is kept on `space`'s solver.
  explicit NogoodStore(const SearchSpace& space);
  ~NogoodStore();

  // Records the nogood that the assignments vars[i] = values[i] (count >= 1, distinct
  // variables) must not all hold. Only between searches' nodes: at a restart, with the
  // space popped back to where the search started.
  void add(const std::int32_t* vars, const std::int32_t* values, std::int32_t count);
  // Removes the values of the one-assignment nogoods; false when that empties a domain.
  bool removeUnary(SearchSpace& space) const;

  enum class Outcome : std::uint8_t { kQuiet, kPruned, kConflict };
  // Wakes the nogoods watched by the variables assigned since the last call (at this node or
  // above it), moving their watches or pruning values (scheduled on `space`, not propagated).
  // kConflict: a nogood has every assignment true.
  Outcome propagate(SearchSpace& space);

  bool empty() const { return unary_.empty() && starts_.empty(); }
  std::uint64_t size() const { return unary_.size() / 2 + starts_.size(); }

  NogoodStore(const NogoodStore&) = delete;
  NogoodStore& operator=(const NogoodStore&) = delete;

 private:
  Solver* solver_;
  std::int32_t varCount_;
  std::int32_t* unassigned_;  // the variables not yet seen assigned: the first `open_` places
  std::int32_t open_;         // recorded on the trail: a pop gives the variables back
  std::uint64_t stamp_;
  std::int32_t* literalBase_;        // per variable: the number of the assignment x = 0
  std::int32_t literalCount_ = 0;    // assignments numbered: the sum of the initial domains
  std::vector<std::int32_t> unary_;  // variable, value pairs
  // Nogood n's assignments: variable, value pairs from literals_[2 starts_[n]] to the next
  // nogood's; its first two are the watched ones.
  std::vector<std::int32_t> starts_;
  std::vector<std::int32_t> literals_;
  // Per assignment x = v (numbered literalBase_[x] + v): the nogoods watching it. Each watch
  // keeps another assignment of its nogood, the blocker: while the blocker is false the nogood
  // holds, and the watch is passed over without reading the nogood.
  struct Watch {
    std::int32_t nogood;
    std::int32_t blockerVar;
    std::int32_t blockerValue;
  };
  std::vector<Watch>& watching(std::int32_t x, std::int32_t v) {
    return watches_[static_cast<std::size_t>(literalBase_[x] + v)];
  }
  std::vector<std::vector<Watch>> watches_;

  // The nogoods of `list` (not empty), those watching x's assignment, x having just been
  // assigned; false on a conflict.
  bool wake(SearchSpace& space, std::int32_t x, std::vector<Watch>& list, bool* pruned);
};

}  // namespace varnel
