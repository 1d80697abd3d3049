// Growth and release of the allocation log.
#include "varnel/solver/allocation_log.h"

namespace varnel {
namespace {
constexpr std::int32_t kInitialCapacity = 64;
}  // namespace

AllocationLog::AllocationLog()
    : objects_(allocateArray<Reversible*>(kInitialCapacity)),
      classes_(allocateArray<std::int32_t>(kInitialCapacity)),
      capacity_(kInitialCapacity),
      count_(0),
      mark_(0),
      marks_(allocateArray<std::int32_t>(kInitialCapacity)),
      marksCapacity_(kInitialCapacity),
      top_(0) {}

AllocationLog::~AllocationLog() {
  freeArray(objects_, capacity_);
  freeArray(classes_, capacity_);
  freeArray(marks_, marksCapacity_);
}

void AllocationLog::grow() {
  const std::int32_t capacity = doubledCapacity(capacity_);
  objects_ = growArray(objects_, capacity_, capacity);
  classes_ = growArray(classes_, capacity_, capacity);
  capacity_ = capacity;
}

void AllocationLog::releaseToMark() {
  VARNEL_ASSERT(top_ > 0);
  for (std::int32_t i = count_ - 1; i >= mark_; --i) {
    Reversible* object = objects_[i];
    object->~Reversible();
    if (classes_[i] != 0) freeBlock(object, static_cast<unsigned>(classes_[i] - 1));
  }
  count_ = mark_;
  mark_ = marks_[--top_];
}

void AllocationLog::clear() {
  count_ = 0;
  mark_ = 0;
  top_ = 0;
}

}  // namespace varnel
