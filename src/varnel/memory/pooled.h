// Single objects in pooled blocks. A pooled object is destroyed through its virtual destructor
// without releasing storage, and its block goes back by hand to the class of its own type.
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "varnel/memory/allocator.h"

namespace varnel {

// Constructs a T in a block of T's size class from the calling thread's pools.
template <class T, class... Args>
T* newPooled(Args&&... args);

// Destroys *slot (if not null), returns its block to the class of T and nulls the slot.
// T must be the object's own type: the block's class comes from sizeof(T).
template <class T>
void deletePooled(T*& slot);

// deletePooled on each of the first n slots, in index order.
template <class T>
void deletePooledArray(T** slots, std::int64_t n);

// --- Inline definitions ------------------------------------------------------------------

template <class T, class... Args>
T* newPooled(Args&&... args) {
  void* block = allocateBlock(kSizeClassOf<T>);
  return ::new (block) T(std::forward<Args>(args)...);
}

template <class T>
void deletePooled(T*& slot) {
  if (slot == nullptr) return;
  slot->~T();
  freeBlock(slot, kSizeClassOf<T>);
  slot = nullptr;
}

template <class T>
void deletePooledArray(T** slots, std::int64_t n) {
  for (std::int64_t i = 0; i < n; ++i) deletePooled(slots[i]);
}

}  // namespace varnel
