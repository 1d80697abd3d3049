// POSIX memory: total physical memory (pages times page size), the limits a process may be
// under below it (the resource limits and the control group's memory limit), and page-aligned
// heap blocks.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "varnel/platform/platform.h"

namespace varnel::platform {
namespace {

// The number a cgroup limit file holds; UINT64_MAX for "max", a missing file or anything else.
std::uint64_t readLimitFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return UINT64_MAX;
  char text[64] = {};
  const bool read = std::fgets(text, sizeof text, file) != nullptr;
  std::fclose(file);
  if (!read || text[0] < '0' || text[0] > '9') return UINT64_MAX;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  return static_cast<std::uint64_t>(value);
}

// The smallest limit of `file` in the group at `path` below `root` and in each of its ancestors:
// a parent's limit binds its children too.
std::uint64_t smallestUpTheTree(const std::string& root, std::string path, const char* file) {
  std::uint64_t smallest = UINT64_MAX;
  while (true) {
    const std::uint64_t limit = readLimitFile(root + path + "/" + file);
    if (limit < smallest) smallest = limit;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || path.empty()) break;
    path.resize(slash);
  }
  return smallest;
}

// The control group's memory limit from /proc/self/cgroup: "0::/path" (v2) or
// "N:...memory...:/path" (v1). v1 states "no limit" as a number near 2^63: anything from 2^62 on
// is taken as none.
std::uint64_t cgroupMemoryLimit(bool* version2) {
  std::FILE* file = std::fopen("/proc/self/cgroup", "r");
  if (file == nullptr) return UINT64_MAX;
  std::uint64_t smallest = UINT64_MAX;
  char line[4096];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = text.substr(first + 1, second - first - 1);
    const std::string path = text.substr(second + 1) == "/" ? "" : text.substr(second + 1);
    std::uint64_t limit = UINT64_MAX;
    if (text.compare(0, first, "0") == 0 && controllers.empty()) {
      limit = smallestUpTheTree("/sys/fs/cgroup", path, "memory.max");
      if (limit != UINT64_MAX) *version2 = true;
    } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
      limit = smallestUpTheTree("/sys/fs/cgroup/memory", path, "memory.limit_in_bytes");
      if (limit >= (std::uint64_t(1) << 62)) limit = UINT64_MAX;
      if (limit != UINT64_MAX) *version2 = false;
    }
    if (limit < smallest) smallest = limit;
  }
  std::fclose(file);
  return smallest;
}

}  // namespace

std::uint64_t totalPhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

MemoryLimit processMemoryLimit() {
  MemoryLimit smallest;
  const auto consider = [&](std::uint64_t bytes, const char* what) {
    if (bytes < smallest.bytes) smallest = MemoryLimit{bytes, what};
  };
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    consider(static_cast<std::uint64_t>(limit.rlim_cur), "address-space limit (ulimit -v)");
  }
  if (getrlimit(RLIMIT_DATA, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    consider(static_cast<std::uint64_t>(limit.rlim_cur), "data-segment limit (ulimit -d)");
  }
  bool version2 = true;
  const std::uint64_t group = cgroupMemoryLimit(&version2);
  consider(group, version2 ? "control group's memory limit (memory.max)"
                           : "control group's memory limit (memory.limit_in_bytes)");
  return smallest;
}

void* allocatePageAligned(std::uint64_t bytes) {
  void* block = nullptr;
  if (bytes > SIZE_MAX || posix_memalign(&block, 4096, static_cast<std::size_t>(bytes)) != 0) {
    return nullptr;
  }
  return block;
}

void releasePageAligned(void* block) { std::free(block); }

std::uint64_t pageFaults() {
  rusage usage{};
  if (getrusage(RUSAGE_THREAD, &usage) != 0) return 0;
  return static_cast<std::uint64_t>(usage.ru_minflt) + static_cast<std::uint64_t>(usage.ru_majflt);
}

bool standardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace varnel::platform
