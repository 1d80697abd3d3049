// POSIX threads that start suspended: each thread waits on its own semaphore before running
// its entry, and releaseThread posts that semaphore.
#include <pthread.h>
#include <semaphore.h>

#include <cerrno>
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

}  // namespace varnel::platform
