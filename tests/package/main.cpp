// Uses the installed library: a pooled array and the main thread's allocator.
#include <cstdio>

#include "varnel/memory/allocator.h"
#include "varnel/memory/arrays.h"

int main() {
  auto* values = varnel::allocateArray<int>(10);
  for (int i = 0; i < 10; ++i) values[i] = i * i;
  const int sum = values[3] + values[9];
  varnel::freeArray(values, 10);
  const auto bytes = varnel::memoryConsumption(varnel::currentAllocator());
  std::printf("%d %llu\n", sum, static_cast<unsigned long long>(bytes));
  return sum == 90 && bytes == 2944 + 40 * 1024 ? 0 : 1;
}
