// Test support: the members of a Set in link order, as a plain vector.
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

}  // namespace varnel::testing
