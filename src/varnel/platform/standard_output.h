// The last thing a program does before it returns: make sure its report reached standard
// output. A write that failed (a full disk, a closed descriptor) must not end with the exit code
// of a run whose results were printed.
#pragma once

namespace varnel {

// Exit code of a run whose standard output could not be written: above every other code of
// varnel-bench (0 to 3) and varnel-solve (0 to 4).
inline constexpr int kExitOutputLost = 5;

// Flushes std::cout and C's stdout and checks both for a failed write. Returns `exitCode` when
// everything was written; otherwise writes "Error: standard output could not be written: why"
// to standard error and returns kExitOutputLost.
// The reason is the failed write's own: the one noteStandardOutputState kept, else errno.
int finishStandardOutput(int exitCode);

// Called after a write to std::cout: the first time the stream has failed, keeps errno (the
// write's reason) before later calls of the program overwrite it.
void noteStandardOutputState();

}  // namespace varnel
