// SuccessionInt: a growable sequence in a pooled block, appended to by doubling. The 32-bit form
// collects integers; the 8-byte form (64-bit integers or pointers) shares the same design.
#pragma once

#include <cstdint>

#include "varnel/memory/arrays.h"
#include "varnel/platform/assert.h"
#include "varnel/solver/reversible.h"

namespace varnel {

template <class T>
class Succession : public Reversible {
  static_assert(sizeof(T) == 4 || sizeof(T) == 8, "elements are 4 or 8 bytes wide");

 public:
  // Empty, with room for `capacity` elements (0: no block; the first append grows it to 1).
  explicit Succession(std::int32_t capacity);
  ~Succession() override;

  // Appends v, doubling the block first when it is full.
  void pushBack(T v);
  // Appends v without the capacity test. Precondition: size() < capacity().
  void appendUnchecked(T v);

  T& operator[](std::int32_t i);
  const T& operator[](std::int32_t i) const;

  std::int32_t size() const { return size_; }
  std::int32_t capacity() const { return capacity_; }
  std::int32_t savedSize() const { return savedSize_; }
  T* data() { return data_; }
  const T* data() const { return data_; }

  // Forgets the elements from position `size` on. Precondition: 0 <= size <= capacity().
  void truncate(std::int32_t size);

 protected:
  void grow();

  T* data_;
  std::int32_t capacity_;
  std::int32_t size_;
  std::int32_t savedSize_;  // the size a restoration returns to (reversible form only)
};

using SuccessionInt = Succession<std::int32_t>;
using SuccessionInt64 = Succession<std::int64_t>;

// --- Inline definitions ------------------------------------------------------------------

template <class T>
Succession<T>::Succession(std::int32_t capacity)
    : data_(allocateArray<T>(static_cast<std::uint64_t>(capacity))),
      capacity_(capacity),
      size_(0),
      savedSize_(0) {
  VARNEL_ASSERT(capacity >= 0);
}

template <class T>
Succession<T>::~Succession() {
  freeArray(data_, static_cast<std::uint64_t>(capacity_));
  data_ = nullptr;
}

template <class T>
void Succession<T>::grow() {
  const std::int32_t capacity = doubledCapacity(capacity_);
  data_ =
      growArray(data_, static_cast<std::uint64_t>(capacity_), static_cast<std::uint64_t>(capacity));
  capacity_ = capacity;
}

template <class T>
inline void Succession<T>::pushBack(T v) {
  if (size_ == capacity_) [[unlikely]]
    grow();
  data_[size_++] = v;
}

template <class T>
inline void Succession<T>::appendUnchecked(T v) {
  VARNEL_ASSERT(size_ < capacity_);
  data_[size_++] = v;
}

template <class T>
inline T& Succession<T>::operator[](std::int32_t i) {
  VARNEL_ASSERT(i >= 0 && i < capacity_);
  return data_[i];
}

template <class T>
inline const T& Succession<T>::operator[](std::int32_t i) const {
  VARNEL_ASSERT(i >= 0 && i < capacity_);
  return data_[i];
}

template <class T>
inline void Succession<T>::truncate(std::int32_t size) {
  VARNEL_ASSERT(size >= 0 && size <= capacity_);
  size_ = size;
}

}  // namespace varnel
