// Win32 memory: total physical memory from the global memory status, the limits of the job
// object the process may run in, and page-aligned heap blocks.
// clang-format off
#include "windows_api.h"  // first: the Windows headers, lean
// clang-format on
#include <malloc.h>
#include <psapi.h>

#include <cstdint>

#include "varnel/platform/platform.h"

namespace varnel::platform {

std::uint64_t totalPhysicalMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);  // the call fails unless the caller states the size (64)
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

MemoryLimit processMemoryLimit() {
  MemoryLimit smallest;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
  // A null handle asks about the job the calling process is in; outside any job the call fails.
  if (!QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &info, sizeof info,
                                 nullptr)) {
    return smallest;
  }
  const DWORD flags = info.BasicLimitInformation.LimitFlags;
  if ((flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) != 0 && info.ProcessMemoryLimit > 0) {
    smallest = MemoryLimit{info.ProcessMemoryLimit, "job object's process memory limit"};
  }
  if ((flags & JOB_OBJECT_LIMIT_JOB_MEMORY) != 0 && info.JobMemoryLimit > 0 &&
      info.JobMemoryLimit < smallest.bytes) {
    smallest = MemoryLimit{info.JobMemoryLimit, "job object's memory limit"};
  }
  return smallest;
}

void* allocatePageAligned(std::uint64_t bytes) {
  return bytes > SIZE_MAX ? nullptr : _aligned_malloc(static_cast<std::size_t>(bytes), 4096);
}

void releasePageAligned(void* block) { _aligned_free(block); }

std::uint64_t pageFaults() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  // The kernel32 entry point of GetProcessMemoryInfo (Windows 7 on): no psapi library to link.
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PageFaultCount;
}

bool standardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace varnel::platform
