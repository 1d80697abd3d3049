// POSIX interrupts: SIGINT and SIGTERM handlers that only touch lock-free atomics, which is
// async-signal-safe; the second signal ends the process with _exit, also async-signal-safe.
#include <signal.h>
#include <unistd.h>

#include "varnel/platform/detail/interrupt_state.h"
#include "varnel/platform/platform.h"

namespace varnel::platform {
namespace {

void onSignal(int signal) {
  const int code = 128 + signal;  // 130 for SIGINT, 143 for SIGTERM, as shells report them
  if (!detail::noteInterrupt(code)) _exit(code);
}

}  // namespace

bool watchInterrupts(std::atomic<std::uint8_t>* flag, std::uint8_t value) {
  detail::watchInterruptFlag(flag, value);
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  // Restarted system calls: a write to standard output under way is not cut short.
  action.sa_flags = SA_RESTART;
  return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

}  // namespace varnel::platform
