// The nogoods' storage and their propagation on watched assignments.
#include "varnel/search/nogoods.h"

#include <utility>

#include "varnel/memory/arrays.h"

namespace varnel {

NogoodStore::NogoodStore(const SearchSpace& space)
    : solver_(&space.solver()),
      varCount_(space.varCount()),
      unassigned_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(varCount_))),
      open_(varCount_),
      stamp_(0),
      literalBase_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(varCount_))) {
  std::int32_t literals = 0;
  for (std::int32_t x = 0; x < varCount_; ++x) {
    unassigned_[x] = x;
    literalBase_[x] = literals;
    literals += space.var(x).initialSize();
  }
  literalCount_ = literals;
}

NogoodStore::~NogoodStore() {
  freeArray(literalBase_, static_cast<std::uint64_t>(varCount_));
  freeArray(unassigned_, static_cast<std::uint64_t>(varCount_));
}

void NogoodStore::add(const std::int32_t* vars, const std::int32_t* values, std::int32_t count) {
  VARNEL_ASSERT(count >= 1);
  if (count == 1) {
    unary_.push_back(vars[0]);
    unary_.push_back(values[0]);
    return;
  }
  // The watch lists appear with the first nogood to watch: a search that never restarts, or
  // learns nothing longer than one assignment, does not pay for one list per assignment.
  if (watches_.empty()) watches_.resize(static_cast<std::size_t>(literalCount_));
  // The deepest assignments first: they are the ones watched, the last to come true again.
  const auto n = static_cast<std::int32_t>(starts_.size());
  starts_.push_back(static_cast<std::int32_t>(literals_.size() / 2));
  for (std::int32_t i = count - 1; i >= 0; --i) {
    literals_.push_back(vars[i]);
    literals_.push_back(values[i]);
  }
  watching(vars[count - 1], values[count - 1]).push_back({n, vars[count - 2], values[count - 2]});
  watching(vars[count - 2], values[count - 2]).push_back({n, vars[count - 1], values[count - 1]});
}

bool NogoodStore::removeUnary(SearchSpace& space) const {
  for (std::size_t k = 0; k < unary_.size(); k += 2) {
    const std::int32_t x = unary_[k];
    const std::int32_t v = unary_[k + 1];
    if (!space.var(x).contains(v)) continue;
    if (space.var(x).size() == 1) return false;
    space.removeValue(x, v);
  }
  return true;
}

NogoodStore::Outcome NogoodStore::propagate(SearchSpace& space) {
  bool pruned = false;
  std::int32_t i = 0;
  while (i < open_) {
    const std::int32_t x = unassigned_[i];
    if (space.var(x).size() > 1) {
      ++i;
      continue;
    }
    // Newly assigned: out of the set for the rest of this subtree (the pop puts it back).
    recordIntOnce(*solver_, &open_, &stamp_);
    std::swap(unassigned_[i], unassigned_[open_ - 1]);
    --open_;
    if (starts_.empty()) continue;
    std::vector<Watch>& list = watching(x, space.var(x).at(0));
    if (!list.empty() && !wake(space, x, list, &pruned)) return Outcome::kConflict;
  }
  return pruned ? Outcome::kPruned : Outcome::kQuiet;
}

bool NogoodStore::wake(SearchSpace& space, std::int32_t x, std::vector<Watch>& list, bool* pruned) {
  // The watches that stay are compacted to the front in their order: kept <= k.
  const std::size_t count = list.size();
  std::size_t kept = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const Watch watch = list[k];
    if (!space.var(watch.blockerVar).contains(watch.blockerValue)) {
      // The blocker is false: so is the nogood. Nothing moves before the first watch leaves.
      if (kept != k) list[kept] = watch;
      ++kept;
      continue;
    }
    const std::int32_t n = watch.nogood;
    const std::int32_t begin = starts_[static_cast<std::size_t>(n)];
    const std::int32_t end = static_cast<std::size_t>(n) + 1 < starts_.size()
                                 ? starts_[static_cast<std::size_t>(n) + 1]
                                 : static_cast<std::int32_t>(literals_.size() / 2);
    std::int32_t* lits = literals_.data() + 2 * std::int64_t(begin);
    const std::int32_t size = end - begin;
    // x's watched assignment goes to place 1, the other watched one stays in place 0.
    if (lits[0] == x) {
      std::swap(lits[0], lits[2]);
      std::swap(lits[1], lits[3]);
    }
    VARNEL_ASSERT(lits[2] == x && lits[3] == space.var(x).at(0));
    const IntVar& other = space.var(lits[0]);
    if (!other.contains(lits[1])) {
      list[kept++] = {n, lits[0], lits[1]};  // the other watched assignment is false
      continue;
    }
    // Another watch: an assignment that is not true (its variable open, or set elsewhere).
    std::int32_t replacement = -1;
    for (std::int32_t j = 2; j < size && replacement < 0; ++j) {
      const IntVar& var = space.var(lits[2 * j]);
      if (var.size() > 1 || var.at(0) != lits[2 * j + 1]) replacement = j;
    }
    if (replacement >= 0) {
      // A nogood's variables are distinct, so the new list is another one than `list`.
      std::swap(lits[2], lits[2 * replacement]);
      std::swap(lits[3], lits[2 * replacement + 1]);
      watching(lits[2], lits[3]).push_back({n, lits[0], lits[1]});
      continue;
    }
    // Every assignment but the other watched one is true: it must be false.
    list[kept++] = {n, lits[0], lits[1]};
    if (other.size() == 1) {
      for (++k; k < count; ++k) list[kept++] = list[k];
      list.resize(kept);
      return false;
    }
    space.removeValue(lits[0], lits[1]);
    *pruned = true;
  }
  list.resize(kept);
  return true;
}

}  // namespace varnel
