// Objects allocated through a solver while restoration points are open: a pop destroys those
// allocated since its push and returns their blocks.
#pragma once

#include <cstdint>

#include "varnel/memory/arrays.h"
#include "varnel/memory/size_class.h"
#include "varnel/solver/reversible.h"

namespace varnel {

class AllocationLog {
 public:
  // objects, their classes and marks with 64 entries each; count, mark and top 0.
  AllocationLog();
  ~AllocationLog();

  // Appends an object that lives in a pooled block of `bytes` bytes (0: not pooled, the pop
  // only destroys it).
  void append(Reversible* object, std::int32_t bytes);
  // Opens a restoration point.
  void pushMark();
  // Destroys, newest first, every object appended since the innermost open point, returns its
  // block, and closes the point. Precondition: a point is open.
  void releaseToMark();
  // Forgets every object and every point without destroying anything.
  void clear();

  std::int32_t count() const { return count_; }
  std::int32_t mark() const { return mark_; }
  std::int32_t top() const { return top_; }

 private:
  void grow();

  Reversible** objects_;
  // Per object: its block's size class + 1, or 0 when it is not pooled. The class is taken on
  // append, where the size is usually a constant, so that the pops that free in bulk do not
  // compute it.
  std::int32_t* classes_;
  std::int32_t capacity_;
  std::int32_t count_;
  std::int32_t mark_;
  std::int32_t* marks_;
  std::int32_t marksCapacity_;
  std::int32_t top_;
};

// --- Inline definitions ------------------------------------------------------------------

inline void AllocationLog::append(Reversible* object, std::int32_t bytes) {
  if (count_ == capacity_) [[unlikely]]
    grow();
  objects_[count_] = object;
  classes_[count_] =
      bytes == 0 ? 0
                 : static_cast<std::int32_t>(sizeClassOf(static_cast<std::uint64_t>(bytes))) + 1;
  ++count_;
}

inline void AllocationLog::pushMark() {
  if (top_ >= marksCapacity_) [[unlikely]] {
    const std::int32_t capacity =
        doubledCapacity(marksCapacity_) > top_ ? doubledCapacity(marksCapacity_) : top_;
    marks_ = growArray(marks_, marksCapacity_, capacity);
    marksCapacity_ = capacity;
  }
  marks_[top_++] = mark_;
  mark_ = count_;
}

}  // namespace varnel
