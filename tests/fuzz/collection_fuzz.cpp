// Fuzz target: Collection and AddressCollection against std::unordered_map. Items are drawn
// to collide (equal home slots, runs that wrap past the last slot, negative values) and to
// outgrow a small starting capacity, so probing, wrap-around and rehashing are all exercised.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "varnel/containers/collection.h"
#include "varnel/memory/pooled.h"

namespace {

// One item from the input: small values, multiples of a power of two (same home slot),
// values near the top of a 64-slot table, negatives, or any 64-bit word.
std::int64_t drawItem(varnel::fuzz::ByteReader& in) {
  switch (in.below(5)) {
    case 0:
      return in.below(32);
    case 1:
      return std::int64_t(in.below(16)) << (4 + in.below(4));
    case 2:
      return 60 + std::int64_t(in.below(8));
    case 3:
      return -std::int64_t(in.below(40)) - 1;
    default:
      return static_cast<std::int64_t>(in.word());
  }
}

std::uint64_t bitsOf(std::int64_t item) { return static_cast<std::uint64_t>(item); }
std::uint64_t bitsOf(const void* item) { return reinterpret_cast<std::uintptr_t>(item); }

template <class Item, class Hash>
void exercise(varnel::fuzz::ByteReader& in, Item (*toItem)(std::int64_t)) {
  using Coll = varnel::BasicCollection<Item, Hash>;
  const std::int32_t capacity = in.between(1, 9);
  Coll* c = varnel::newPooled<Coll>(capacity);
  std::unordered_map<std::int64_t, std::int32_t> model;
  std::vector<std::int64_t> order;
  for (int step = 0; in.more() && step < 512; ++step) {
    // The model is keyed by the item itself: two words can give the same address.
    const Item x = toItem(drawItem(in));
    const auto raw = static_cast<std::int64_t>(bitsOf(x));
    const auto known = model.find(raw);
    const std::int32_t expected = known == model.end() ? -1 : known->second;
    if (in.below(3) != 0) {
      c->push_back(x);
      if (known == model.end()) {
        model.emplace(raw, static_cast<std::int32_t>(order.size()));
        order.push_back(raw);
      }
    } else {
      VARNEL_FUZZ_CHECK(c->indexOf(x) == expected, "step %d: indexOf(%lld) = %d, expected %d", step,
                        static_cast<long long>(raw), c->indexOf(x), expected);
    }
    VARNEL_FUZZ_CHECK(c->size() == static_cast<std::int32_t>(order.size()),
                      "step %d: size %d, %zu distinct items pushed", step, c->size(), order.size());
    VARNEL_FUZZ_CHECK(c->slotCount() > 2 * c->capacity() && c->capacity() >= c->size(),
                      "step %d: %d slots for capacity %d and size %d", step, c->slotCount(),
                      c->capacity(), c->size());
  }
  for (std::int32_t e = 0; e < static_cast<std::int32_t>(order.size()); ++e) {
    const auto raw = static_cast<std::int64_t>(bitsOf(c->item(e)));
    VARNEL_FUZZ_CHECK(raw == order[e], "item number %d holds the wrong item", e);
    VARNEL_FUZZ_CHECK(c->indexOf(c->item(e)) == e, "item %lld found as %d, pushed as %d",
                      static_cast<long long>(order[e]), c->indexOf(c->item(e)), e);
  }
  std::int32_t taken = 0;
  for (std::int32_t p = 0; p < c->slotCount(); ++p) taken += c->slot(p) != -1;
  VARNEL_FUZZ_CHECK(taken == c->size(), "%d slots taken for %d items", taken, c->size());
  varnel::deletePooled(c);
}

std::int64_t asInteger(std::int64_t raw) { return raw; }
// Addresses are only hashed and compared, never read, so any 8-byte-aligned value will do.
const void* asAddress(std::int64_t raw) {
  return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(raw) << 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  varnel::fuzz::ByteReader in(data, size);
  if (in.below(2) == 0) {
    exercise<std::int64_t, varnel::IntegerHash>(in, asInteger);
  } else {
    exercise<const void*, varnel::AddressHash>(in, asAddress);
  }
  return 0;
}
