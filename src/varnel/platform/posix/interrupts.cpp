// POSIX interrupts: SIGINT and SIGTERM handlers that only touch lock-free atomics, which is
// async-signal-safe; the second signal ends the process with _exit, also async-signal-safe.
#include <signal.h>
#include <unistd.h>

#include "varnel/platform/platform.h"

namespace varnel::platform {
namespace {

std::atomic<std::uint8_t>* watchedFlag = nullptr;
std::uint8_t watchedValue = 0;
std::atomic<int> firstExitCode{0};
std::atomic<int> interruptCount{0};
static_assert(std::atomic<int>::is_always_lock_free, "used in a signal handler");

void onSignal(int signal) {
  const int code = 128 + signal;  // 130 for SIGINT, 143 for SIGTERM, as shells report them
  if (interruptCount.fetch_add(1, std::memory_order_relaxed) > 0) _exit(code);
  firstExitCode.store(code, std::memory_order_relaxed);
  std::uint8_t none = 0;
  watchedFlag->compare_exchange_strong(none, watchedValue, std::memory_order_relaxed);
}

}  // namespace

bool watchInterrupts(std::atomic<std::uint8_t>* flag, std::uint8_t value) {
  watchedFlag = flag;
  watchedValue = value;
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  // Restarted system calls: a write to standard output under way is not cut short.
  action.sa_flags = SA_RESTART;
  return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

int interruptExitCode() { return firstExitCode.load(std::memory_order_relaxed); }

}  // namespace varnel::platform
