// Fuzz target: the command-line conversion and checks against two models built apart from them,
// a digit-by-digit reading with saturation and strtoll followed by a clamp to 32 bits. The input
// is split at NUL bytes into up to nine arguments; its first byte chooses how many are passed.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/cli.h"
#include "fuzz/fuzz_support.h"

namespace {

using varnel::driver::RunParameters;

// strtol's reading, written out: blanks of the C locale, one sign, then digits until the first
// other character; no digit gives 0; the magnitude saturates just above the 32-bit range.
std::int32_t digitModel(const char* text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  std::int64_t magnitude = 0;
  while (*p >= '0' && *p <= '9') {
    magnitude = magnitude * 10 + (*p++ - '0');
    if (magnitude > std::int64_t(1) << 32) magnitude = std::int64_t(1) << 32;
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

// The C library's own 64-bit reading, clamped.
std::int32_t strtollModel(const char* text) {
  const long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

std::string rangeMessage(const char* name, std::int32_t value, const char* range) {
  return std::string("Error: invalid argument ") + name + "=" + std::to_string(value) +
         ": accepted range is " + range;
}

// Which problems can run with which values: a positive thread count for the scalability
// problems, positive table sizes for problem 1, a count of at least 0 for problem 2.
std::string expectedMessage(const RunParameters& p) {
  const char* positive = "1 to 2147483647";
  if ((p.pb == 0 || p.pb == 1) && p.numThreads < 1) {
    return rangeMessage("numThreads", p.numThreads, positive);
  }
  if (p.pb == 1) {
    if (p.arity < 1) return rangeMessage("arity", p.arity, positive);
    if (p.numTuples < 1) return rangeMessage("numTuples", p.numTuples, positive);
    if (p.upper < 1) return rangeMessage("upper", p.upper, positive);
  }
  if (p.pb == 2 && p.numThreads < 0) {
    return rangeMessage("numThreads", p.numThreads,
                        "0 to 2147483647 (the element count of problem 2)");
  }
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t wanted = size == 0 ? 0 : data[0] % 10;
  std::vector<std::string> pieces;
  std::string current;
  for (std::size_t k = 1; k < size; ++k) {
    if (data[k] == 0) {
      pieces.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[k]);
    }
  }
  pieces.push_back(current);
  pieces.resize(wanted);  // missing arguments are empty strings

  std::vector<const char*> argv{"varnel-bench"};
  for (const std::string& piece : pieces) argv.push_back(piece.c_str());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size()) - 1;

  for (const std::string& piece : pieces) {
    const std::int32_t parsed = varnel::driver::parseArgument(piece.c_str());
    VARNEL_FUZZ_CHECK(parsed == digitModel(piece.c_str()),
                      "parseArgument(\"%s\") = %d, the digit reading gives %d", piece.c_str(),
                      parsed, digitModel(piece.c_str()));
    VARNEL_FUZZ_CHECK(parsed == strtollModel(piece.c_str()),
                      "parseArgument(\"%s\") = %d, strtoll clamped gives %d", piece.c_str(), parsed,
                      strtollModel(piece.c_str()));
  }

  const RunParameters p = varnel::driver::parseCommandLine(argc, argv.data());
  const std::int32_t got[] = {p.pb, p.numThreads, p.mem, p.arity, p.numTuples, p.upper};
  const std::int32_t defaults[] = {0, 1, 0, 10, 500, 10};
  for (int k = 1; k <= 6; ++k) {
    const std::int32_t expected = argc > k ? digitModel(argv[k]) : defaults[k - 1];
    VARNEL_FUZZ_CHECK(got[k - 1] == expected, "argument %d of %d arguments read as %d, expected %d",
                      k, argc - 1, got[k - 1], expected);
  }

  const std::string message = varnel::driver::invalidParameterMessage(p);
  const std::string expected = expectedMessage(p);
  VARNEL_FUZZ_CHECK(message == expected,
                    "pb=%d numThreads=%d arity=%d numTuples=%d upper=%d: message \"%s\", "
                    "expected \"%s\"",
                    p.pb, p.numThreads, p.arity, p.numTuples, p.upper, message.c_str(),
                    expected.c_str());
  return 0;
}
