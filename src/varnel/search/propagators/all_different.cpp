// allDifferent: forward checking, Régin's matching filter and the lists form.
#include "varnel/search/propagators/all_different.h"

#include <algorithm>
#include <vector>

#include "varnel/memory/arrays.h"
#include "varnel/search/model/csp_instance.h"

namespace varnel {

AllDifferentRev::AllDifferentRev(Solver& solver, std::int32_t number, IntVar* const* scope,
                                 const CspInstance& instance, AllDifferentLevel level)
    : solver_(&solver),
      arity_(instance.arity(number)),
      lists_(instance.listCount(number)),
      length_(instance.listLength(number)),
      number_(number),
      level_(level),
      repeated_(false),
      sharesPlace_(nullptr),
      candidates_(nullptr),
      done_(0),
      doneStamp_(0),
      valueCount_(0),
      valueBase_(nullptr),
      valueIds_(nullptr),
      holderStart_(nullptr),
      holders_(nullptr),
      matchOf_(nullptr),
      matchedBy_(nullptr),
      seen_(nullptr),
      visit_(0),
      scratch_(nullptr) {
  // Lists of one variable each are one list.
  if (length_ == 1) {
    length_ = arity_;
    lists_ = 1;
  }
  const auto a = static_cast<std::uint64_t>(arity_);
  scope_ = allocateArray<IntVar*>(a);
  values_ = allocateArray<const std::int64_t*>(a);
  order_ = allocateArray<std::int32_t>(a);
  for (std::int32_t p = 0; p < arity_; ++p) {
    scope_[p] = scope[p];
    values_[p] = instance.values(instance.scope(number)[p]);
    order_[p] = p;
  }
  if (lists_ == 1) {
    std::vector<std::int32_t> vars(instance.scope(number), instance.scope(number) + arity_);
    std::sort(vars.begin(), vars.end());
    repeated_ = std::adjacent_find(vars.begin(), vars.end()) != vars.end();
  }
  if (lists_ > 1) {
    const auto k = static_cast<std::uint64_t>(lists_);
    sharesPlace_ = allocateArray<std::uint8_t>(k);
    candidates_ = allocateArray<std::int32_t>(k);
    for (std::int32_t a = 0; a < lists_; ++a) {
      sharesPlace_[a] = 0;
      for (std::int32_t b = 0; b < lists_ && !sharesPlace_[a]; ++b) {
        for (std::int32_t i = 0; i < length_ && b != a; ++i) {
          if (scope_[a * length_ + i] == scope_[b * length_ + i]) sharesPlace_[a] = 1;
        }
      }
    }
  }
  if (lists_ != 1 || level_ != AllDifferentLevel::kMatching) return;

  // Every value of the scope, numbered in increasing order.
  std::vector<std::int64_t> all;
  for (std::int32_t p = 0; p < arity_; ++p) {
    all.insert(all.end(), values_[p], values_[p] + scope_[p]->initialSize());
  }
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  valueCount_ = static_cast<std::int32_t>(all.size());
  const auto u = static_cast<std::uint64_t>(valueCount_);
  valueBase_ = allocateArray<std::int32_t>(a + 1);
  valueBase_[0] = 0;
  for (std::int32_t p = 0; p < arity_; ++p)
    valueBase_[p + 1] = valueBase_[p] + scope_[p]->initialSize();
  const auto entries = static_cast<std::uint64_t>(valueBase_[arity_]);
  valueIds_ = allocateArray<std::int32_t>(entries);
  holderStart_ = allocateArray<std::int32_t>(u + 1);
  holders_ = allocateArray<std::int32_t>(2 * entries);
  for (std::uint64_t v = 0; v <= u; ++v) holderStart_[v] = 0;
  for (std::int32_t p = 0; p < arity_; ++p) {
    for (std::int32_t k = 0; k < scope_[p]->initialSize(); ++k) {
      const auto id = static_cast<std::int32_t>(
          std::lower_bound(all.begin(), all.end(), values_[p][k]) - all.begin());
      valueIds_[valueBase_[p] + k] = id;
      ++holderStart_[id + 1];
    }
  }
  for (std::int32_t v = 0; v < valueCount_; ++v) holderStart_[v + 1] += holderStart_[v];
  std::vector<std::int32_t> fill(holderStart_, holderStart_ + valueCount_);
  for (std::int32_t p = 0; p < arity_; ++p) {
    for (std::int32_t k = 0; k < scope_[p]->initialSize(); ++k) {
      const std::int32_t at = fill[valueIds_[valueBase_[p] + k]]++;
      holders_[2 * at] = p;
      holders_[2 * at + 1] = k;
    }
  }
  matchOf_ = allocateArray<std::int32_t>(2 * a);
  for (std::uint64_t p = 0; p < 2 * a; ++p) matchOf_[p] = -1;
  matchedBy_ = allocateArray<std::int32_t>(u);
  seen_ = allocateArray<std::uint32_t>(u);
  for (std::uint64_t v = 0; v < u; ++v) {
    matchedBy_[v] = -1;
    seen_[v] = 0;
  }
  scratch_ = allocateArray<std::int32_t>(8 * (a + u));
}

AllDifferentRev::~AllDifferentRev() {
  const auto a = static_cast<std::uint64_t>(arity_);
  if (valueBase_ != nullptr) {
    const auto u = static_cast<std::uint64_t>(valueCount_);
    const auto entries = static_cast<std::uint64_t>(valueBase_[arity_]);
    freeArray(scratch_, 8 * (a + u));
    freeArray(seen_, u);
    freeArray(matchedBy_, u);
    freeArray(matchOf_, 2 * a);
    freeArray(holders_, 2 * entries);
    freeArray(holderStart_, u + 1);
    freeArray(valueIds_, entries);
    freeArray(valueBase_, a + 1);
  }
  if (sharesPlace_ != nullptr) {
    freeArray(candidates_, static_cast<std::uint64_t>(lists_));
    freeArray(sharesPlace_, static_cast<std::uint64_t>(lists_));
  }
  freeArray(order_, a);
  freeArray(values_, a);
  freeArray(scope_, a);
}

bool AllDifferentRev::propagate(PropagationQueue& queue) {
  if (repeated_) return false;
  if (lists_ > 1) return compareLists(queue);
  return level_ == AllDifferentLevel::kMatching ? matchAndFilter(queue) : forwardCheck(queue);
}

bool AllDifferentRev::removeValue(std::int32_t p, std::int64_t value, PropagationQueue& queue,
                                  bool* changed) {
  IntVar& var = *scope_[p];
  const std::int64_t* values = values_[p];
  const std::int32_t size = var.initialSize();
  if (value < values[0] || value > values[size - 1]) return true;
  // A domain without gaps holds `value` at its offset from the first; others are searched.
  std::int64_t k = value - values[0];
  if (k >= size || values[k] != value) {
    const std::int64_t* at = std::lower_bound(values, values + size, value);
    if (*at != value) return true;
    k = at - values;
  }
  if (!var.contains(static_cast<std::int32_t>(k))) return true;
  var.remove(static_cast<std::int32_t>(k));
  if (var.size() == 0) return false;
  *changed = true;
  queue.schedule(var);
  return true;
}

bool AllDifferentRev::forwardCheck(PropagationQueue& queue) {
  for (bool again = true; again;) {
    again = false;
    for (std::int32_t k = done_; k < arity_; ++k) {
      const std::int32_t p = order_[k];
      if (!scope_[p]->assigned()) continue;
      recordIntOnce(*solver_, &done_, &doneStamp_);
      order_[k] = order_[done_];
      order_[done_++] = p;
      // The positions done before hold other values: only the others can hold this one.
      const std::int64_t value = valueAt(p, scope_[p]->at(0));
      for (std::int32_t j = done_; j < arity_; ++j) {
        if (!removeValue(order_[j], value, queue, &again)) return false;
      }
    }
  }
  return true;
}

bool AllDifferentRev::compareLists(PropagationQueue& queue) {
  for (bool again = true; again;) {
    again = false;
    // A pair fixed but for one place needs both lists assigned but at one place, save places
    // where both name one variable: a list without such places and with two unassigned
    // variables is in no such pair.
    std::int32_t count = 0;
    for (std::int32_t a = 0; a < lists_; ++a) {
      std::int32_t unassigned = 0;
      for (std::int32_t i = 0; i < length_ && unassigned < 2 && !sharesPlace_[a]; ++i) {
        unassigned += scope_[a * length_ + i]->assigned() ? 0 : 1;
      }
      if (unassigned < 2) candidates_[count++] = a;
    }
    for (std::int32_t x = 0; x < count; ++x) {
      for (std::int32_t y = x + 1; y < count; ++y) {
        const std::int32_t a = candidates_[x];
        const std::int32_t b = candidates_[y];
        std::int32_t open = -1;
        std::int32_t openCount = 0;
        bool differ = false;
        for (std::int32_t i = 0; i < length_ && !differ && openCount < 2; ++i) {
          const IntVar& x = *scope_[a * length_ + i];
          const IntVar& y = *scope_[b * length_ + i];
          if (&x == &y) continue;  // one variable in both lists: equal there
          if (x.assigned() && y.assigned()) {
            differ = valueAt(a * length_ + i, x.at(0)) != valueAt(b * length_ + i, y.at(0));
            continue;
          }
          open = i;
          ++openCount;
        }
        if (differ || openCount > 1) continue;
        if (openCount == 0) return false;
        // Equal everywhere else: the open position must differ.
        const std::int32_t pa = a * length_ + open;
        const std::int32_t pb = b * length_ + open;
        if (scope_[pa]->assigned()) {
          if (!removeValue(pb, valueAt(pa, scope_[pa]->at(0)), queue, &again)) return false;
        } else if (scope_[pb]->assigned()) {
          if (!removeValue(pa, valueAt(pb, scope_[pb]->at(0)), queue, &again)) return false;
        }
      }
    }
  }
  return true;
}

bool AllDifferentRev::augment(std::int32_t p) {
  const IntVar& var = *scope_[p];
  const std::int32_t* ids = valueIds_ + valueBase_[p];
  for (std::int32_t k = 0; k < var.size(); ++k) {
    const std::int32_t u = ids[var.at(k)];
    if (matchedBy_[u] < 0) {
      matchOf_[p] = u;
      matchOf_[arity_ + p] = var.at(k);
      matchedBy_[u] = p;
      return true;
    }
  }
  for (std::int32_t k = 0; k < var.size(); ++k) {
    const std::int32_t u = ids[var.at(k)];
    if (seen_[u] == visit_) continue;
    seen_[u] = visit_;
    if (augment(matchedBy_[u])) {
      matchOf_[p] = u;
      matchOf_[arity_ + p] = var.at(k);
      matchedBy_[u] = p;
      return true;
    }
  }
  return false;
}

bool AllDifferentRev::matchAndFilter(PropagationQueue& queue) {
  // Forward checking first. Then, when every unassigned variable has at least as many values as
  // there are unassigned variables u, every value left is in a matching without a look at the
  // graph: fix x to v, and any t of the other u - 1 variables still hold at least u - 1 >= t
  // values (Hall's condition).
  // After it the unassigned positions are order_[done_ ..): the others, with their values gone
  // from every unassigned domain, are pairs of their own in the graph and are left out.
  if (!forwardCheck(queue)) return false;
  const std::int32_t unassigned = arity_ - done_;
  const std::int32_t* active = order_ + done_;
  std::int32_t smallest = INT32_MAX;
  for (std::int32_t j = 0; j < unassigned; ++j) {
    smallest = std::min(smallest, scope_[active[j]]->size());
  }
  if (smallest >= unassigned) return true;
  const std::int32_t n = arity_;
  // The matching of the last run, less the pairs whose value has left.
  for (std::int32_t p = 0; p < n; ++p) {
    if (matchOf_[p] >= 0 && !scope_[p]->contains(matchOf_[n + p])) {
      matchedBy_[matchOf_[p]] = -1;
      matchOf_[p] = -1;
    }
  }
  for (std::int32_t j = 0; j < unassigned; ++j) {
    const std::int32_t p = active[j];
    if (matchOf_[p] >= 0) continue;
    if (++visit_ == 0) {
      for (std::int32_t v = 0; v < valueCount_; ++v) seen_[v] = 0;
      visit_ = 1;
    }
    if (!augment(p)) return false;  // fewer values than variables somewhere
  }

  // Nodes: positions 0 .. n-1, values n .. n+valueCount-1. Edges: a position to each value of
  // its domain but its match; a matched value to its position. An edge outside the matching is
  // in some maximum matching when both ends share a component, or when its value leads to a
  // free value (Régin).
  const std::int32_t nodes = n + valueCount_;
  std::int32_t* index = scratch_;
  std::int32_t* low = index + nodes;
  std::int32_t* component = low + nodes;
  std::int32_t* cursor = component + nodes;
  std::int32_t* stack = cursor + nodes;
  std::int32_t* calls = stack + nodes;
  std::int32_t* onStack = calls + nodes;
  std::int32_t* reach = onStack + nodes;  // values leading to a free one; positions visited
  for (std::int32_t v = 0; v < nodes; ++v) {
    index[v] = -1;
    onStack[v] = 0;
    component[v] = -1;
    reach[v] = 0;
  }
  // Backwards from the free values of the domains.
  std::int32_t queued = 0;
  for (std::int32_t j = 0; j < unassigned; ++j) {
    const std::int32_t p = active[j];
    const IntVar& var = *scope_[p];
    for (std::int32_t k = 0; k < var.size(); ++k) {
      const std::int32_t u = valueIds_[valueBase_[p] + var.at(k)];
      if (matchedBy_[u] < 0 && !reach[n + u]) {
        reach[n + u] = 1;
        stack[queued++] = u;
      }
    }
  }
  for (std::int32_t head = 0; head < queued; ++head) {
    const std::int32_t u = stack[head];
    for (std::int32_t h = holderStart_[u]; h < holderStart_[u + 1]; ++h) {
      const std::int32_t q = holders_[2 * h];
      if (reach[q] || matchOf_[q] == u || !scope_[q]->contains(holders_[2 * h + 1])) continue;
      reach[q] = 1;
      const std::int32_t w = matchOf_[q];
      if (!reach[n + w]) {
        reach[n + w] = 1;
        stack[queued++] = w;
      }
    }
  }
  // Tarjan's strongly connected components, without recursion.
  std::int32_t counter = 0;
  std::int32_t top = 0;
  for (std::int32_t j = 0; j < unassigned; ++j) {
    const std::int32_t s = active[j];
    if (index[s] >= 0) continue;
    std::int32_t depth = 0;
    calls[depth++] = s;
    index[s] = low[s] = counter++;
    cursor[s] = 0;
    stack[top++] = s;
    onStack[s] = 1;
    while (depth > 0) {
      const std::int32_t v = calls[depth - 1];
      std::int32_t next = -1;
      if (v < n) {
        const IntVar& var = *scope_[v];
        while (cursor[v] < var.size() && next < 0) {
          const std::int32_t u = valueIds_[valueBase_[v] + var.at(cursor[v]++)];
          if (u != matchOf_[v]) next = n + u;
        }
      } else if (cursor[v]++ == 0 && matchedBy_[v - n] >= 0) {
        next = matchedBy_[v - n];
      }
      if (next >= 0) {
        if (index[next] < 0) {
          index[next] = low[next] = counter++;
          cursor[next] = 0;
          stack[top++] = next;
          onStack[next] = 1;
          calls[depth++] = next;
        } else if (onStack[next]) {
          low[v] = std::min(low[v], index[next]);
        }
        continue;
      }
      --depth;
      if (low[v] == index[v]) {
        std::int32_t w = -1;
        do {
          w = stack[--top];
          onStack[w] = 0;
          component[w] = v;
        } while (w != v);
      }
      if (depth > 0) low[calls[depth - 1]] = std::min(low[calls[depth - 1]], low[v]);
    }
  }
  for (std::int32_t j = 0; j < unassigned; ++j) {
    const std::int32_t p = active[j];
    IntVar& var = *scope_[p];
    const std::int32_t size = var.size();
    for (std::int32_t k = size - 1; k >= 0; --k) {
      const std::int32_t u = valueIds_[valueBase_[p] + var.at(k)];
      if (u == matchOf_[p] || reach[n + u] || component[n + u] == component[p]) continue;
      var.remove(var.at(k));
    }
    if (var.size() != size) queue.schedule(var);
  }
  return true;
}

}  // namespace varnel
