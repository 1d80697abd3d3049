// The command line: six positional integers with defaults, converted as strtol does and clamped
// to 32 bits, and the checks that keep the problems within what they can run.
#pragma once

#include <cstdint>
#include <string>

namespace varnel::driver {

struct RunParameters {
  std::int32_t pb = 0;           // which problem: 0, 1 or 2
  std::int32_t numThreads = 1;   // worker threads (0, 1); element count (2)
  std::int32_t mem = 0;          // above 0: split memory, a fixed budget per worker
  std::int32_t arity = 10;       // problem 1: variables of the table
  std::int32_t numTuples = 500;  // problem 1: tuples of the table
  std::int32_t upper = 10;       // problem 1: values per domain
};

// strtol semantics in base 10 (leading blanks, one sign, digits up to the first non-digit; no
// digit gives 0), clamped to the 32-bit range.
std::int32_t parseArgument(const char* text);

// Argument k (1-based) is read when argc > k; arguments past the sixth are ignored.
RunParameters parseCommandLine(int argc, const char* const* argv);

// The run line: "run with pb=%d numThreads=%d mem=%d arity=%d numTuples=%d upper=%d\n".
void printRunLine(const RunParameters& parameters);

// Empty when the chosen problem can run with these values; otherwise the line to print on
// standard error, naming the argument, its value and the accepted range.
std::string invalidParameterMessage(const RunParameters& parameters);

}  // namespace varnel::driver
