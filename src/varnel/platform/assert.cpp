// Reporting of failed preconditions.
#include "varnel/platform/assert.h"

#include <cstdio>
#include <cstdlib>

namespace varnel::detail {

void assertionFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "varnel: assertion failed: %s (%s:%d)\n", condition, file, line);
  std::fflush(stderr);
  std::abort();
}

}  // namespace varnel::detail
