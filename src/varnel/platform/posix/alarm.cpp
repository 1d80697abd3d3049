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
  long long periodNs;  // 0: one shot
  void (*fire)(void*);
  void* context;
  bool cancelled;
};

void addNanoseconds(timespec* t, long long nanoseconds) {
  nanoseconds += t->tv_nsec;
  t->tv_sec += static_cast<time_t>(nanoseconds / 1000000000);
  t->tv_nsec = static_cast<long>(nanoseconds % 1000000000);
}

void* alarmMain(void* raw) {
  auto* self = static_cast<PosixAlarm*>(raw);
  pthread_mutex_lock(&self->mutex);
  while (true) {
    int waited = 0;
    while (!self->cancelled && waited != ETIMEDOUT) {
      waited = pthread_cond_timedwait(&self->wake, &self->mutex, &self->deadline);
    }
    if (self->cancelled) break;
    // fire runs unlocked, so that a cancel during it does not wait for the lock.
    pthread_mutex_unlock(&self->mutex);
    self->fire(self->context);
    pthread_mutex_lock(&self->mutex);
    if (self->periodNs == 0) break;
    addNanoseconds(&self->deadline, self->periodNs);
  }
  pthread_mutex_unlock(&self->mutex);
  return nullptr;
}

}  // namespace

bool startAlarm(double seconds, void (*fire)(void* context), void* context, Alarm* out,
                double period) {
  out->native = nullptr;
  auto* self = static_cast<PosixAlarm*>(std::malloc(sizeof(PosixAlarm)));
  if (self == nullptr) return false;
  self->fire = fire;
  self->context = context;
  self->cancelled = false;
  // A period is at least a millisecond, so that a repeating alarm never spins.
  self->periodNs = period > 0 ? static_cast<long long>(period < 1e-3 ? 1e6 : period * 1e9) : 0;
  clock_gettime(CLOCK_MONOTONIC, &self->deadline);
  const auto whole = static_cast<long long>(seconds);
  self->deadline.tv_sec += static_cast<time_t>(whole);
  addNanoseconds(&self->deadline,
                 static_cast<long long>((seconds - static_cast<double>(whole)) * 1e9));
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
