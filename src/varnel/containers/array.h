// Array: a fixed-length array in a pooled block. Elements are not initialised; each owner writes
// every element it later reads.
#pragma once

#include <cstdint>

#include "varnel/memory/arrays.h"
#include "varnel/platform/assert.h"
#include "varnel/solver/reversible.h"

namespace varnel {

template <class T>
class Array : public Reversible {
  static_assert(sizeof(T) == 4 || sizeof(T) == 8, "elements are 4 or 8 bytes wide");

 public:
  // `length` uninitialised elements; length 0 takes no block.
  explicit Array(std::int32_t length);
  // Returns the block to the calling thread's pool.
  ~Array() override;

  // Element i, 0 <= i < length(). No bounds check in release builds.
  T& operator[](std::int32_t i);
  const T& operator[](std::int32_t i) const;

  // Number of elements, fixed at construction.
  std::int32_t length() const { return length_; }
  // First element; null when the length is 0.
  T* data() { return data_; }
  const T* data() const { return data_; }

 private:
  T* data_;
  std::int32_t length_;
};

// --- Inline definitions ------------------------------------------------------------------

template <class T>
Array<T>::Array(std::int32_t length)
    : data_(allocateArray<T>(static_cast<std::uint64_t>(length))), length_(length) {
  VARNEL_ASSERT(length >= 0);
}

template <class T>
Array<T>::~Array() {
  freeArray(data_, static_cast<std::uint64_t>(length_));
  data_ = nullptr;
}

template <class T>
T& Array<T>::operator[](std::int32_t i) {
  VARNEL_ASSERT(i >= 0 && i < length_);
  return data_[i];
}

template <class T>
const T& Array<T>::operator[](std::int32_t i) const {
  VARNEL_ASSERT(i >= 0 && i < length_);
  return data_[i];
}

}  // namespace varnel
