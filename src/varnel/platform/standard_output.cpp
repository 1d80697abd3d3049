// The standard-output check, from the standard library alone: the stream states and errno.
#include "varnel/platform/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace varnel {
namespace {
int firstFailure = 0;  // errno when std::cout was first seen failed; 0 until then
}  // namespace

void noteStandardOutputState() {
  if (firstFailure == 0 && !std::cout.good()) firstFailure = errno != 0 ? errno : EIO;
}

int finishStandardOutput(int exitCode) {
  std::cout.flush();
  const bool flushed = std::fflush(stdout) == 0;
  // errno still holds the reason of the last failed write when nothing failed since.
  const int reason = firstFailure != 0 ? firstFailure : errno;
  if (flushed && std::ferror(stdout) == 0 && std::cout.good()) return exitCode;
  std::cerr << "Error: standard output could not be written"
            << (reason != 0 ? std::string(": ") + std::strerror(reason) : std::string())
            << std::endl;
  return kExitOutputLost;
}

}  // namespace varnel
