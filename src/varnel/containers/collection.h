// Collection: distinct 64-bit items in insertion order, found by an open-addressing table of
// 32-bit item numbers with linear probing. Two instances: integers (hashed by value) and object
// addresses (hashed by address >> 3, so 8-byte-aligned objects fill consecutive home slots).
#pragma once

#include <bit>
#include <cstdint>
#include <type_traits>

#include "varnel/memory/arrays.h"
#include "varnel/platform/assert.h"
#include "varnel/platform/clock.h"
#include "varnel/platform/compiler.h"
#include "varnel/solver/reversible.h"

namespace varnel {

// Home position of an integer item: the item itself.
struct IntegerHash {
  static std::int32_t of(std::int64_t item) { return static_cast<std::int32_t>(item); }
};

// Home position of an object address: the address shifted right by 3.
struct AddressHash {
  static std::int32_t of(const void* item) {
    return static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(item) >> 3);
  }
};

template <class Item, class Hash>
class BasicCollection : public Reversible {
  static_assert(sizeof(Item) == 8, "items are 64-bit");

 public:
  // Most slots a collection can have: the mask and the probe positions are 32-bit.
  static constexpr std::uint64_t kMaxSlotCount = std::uint64_t{1} << 31;

  // Room for `capacity` items (>= 1) and 4 x 2^floor(log2 capacity) empty slots. A capacity of
  // 2^30 or more would need more than kMaxSlotCount slots and ends the process with an
  // out-of-memory line; so does growing past kMaxSlotCount slots.
  explicit BasicCollection(std::int32_t capacity);
  // Returns both arrays to the calling thread's pools: the thread that built the collection.
  ~BasicCollection() override;

  // Item number of x, or -1 when absent.
  std::int32_t indexOf(Item x) const;
  // Appends x as item number size() when absent; nothing when present. Grows by doubling.
  void push_back(Item x);
  // The timed lookup burst: 100000 rounds of indexOf(i) and indexOf(i + 10000) for i < 10000.
  // Returns the elapsed milliseconds.
  std::int64_t timedLookups() const;

  std::int32_t size() const { return size_; }
  std::int32_t capacity() const { return capacity_; }
  std::int32_t slotCount() const { return mask_ + 1; }
  // Item number e, 0 <= e < size().
  Item item(std::int32_t e) const { return items_[e]; }
  // Slot p: an item number or -1.
  std::int32_t slot(std::int32_t p) const { return slots_[p]; }

 private:
  // The item whose integer value is i (the address i for the address instance).
  static Item itemOf(std::int64_t i);
  // Final position of the probe for x: the slot holding x, or the empty slot that ends the run.
  std::int32_t probe(Item x) const;
  void growAndRehash();

  std::int32_t* slots_;
  Item* items_;
  std::int32_t capacity_;
  std::int32_t mask_;
  std::int32_t size_;
};

using Collection = BasicCollection<std::int64_t, IntegerHash>;
using AddressCollection = BasicCollection<const void*, AddressHash>;

// --- Inline definitions ------------------------------------------------------------------

template <class Item, class Hash>
BasicCollection<Item, Hash>::BasicCollection(std::int32_t capacity) {
  VARNEL_ASSERT(capacity >= 1);
  // In 64 bits: from a capacity of 2^30 on, the slot count (2^32) exceeds what the 32-bit mask
  // and item numbers can reach, and is refused rather than wrapped around.
  const std::uint64_t slotCount = 4 * std::bit_floor(static_cast<std::uint64_t>(capacity));
  if (slotCount > kMaxSlotCount) [[unlikely]]
    exitBeyondIndexRange(slotCount);
  slots_ = allocateArray<std::int32_t>(slotCount);
  items_ = allocateArray<Item>(static_cast<std::uint64_t>(capacity));
  capacity_ = capacity;
  mask_ = static_cast<std::int32_t>(slotCount - 1);
  size_ = 0;
  for (std::uint64_t p = 0; p < slotCount; ++p) slots_[p] = -1;
}

template <class Item, class Hash>
BasicCollection<Item, Hash>::~BasicCollection() {
  freeArray(slots_, static_cast<std::uint64_t>(mask_) + 1);
  freeArray(items_, static_cast<std::uint64_t>(capacity_));
  slots_ = nullptr;
  items_ = nullptr;
}

// Positions are stepped in unsigned 32-bit arithmetic: with 2^31 slots the last position is
// INT32_MAX, and a signed + 1 there would overflow before the mask wraps it to 0.
template <class Item, class Hash>
inline std::int32_t BasicCollection<Item, Hash>::probe(Item x) const {
  const auto mask = static_cast<std::uint32_t>(mask_);
  std::uint32_t p = static_cast<std::uint32_t>(Hash::of(x)) & mask;
  std::int32_t e = slots_[p];
  while (e != -1 && items_[e] != x) {
    p = (p + 1) & mask;
    e = slots_[p];
  }
  return static_cast<std::int32_t>(p);
}

template <class Item, class Hash>
inline std::int32_t BasicCollection<Item, Hash>::indexOf(Item x) const {
  const auto mask = static_cast<std::uint32_t>(mask_);
  std::uint32_t p = static_cast<std::uint32_t>(Hash::of(x)) & mask;
  std::int32_t e = slots_[p];
  // The tables are sized so that most probes end at their first slot: keep that path free of
  // taken branches, which bound the lookup rate of a tight loop more than the slot read does.
  if (e == -1 || items_[e] == x) [[likely]]
    return e;
  do {
    p = (p + 1) & mask;
    e = slots_[p];
  } while (e != -1 && items_[e] != x);
  return e;
}

template <class Item, class Hash>
void BasicCollection<Item, Hash>::push_back(Item x) {
  std::int32_t p = probe(x);
  if (slots_[p] != -1) return;
  if (size_ >= capacity_) [[unlikely]] {
    growAndRehash();
    p = probe(x);
  }
  slots_[p] = size_;
  items_[size_] = x;
  ++size_;
}

template <class Item, class Hash>
void BasicCollection<Item, Hash>::growAndRehash() {
  const std::uint64_t slotCount = static_cast<std::uint64_t>(mask_) + 1;
  if (2 * slotCount > kMaxSlotCount) [[unlikely]]
    exitBeyondIndexRange(2 * slotCount);
  const std::int32_t capacity = doubledCapacity(capacity_);
  items_ = growArray(items_, static_cast<std::uint64_t>(capacity_),
                     static_cast<std::uint64_t>(capacity));
  capacity_ = capacity;
  slots_ = growArray(slots_, slotCount, 2 * slotCount);
  mask_ = static_cast<std::int32_t>(2 * slotCount - 1);
  for (std::uint64_t p = 0; p < 2 * slotCount; ++p) slots_[p] = -1;
  for (std::int32_t e = 0; e < size_; ++e) slots_[probe(items_[e])] = e;
}

template <class Item, class Hash>
inline Item BasicCollection<Item, Hash>::itemOf(std::int64_t i) {
  if constexpr (std::is_pointer_v<Item>) {
    return reinterpret_cast<Item>(static_cast<std::intptr_t>(i));
  } else {
    return static_cast<Item>(i);
  }
}

template <class Item, class Hash>
VARNEL_CODE_ALIGNED std::int64_t BasicCollection<Item, Hash>::timedLookups() const {
  const std::int64_t frequency = platform::counterFrequency();
  const std::int64_t start = platform::counterNow();
  for (std::int32_t round = 0; round < 100000; ++round) {
    // Each round reads the table afresh: nothing may be carried over from the previous one.
    clobberMemory();
    for (std::int32_t i = 0; i < 10000; ++i) {
      std::int32_t first = indexOf(itemOf(i));
      keepAlive(first);
      std::int32_t second = indexOf(itemOf(i + 10000));
      keepAlive(second);
    }
  }
  const std::int64_t end = platform::counterNow();
  return elapsedMilliseconds(start, end, frequency);
}

}  // namespace varnel
