// Set: a subset of 0 .. n-1 kept as a circular doubly linked list in two element-indexed int32
// arrays, with the sentinel at index n. Constant-time updates; iteration in link order.
#pragma once

#include <cstdint>

#include "varnel/memory/arrays.h"
#include "varnel/platform/assert.h"
#include "varnel/solver/reversible.h"

namespace varnel {

class Set : public Reversible {
 public:
  // An empty set over 0 .. n-1.
  explicit Set(std::int32_t n);
  ~Set() override;

  // Back to the state of a fresh Set(n); the arrays keep their blocks.
  void clear();
  // True when x is a member: prev[x] >= 0 and next[x] >= 0.
  bool contains(std::int32_t x) const;
  // Links x at the end when it is not a member; otherwise nothing.
  void insert(std::int32_t x);
  // Links x at the end. Precondition: x is not a member.
  void pushBack(std::int32_t x);
  // Unlinks the last member and marks it removed. Precondition: not empty.
  void popBack();
  // Unlinks x and marks it removed. Precondition: x is a member.
  void remove(std::int32_t x);
  // Links every x in 0 .. n-1 whose prev is negative, in increasing order.
  void fill();

  std::int32_t size() const { return size_; }
  std::int32_t universe() const { return universe_; }

  // Walking the list: for (x = first(); x != sentinel(); x = next(x)). A loop that removes the
  // member it visits reads next(x) before the removal.
  std::int32_t first() const { return next_[universe_]; }
  std::int32_t last() const { return prev_[universe_]; }
  std::int32_t next(std::int32_t x) const { return next_[x]; }
  std::int32_t sentinel() const { return universe_; }

  // Read-only range iteration (do not remove while iterating this way).
  class Iterator {
   public:
    Iterator(const std::int32_t* next, std::int32_t x) : next_(next), x_(x) {}
    std::int32_t operator*() const { return x_; }
    Iterator& operator++() {
      x_ = next_[x_];
      return *this;
    }
    bool operator!=(const Iterator& other) const { return x_ != other.x_; }

   private:
    const std::int32_t* next_;
    std::int32_t x_;
  };
  Iterator begin() const { return Iterator(next_, first()); }
  Iterator end() const { return Iterator(next_, universe_); }

  // The raw link arrays (n + 1 entries each), for reversible forms and structure checks.
  const std::int32_t* nextLinks() const { return next_; }
  const std::int32_t* prevLinks() const { return prev_; }

 protected:
  void linkAtEnd(std::int32_t x);
  void unlink(std::int32_t x);

  std::int32_t* next_;
  std::int32_t* prev_;
  std::int32_t universe_;
  std::int32_t size_;
};

// --- Inline definitions ------------------------------------------------------------------

inline bool Set::contains(std::int32_t x) const {
  VARNEL_ASSERT(x >= 0 && x < universe_);
  return (prev_[x] | next_[x]) >= 0;
}

inline void Set::linkAtEnd(std::int32_t x) {
  VARNEL_ASSERT(x >= 0 && x < universe_);
  const std::int32_t last = prev_[universe_];
  const std::int32_t after = next_[last];
  prev_[x] = last;
  next_[x] = after;
  next_[last] = x;
  prev_[after] = x;
  ++size_;
}

inline void Set::unlink(std::int32_t x) {
  const std::int32_t p = prev_[x];
  const std::int32_t s = next_[x];
  next_[p] = s;
  prev_[s] = p;
  next_[x] = -1;
  --size_;
}

inline void Set::insert(std::int32_t x) {
  if (!contains(x)) linkAtEnd(x);
}

inline void Set::pushBack(std::int32_t x) {
  VARNEL_ASSERT(!contains(x));
  linkAtEnd(x);
}

inline void Set::popBack() {
  VARNEL_ASSERT(size_ > 0);
  unlink(prev_[universe_]);
}

inline void Set::remove(std::int32_t x) {
  VARNEL_ASSERT(contains(x));
  unlink(x);
}

}  // namespace varnel
