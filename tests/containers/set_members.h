// Test support: the members of a Set in link order, and the integers 0 .. count-1, as plain
// vectors to compare with.
#pragma once

#include <cstdint>
#include <vector>

#include "varnel/containers/set.h"

namespace varnel::testing {

// Members in link order; a chain that does not come back to its sentinel shows as one member
// more than the universe, so that it can never equal a sound list.
inline std::vector<std::int32_t> membersOf(const Set& set) {
  std::vector<std::int32_t> members;
  for (std::int32_t x = set.first(); x != set.sentinel(); x = set.next(x)) {
    members.push_back(x);
    if (members.size() > static_cast<std::size_t>(set.universe())) break;
  }
  return members;
}

// 0, 1, .. count - 1.
inline std::vector<std::int32_t> firstIntegers(std::int32_t count) {
  std::vector<std::int32_t> values;
  for (std::int32_t i = 0; i < count; ++i) values.push_back(i);
  return values;
}

}  // namespace varnel::testing
