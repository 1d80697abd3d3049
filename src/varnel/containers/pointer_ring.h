// PointerRing: a power-of-two circular buffer of 64-bit slots, indexed through a mask. The
// solver keeps two; they are built, cleared and destroyed, and carry no other operation yet.
#pragma once

#include <bit>
#include <cstdint>

#include "varnel/memory/arrays.h"
#include "varnel/platform/assert.h"
#include "varnel/solver/reversible.h"

namespace varnel {

class PointerRing : public Reversible {
 public:
  // The smallest power of two above `sizeHint` slots (2 << floor(log2 sizeHint)), contents
  // undefined; head and tail 0. Precondition: sizeHint >= 1.
  explicit PointerRing(std::int32_t sizeHint);
  // Returns the slots to the calling thread's pool.
  ~PointerRing() override;

  // Empties the ring: head and tail 0.
  void clear() {
    head_ = 0;
    tail_ = 0;
  }

  std::int32_t slotCount() const { return mask_ + 1; }
  std::int32_t mask() const { return mask_; }
  std::int32_t head() const { return head_; }
  std::int32_t tail() const { return tail_; }

 private:
  void** slots_;
  std::int32_t mask_;
  std::int32_t head_;
  std::int32_t tail_;
};

// --- Inline definitions ------------------------------------------------------------------

inline PointerRing::PointerRing(std::int32_t sizeHint)
    : mask_(
          static_cast<std::int32_t>(std::bit_floor(static_cast<std::uint32_t>(sizeHint)) * 2 - 1)),
      head_(0),
      tail_(0) {
  VARNEL_ASSERT(sizeHint >= 1);
  slots_ = allocateArray<void*>(static_cast<std::uint64_t>(mask_) + 1);
}

inline PointerRing::~PointerRing() {
  freeArray(slots_, static_cast<std::uint64_t>(mask_) + 1);
  slots_ = nullptr;
}

}  // namespace varnel
