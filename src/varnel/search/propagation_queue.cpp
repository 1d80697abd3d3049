// The queue's storage and its run to the fixpoint.
#include "varnel/search/propagation_queue.h"

#include "varnel/memory/arrays.h"
#include "varnel/search/propagators/compact_table_rev.h"
#include "varnel/search/propagators/table_ct_rev.h"

namespace varnel {

PropagationQueue::PropagationQueue(TableCtRev* const* constraints, std::int32_t count)
    : PropagationQueue(count) {
  constraints_ = constraints;
}

PropagationQueue::PropagationQueue(CompactTableRev* const* constraints, std::int32_t count)
    : PropagationQueue(count) {
  compactTables_ = constraints;
}

PropagationQueue::PropagationQueue(std::int32_t count)
    : constraints_(nullptr),
      compactTables_(nullptr),
      constraintCount_(count),
      capacity_(1),
      head_(0),
      count_(0),
      running_(-1),
      failed_(-1),
      runs_(0) {
  while (capacity_ < count) capacity_ *= 2;
  ring_ = allocateArray<std::int32_t>(static_cast<std::uint64_t>(capacity_));
  queued_ = allocateArray<std::uint8_t>(static_cast<std::uint64_t>(count));
  for (std::int32_t c = 0; c < count; ++c) queued_[c] = 0;
}

PropagationQueue::~PropagationQueue() {
  freeArray(queued_, static_cast<std::uint64_t>(constraintCount_));
  freeArray(ring_, static_cast<std::uint64_t>(capacity_));
}

bool PropagationQueue::run() {
  failed_ = -1;
  return compactTables_ != nullptr ? runAll(compactTables_) : runAll(constraints_);
}

template <class Constraint>
bool PropagationQueue::runAll(Constraint* const* constraints) {
  while (count_ > 0) {
    const std::int32_t c = ring_[head_];
    head_ = (head_ + 1) & (capacity_ - 1);
    --count_;
    queued_[c] = 0;
    running_ = c;
    ++runs_;
    const bool consistent = constraints[c]->propagate(*this);
    running_ = -1;
    if (!consistent) {
      failed_ = c;
      clear();
      return false;
    }
  }
  return true;
}

void PropagationQueue::clear() {
  while (count_ > 0) {
    queued_[ring_[head_]] = 0;
    head_ = (head_ + 1) & (capacity_ - 1);
    --count_;
  }
  head_ = 0;
}

}  // namespace varnel
