// POSIX memory: total physical memory (pages times page size), and faulting in a range at once.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "varnel/platform/platform.h"

namespace varnel::platform {

std::uint64_t totalPhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

void prefaultRange([[maybe_unused]] void* start, [[maybe_unused]] std::uint64_t bytes) {
#ifdef MADV_POPULATE_WRITE
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGE_SIZE));
  const auto first = (reinterpret_cast<std::uintptr_t>(start) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(start) + bytes) & ~(page - 1);
  // Kernels before 5.14 answer EINVAL: the pages then fault in at first touch, as before.
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#endif
}

}  // namespace varnel::platform
