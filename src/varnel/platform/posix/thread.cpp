// POSIX threads that start suspended: each thread waits on its own semaphore before running
// its entry, and releaseThread posts that semaphore.
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "varnel/platform/platform.h"

namespace varnel::platform {
namespace {

struct PosixThread {
  pthread_t thread;
  sem_t gate;
  ThreadEntry entry;
  void* argument;
  unsigned exitCode;
};

// The first number in a file such as /proc/sys/kernel/threads-max; 0 when there is none.
std::uint64_t numberInFile(const char* path) {
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return 0;
  unsigned long long value = 0;
  if (std::fscanf(file, "%llu", &value) != 1) value = 0;
  std::fclose(file);
  return value;
}

void* threadStart(void* raw) {
  auto* self = static_cast<PosixThread*>(raw);
  while (sem_wait(&self->gate) != 0) {
    // Interrupted by a signal: keep waiting for the release.
  }
  self->exitCode = self->entry(self->argument);
  return nullptr;
}

}  // namespace

bool createSuspendedThread(ThreadEntry entry, void* argument, ThreadHandle* out) {
  out->native = nullptr;
  auto* self = static_cast<PosixThread*>(std::malloc(sizeof(PosixThread)));
  if (self == nullptr) return false;
  self->entry = entry;
  self->argument = argument;
  self->exitCode = 0;
  if (sem_init(&self->gate, 0, 0) != 0) {
    std::free(self);
    return false;
  }
  if (pthread_create(&self->thread, nullptr, threadStart, self) != 0) {
    sem_destroy(&self->gate);
    std::free(self);
    return false;
  }
  out->native = self;
  return true;
}

void releaseThread(ThreadHandle handle) {
  sem_post(&static_cast<PosixThread*>(handle.native)->gate);
}

unsigned joinThread(ThreadHandle handle) {
  auto* self = static_cast<PosixThread*>(handle.native);
  pthread_join(self->thread, nullptr);
  return self->exitCode;
}

void closeThread(ThreadHandle handle) {
  auto* self = static_cast<PosixThread*>(handle.native);
  sem_destroy(&self->gate);
  std::free(self);
}

// Linux bounds the threads of the whole system twice: by kernel.threads-max, and by the process
// ids, of which every thread takes one below kernel.pid_max (id 0 is never given). The per-user
// RLIMIT_NPROC is left out: it does not bind a privileged user, so it cannot refuse for sure.
// Other systems without these files set no limit here.
std::uint64_t maxThreadCount() {
  std::uint64_t limit = UINT64_MAX;
  if (const std::uint64_t threads = numberInFile("/proc/sys/kernel/threads-max"); threads > 0) {
    limit = std::min(limit, threads);
  }
  if (const std::uint64_t pids = numberInFile("/proc/sys/kernel/pid_max"); pids > 1) {
    limit = std::min(limit, pids - 1);
  }
  return limit;
}

namespace {

// The processors this process may use, as they were before this file pinned any thread. A thread
// starts with the mask of the thread that created it, so after one pin the calling thread's own
// mask would name that one processor, and every thread its children pin would land there too.
// Read once, at the first pin: until then no thread has been narrowed here.
const cpu_set_t* processProcessors() {
  static const cpu_set_t allowed = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) CPU_ZERO(&set);
    return set;
  }();
  return &allowed;
}

}  // namespace

bool pinCurrentThread(unsigned cpu) {
  const cpu_set_t* allowed = processProcessors();
  const int count = CPU_COUNT(allowed);
  if (count == 0) return false;
  // The (cpu mod count)-th processor this process may use.
  int wanted = static_cast<int>(cpu % static_cast<unsigned>(count));
  for (int k = 0; k < CPU_SETSIZE; ++k) {
    if (!CPU_ISSET(k, allowed) || wanted-- != 0) continue;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(k, &one);
    return pthread_setaffinity_np(pthread_self(), sizeof one, &one) == 0;
  }
  return false;
}

unsigned currentProcessor() {
  const int processor = sched_getcpu();
  return processor < 0 ? 0 : static_cast<unsigned>(processor);
}

}  // namespace varnel::platform
