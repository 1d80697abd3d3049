// Uses the installed library: a pooled array, the main thread's allocator and the version.
#include <cstdio>

#include "varnel/memory/allocator.h"
#include "varnel/memory/arrays.h"
#include "varnel/version.h"

int main() {
  auto* values = varnel::allocateArray<int>(10);
  for (int i = 0; i < 10; ++i) values[i] = i * i;
  const int sum = values[3] + values[9];
  varnel::freeArray(values, 10);
  const auto bytes = varnel::memoryConsumption(varnel::currentAllocator());
  std::printf("%d %llu %s\n", sum, static_cast<unsigned long long>(bytes), VARNEL_VERSION);
  return sum == 90 && bytes == 2944 + 40 * 1024 ? 0 : 1;
}
