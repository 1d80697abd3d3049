// SupportBucket: the tuples having one value of one variable, the still-valid ones first, so
// that invalidating a tuple or restoring the list is a swap and a count change.
#pragma once

#include <cstdint>

#include "varnel/memory/arrays.h"
#include "varnel/solver/reversible.h"

namespace varnel {

class SupportBucket : public Reversible {
 public:
  // Room for `capacity` tuple numbers (the tuples having the value), none valid yet.
  explicit SupportBucket(std::int32_t capacity);
  // Returns `items` to the calling thread's pool.
  ~SupportBucket() override;

  // Every tuple having this value, each once; the first `count` are the valid ones (the front).
  std::int32_t* items;
  // Length of `items`.
  std::int32_t capacity;
  // Size of the front.
  std::int32_t count;
};

// --- Inline definitions ------------------------------------------------------------------

inline SupportBucket::SupportBucket(std::int32_t capacity)
    : items(allocateArray<std::int32_t>(static_cast<std::uint64_t>(capacity))),
      capacity(capacity),
      count(0) {}

inline SupportBucket::~SupportBucket() {
  freeArray(items, static_cast<std::uint64_t>(capacity));
  items = nullptr;
}

}  // namespace varnel
