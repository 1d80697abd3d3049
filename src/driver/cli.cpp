// Parsing and checking of the six positional arguments.
#include "driver/cli.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>

#include "driver/problems.h"

namespace varnel::driver {

std::int32_t parseArgument(const char* text) {
  // long is 64-bit on Linux and 32-bit on Windows; strtol saturates at its own limits either way.
  const long value = std::strtol(text, nullptr, 10);
  constexpr long kMin = std::numeric_limits<std::int32_t>::min();
  constexpr long kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value < kMin ? kMin : value > kMax ? kMax : value);
}

RunParameters parseCommandLine(int argc, const char* const* argv) {
  RunParameters p;
  std::int32_t* fields[] = {&p.pb, &p.numThreads, &p.mem, &p.arity, &p.numTuples, &p.upper};
  for (int k = 1; k <= 6 && argc > k; ++k) *fields[k - 1] = parseArgument(argv[k]);
  return p;
}

void printRunLine(const RunParameters& p) {
  std::printf("run with pb=%d numThreads=%d mem=%d arity=%d numTuples=%d upper=%d\n", p.pb,
              p.numThreads, p.mem, p.arity, p.numTuples, p.upper);
  std::fflush(stdout);
}

namespace {

std::string outOfRange(const char* name, std::int32_t value, const char* range) {
  return std::string("Error: invalid argument ") + name + "=" + std::to_string(value) +
         ": accepted range is " + range;
}

}  // namespace

std::string invalidParameterMessage(const RunParameters& p) {
  constexpr const char* kPositive = "1 to 2147483647";
  if (p.pb == 0 || p.pb == 1) {
    if (p.numThreads < 1) return outOfRange("numThreads", p.numThreads, kPositive);
  }
  if (p.pb == 1) {
    if (p.arity < 1) return outOfRange("arity", p.arity, kPositive);
    if (p.numTuples < 1) return outOfRange("numTuples", p.numTuples, kPositive);
    if (p.upper < 1) return outOfRange("upper", p.upper, kPositive);
  }
  if (p.pb == 2 && p.numThreads < 0) {
    return outOfRange("numThreads", p.numThreads,
                      "0 to 2147483647 (the element count of problem 2)");
  }
  return {};
}

void exitProblemNotAvailable(int pb) {
  std::cout.flush();
  std::cerr << "varnel-bench: problem " << pb << " is not available in this build" << std::endl;
  std::exit(kExitNotAvailable);
}

}  // namespace varnel::driver
