// Handing on a parallel search's solutions in the one-thread order.
#include "runner/ordered_solutions.h"

#include <chrono>

namespace varnel::runner {

OrderedSolutions::OrderedSolutions(std::int32_t workers, std::int32_t subproblems,
                                   std::uint64_t limit, Sink sink, void* context,
                                   const StopRequest* stop, std::uint64_t heldCap)
    : current_(static_cast<std::size_t>(workers), -1),
      ended_(static_cast<std::size_t>(subproblems), 0),
      limit_(limit),
      heldCap_(heldCap),
      sink_(sink),
      context_(context),
      stop_(stop) {
  full_.store(limit == 0, std::memory_order_relaxed);
}

void OrderedSolutions::started(std::int32_t worker, std::int32_t k) {
  std::lock_guard<std::mutex> lock(mutex_);
  current_[static_cast<std::size_t>(worker)] = k;
}

void OrderedSolutions::deliver(const std::vector<std::int64_t>& values) {
  if (delivered_ >= limit_) return;
  ++delivered_;
  sink_(values, context_);
  if (delivered_ == limit_) full_.store(true, std::memory_order_relaxed);
}

void OrderedSolutions::found(std::int32_t worker, std::vector<std::int64_t>&& values) {
  if (full()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  if (delivered_ >= limit_) return;
  const std::int32_t k = current_[static_cast<std::size_t>(worker)];
  if (k == next_) {
    deliver(values);
    return;
  }
  heldBytes_ += values.size() * sizeof(std::int64_t) + sizeof(values);
  held_[k].push_back(std::move(values));
  // Past the cap, wait for this subproblem's turn (advance hands its solutions on); a stop
  // request is polled, since the earlier subproblems may never end.
  while (heldBytes_ > heldCap_ && next_ != k && (stop_ == nullptr || !stop_->requested())) {
    turn_.wait_for(lock, std::chrono::milliseconds(10));
  }
}

void OrderedSolutions::ended(std::int32_t worker, std::int32_t k) {
  std::lock_guard<std::mutex> lock(mutex_);
  current_[static_cast<std::size_t>(worker)] = -1;
  ended_[static_cast<std::size_t>(k)] = 1;
  advance();
}

void OrderedSolutions::advance() {
  const auto count = static_cast<std::int32_t>(ended_.size());
  while (next_ < count) {
    const auto held = held_.find(next_);
    if (held != held_.end()) {
      for (const auto& values : held->second) {
        deliver(values);
        heldBytes_ -= values.size() * sizeof(std::int64_t) + sizeof(values);
      }
      held_.erase(held);
    }
    if (!ended_[static_cast<std::size_t>(next_)]) break;
    ++next_;
  }
  turn_.notify_all();
}

}  // namespace varnel::runner
