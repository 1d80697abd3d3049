// What every OS's interrupt handler shares: the watched flag and the first interrupt's exit
// code, all in lock-free atomics, so that a signal handler may touch them.
#pragma once

#include <atomic>
#include <cstdint>

namespace varnel::platform::detail {

// Remembers the flag and the value that the first interrupt stores into it.
void watchInterruptFlag(std::atomic<std::uint8_t>* flag, std::uint8_t value);

// Called by a handler with the exit code its interrupt asks for. The first call stores the
// value into the flag, keeps the code and returns true; every later call returns false: the
// handler then ends the process with that code. Async-signal-safe.
bool noteInterrupt(int exitCode);

}  // namespace varnel::platform::detail
