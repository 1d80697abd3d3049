// POSIX alarm: a thread that waits on a condition variable on CLOCK_MONOTONIC until its deadline
// or its cancellation, whichever comes first.
#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>

#include "varnel/platform/platform.h"

namespace varnel::platform {
namespace {

struct PosixAlarm {
  pthread_t thread;
  pthread_mutex_t mutex;
  pthread_cond_t wake;
  timespec deadline;
  void (*fire)(void*);
  void* context;
  bool cancelled;
};

void* alarmMain(void* raw) {
  auto* self = static_cast<PosixAlarm*>(raw);
  pthread_mutex_lock(&self->mutex);
  int waited = 0;
  while (!self->cancelled && waited != ETIMEDOUT) {
    waited = pthread_cond_timedwait(&self->wake, &self->mutex, &self->deadline);
  }
  const bool fire = !self->cancelled;
  pthread_mutex_unlock(&self->mutex);
  if (fire) self->fire(self->context);
  return nullptr;
}

}  // namespace

bool startAlarm(double seconds, void (*fire)(void* context), void* context, Alarm* out) {
  out->native = nullptr;
  auto* self = static_cast<PosixAlarm*>(std::malloc(sizeof(PosixAlarm)));
  if (self == nullptr) return false;
  self->fire = fire;
  self->context = context;
  self->cancelled = false;
  clock_gettime(CLOCK_MONOTONIC, &self->deadline);
  const auto whole = static_cast<long long>(seconds);
  long long nanoseconds =
      self->deadline.tv_nsec + static_cast<long long>((seconds - static_cast<double>(whole)) * 1e9);
  self->deadline.tv_sec += static_cast<time_t>(whole + nanoseconds / 1000000000);
  self->deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&self->wake, &attributes);
  pthread_condattr_destroy(&attributes);
  pthread_mutex_init(&self->mutex, nullptr);
  if (pthread_create(&self->thread, nullptr, alarmMain, self) != 0) {
    pthread_cond_destroy(&self->wake);
    pthread_mutex_destroy(&self->mutex);
    std::free(self);
    return false;
  }
  out->native = self;
  return true;
}

void cancelAlarm(Alarm alarm) {
  auto* self = static_cast<PosixAlarm*>(alarm.native);
  pthread_mutex_lock(&self->mutex);
  self->cancelled = true;
  pthread_cond_signal(&self->wake);
  pthread_mutex_unlock(&self->mutex);
  pthread_join(self->thread, nullptr);
  pthread_cond_destroy(&self->wake);
  pthread_mutex_destroy(&self->mutex);
  std::free(self);
}

}  // namespace varnel::platform
