// HeapMinDouble and HeapMinInt64: indexed binary min-heaps over the elements 0 .. n-1 whose keys
// change in place. Positions above the live ones hold filler elements with the largest key, so a
// node that has a left child in the heap always has a right one to compare with.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>

#include "varnel/containers/array.h"
#include "varnel/memory/arrays.h"
#include "varnel/platform/assert.h"
#include "varnel/solver/reversible.h"

namespace varnel {

template <class Key>
class HeapMin : public Reversible {
  static_assert(sizeof(Key) == 8, "keys are 64-bit");

 public:
  // The key of every filler position.
  static constexpr Key kLargestKey = std::numeric_limits<Key>::max();

  // Positions for n elements: 2^(floor(log2 n) + 1) - 1. Precondition: n >= 1.
  static constexpr std::int32_t capacityFor(std::int32_t n);

  // The heap of elements 0 .. length-1 with keys values[0 .. length-1]. Precondition: length >= 1.
  explicit HeapMin(const Array<Key>& values);
  // An empty heap sized for `sizeHint` elements: every position a filler. Precondition: >= 1.
  explicit HeapMin(std::int32_t sizeHint);
  // Releases positionOf, elementAt and keys.
  ~HeapMin() override;

  // Changes the key of live element e and moves it to its place. An equal key changes nothing.
  void setKey(std::int32_t e, Key key);
  // Establishes the heap order over the live positions (bottom-up, Floyd 1964).
  void heapify();
  // Every live key back to the largest key, then no live element; the maps keep their contents.
  void clear();

  // Live elements.
  std::int32_t count() const { return count_; }
  // Positions, live and filler.
  std::int32_t capacity() const { return keys_.length(); }
  // Key at position p (not of element p).
  Key keyAt(std::int32_t p) const { return keys_[p]; }
  // Element at position p.
  std::int32_t elementAt(std::int32_t p) const { return elementAt_[p]; }
  // Position of element e.
  std::int32_t positionOf(std::int32_t e) const { return positionOf_[e]; }
  // Key of element e.
  Key keyOf(std::int32_t e) const { return keys_[positionOf_[e]]; }

  // Checks the maps, the heap order and the fillers; true when they hold.
  bool audit() const;

 private:
  void siftDown(std::int32_t p);
  void siftUp(std::int32_t p);

  Array<Key> keys_;
  std::int32_t* elementAt_;
  std::int32_t* positionOf_;
  std::int32_t count_;
};

// The heap with double keys.
using HeapMinDouble = HeapMin<double>;
// The heap with signed 64-bit keys.
using HeapMinInt64 = HeapMin<std::int64_t>;

// --- Inline definitions ------------------------------------------------------------------

template <class Key>
constexpr std::int32_t HeapMin<Key>::capacityFor(std::int32_t n) {
  return static_cast<std::int32_t>(std::bit_floor(static_cast<std::uint32_t>(n)) * 2 - 1);
}

template <class Key>
HeapMin<Key>::HeapMin(const Array<Key>& values)
    : keys_(capacityFor(values.length())),
      elementAt_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(keys_.length()))),
      positionOf_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(keys_.length()))),
      count_(values.length()) {
  VARNEL_ASSERT(values.length() >= 1);
  for (std::int32_t p = 0; p < keys_.length(); ++p) {
    elementAt_[p] = p;
    positionOf_[p] = p;
    keys_[p] = p < count_ ? values[p] : kLargestKey;
  }
  heapify();
}

template <class Key>
HeapMin<Key>::HeapMin(std::int32_t sizeHint)
    : keys_(capacityFor(sizeHint)),
      elementAt_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(keys_.length()))),
      positionOf_(allocateArray<std::int32_t>(static_cast<std::uint64_t>(keys_.length()))),
      count_(0) {
  VARNEL_ASSERT(sizeHint >= 1);
  for (std::int32_t p = 0; p < keys_.length(); ++p) {
    elementAt_[p] = p;
    positionOf_[p] = p;
    keys_[p] = kLargestKey;
  }
}

template <class Key>
HeapMin<Key>::~HeapMin() {
  const auto capacity = static_cast<std::uint64_t>(keys_.length());
  freeArray(positionOf_, capacity);
  freeArray(elementAt_, capacity);
  positionOf_ = nullptr;
  elementAt_ = nullptr;
}

template <class Key>
inline void HeapMin<Key>::siftDown(std::int32_t p) {
  Array<Key>& keys = keys_;  // indexed through the Array: debug builds check every position
  const Key k = keys[p];
  const std::int32_t x = elementAt_[p];
  const std::int32_t last = count_ - 1;
  for (std::int32_t c = 2 * p + 1; c <= last; c = 2 * p + 1) {
    // The right child exists whenever the left one is live: a filler when it is not.
    if (keys[c] > keys[c + 1]) ++c;
    if (keys[c] >= k) break;
    const std::int32_t child = elementAt_[c];
    elementAt_[p] = child;
    positionOf_[child] = p;
    keys[p] = keys[c];
    p = c;
  }
  elementAt_[p] = x;
  positionOf_[x] = p;
  keys[p] = k;
}

template <class Key>
inline void HeapMin<Key>::siftUp(std::int32_t p) {
  Array<Key>& keys = keys_;
  const Key k = keys[p];
  const std::int32_t x = elementAt_[p];
  while (p != 0) {
    const std::int32_t q = (p - 1) / 2;
    // Only a strictly smaller parent stops the ascent: on a tie the element rises.
    if (k > keys[q]) break;
    const std::int32_t parent = elementAt_[q];
    elementAt_[p] = parent;
    positionOf_[parent] = p;
    keys[p] = keys[q];
    p = q;
  }
  elementAt_[p] = x;
  positionOf_[x] = p;
  keys[p] = k;
}

template <class Key>
inline void HeapMin<Key>::setKey(std::int32_t e, Key key) {
  VARNEL_ASSERT(e >= 0 && e < count_);
  const std::int32_t p = positionOf_[e];
  Array<Key>& keys = keys_;
  if (keys[p] > key) {
    keys[p] = key;
    siftUp(p);
  } else if (key > keys[p]) {
    keys[p] = key;
    siftDown(p);
  }
}

template <class Key>
void HeapMin<Key>::heapify() {
  for (std::int32_t i = count_ / 2; i >= 0; --i) siftDown(i);
}

template <class Key>
void HeapMin<Key>::clear() {
  for (std::int32_t p = 0; p < count_; ++p) keys_[p] = kLargestKey;
  count_ = 0;
}

template <class Key>
bool HeapMin<Key>::audit() const {
  const std::int32_t capacity = keys_.length();
  if (count_ < 0 || count_ > capacity) return false;
  for (std::int32_t p = 0; p < capacity; ++p) {
    const std::int32_t e = elementAt_[p];
    if (e < 0 || e >= capacity || positionOf_[e] != p) return false;
    if (p > 0 && p < count_ && keys_[(p - 1) / 2] > keys_[p]) return false;
    if (p >= count_ && keys_[p] != kLargestKey) return false;
  }
  return true;
}

}  // namespace varnel
