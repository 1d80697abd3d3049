// Problem 2 end to end on the built varnel-bench: the 27 lines between the separators, every
// label in order with its trailing blanks, the checksums of the iteration tests for several
// element counts, rates printed in the default six-significant-digit format, and zero rates
// when there are no elements.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/run_bench.h"

namespace varnel {
namespace {

enum class Line { kRate, kChecksum, kPimplSize };

struct Expected {
  Line kind;
  const char* label;  // the literal before the value; empty for a checksum line
  bool dependsOnN;    // a rate whose operation count is n x passes
};

// The suite's lines in order: one result line per timed section, a checksum line before the
// result of each iteration test, and the handle-size line.
const std::vector<Expected>& expectedLines() {
  static const std::vector<Expected> lines = {
      {Line::kRate, "test push/pop restoration point : ", false},
      {Line::kRate, "test Solver creation/deletion : ", false},
      {Line::kRate, "test Solver clear : ", false},
      {Line::kChecksum, "", true},
      {Line::kRate, "test Set_iteration iterator : ", true},
      {Line::kChecksum, "", true},
      {Line::kRate, "test Array_iteration iterator : ", true},
      {Line::kPimplSize, "SuccessionInt Pimpl size: ", false},
      {Line::kChecksum, "", true},
      {Line::kRate, "test Succession_Pimpl_iteration iterator : ", true},
      {Line::kChecksum, "", true},
      {Line::kRate, "test Succession_iteration iterator : ", true},
      {Line::kRate, "test HeapMinDouble : ", false},
      {Line::kRate, "test HeapMinDouble Int64: ", false},
      {Line::kRate, "test HeapMinInt64: ", false},
      {Line::kRate, "test Set push/pop : ", true},
      {Line::kRate, "test SetRev push_back: ", false},
      {Line::kRate, "test SetRev pop_back : ", false},
      {Line::kRate, "test Collection push_back obj: ", false},
      {Line::kRate, "test SetRev push_back obj: ", false},
      {Line::kRate, "test SetRev pop_back obj: ", false},
      {Line::kRate, "test SetRev push_front: ", false},
      {Line::kRate, "test SetRev pop_front : ", false},
      {Line::kRate, "test Digraph arc addition : ", false},
      {Line::kRate, "test DigraphRev arc addition : ", false},
      {Line::kRate, "test Graph edge addition : ", false},
      {Line::kRate, "test GraphRev edge addition : ", false},
  };
  return lines;
}

const std::string kSeparator(46, '-');

// Significant digits of a number printed in the default general format.
int significantDigits(const std::string& text) {
  std::string mantissa = text.substr(0, text.find_first_of("eE"));
  int digits = 0;
  bool leading = true;
  for (char c : mantissa) {
    if (c < '0' || c > '9') continue;
    if (leading && c == '0') continue;
    leading = false;
    ++digits;
  }
  return digits;
}

// The suite's lines between the separators, checked for their labels; the values after the
// labels, in order (checksums as they are, rates and the size as doubles).
struct Suite {
  std::vector<std::int64_t> checksums;
  std::vector<double> rates;  // in line order
  std::vector<bool> rateDependsOnN;
};

Suite runSuite(std::int32_t n) {
  const testing::BenchRun run = testing::runBench("2 " + std::to_string(n));
  Suite suite;
  EXPECT_EQ(run.exitCode, 0) << "varnel-bench 2 " << n << " failed: " << run.err;
  EXPECT_TRUE(run.err.empty()) << "standard error must stay empty: " << run.err;
  const std::vector<std::string> lines = run.lines();
  const std::vector<Expected>& expected = expectedLines();
  EXPECT_EQ(expected.size(), 27u) << "the suite has 22 results, 4 checksums and 1 size line";
  if (lines.size() != expected.size() + 3) {
    ADD_FAILURE() << "expected the run line, two separators and 27 lines, got " << lines.size()
                  << " lines:\n"
                  << run.out;
    return suite;
  }
  EXPECT_EQ(lines[0], "run with pb=2 numThreads=" + std::to_string(n) +
                          " mem=0 arity=10 numTuples=500 upper=10")
      << "run line";
  EXPECT_EQ(lines[1], kSeparator) << "opening separator";
  EXPECT_EQ(lines.back(), kSeparator) << "closing separator";
  for (std::size_t k = 0; k < expected.size(); ++k) {
    const std::string& line = lines[k + 2];
    const std::string label = expected[k].label;
    if (line.compare(0, label.size(), label) != 0) {
      ADD_FAILURE() << "line " << k + 1 << " must start with \"" << label << "\": \"" << line
                    << "\"";
      continue;
    }
    const std::string value = line.substr(label.size());
    char* end = nullptr;
    switch (expected[k].kind) {
      case Line::kChecksum: {
        const long long checksum = std::strtoll(value.c_str(), &end, 10);
        EXPECT_TRUE(!value.empty() && *end == '\0') << "checksum line " << k + 1 << ": " << line;
        suite.checksums.push_back(checksum);
        break;
      }
      case Line::kPimplSize:
        EXPECT_EQ(value, "8") << "the handle is one 8-byte pointer";
        break;
      case Line::kRate: {
        const double rate = std::strtod(value.c_str(), &end);
        EXPECT_TRUE(!value.empty() && *end == '\0' && value[0] != ' ')
            << "line " << k + 1 << " must be the label then a number: \"" << line << "\"";
        EXPECT_LE(significantDigits(value), 6)
            << "rates print with six significant digits: " << line;
        suite.rates.push_back(rate);
        suite.rateDependsOnN.push_back(expected[k].dependsOnN);
        break;
      }
    }
  }
  return suite;
}

TEST(Problem2, TenElementsPrintTheStatedLinesAndChecksums) {
  const Suite suite = runSuite(10);
  EXPECT_EQ(suite.checksums, (std::vector<std::int64_t>{50000, 50000, 500000, 500000}))
      << "checksums of the four iteration tests for n = 10";
  ASSERT_EQ(suite.rates.size(), 22u) << "22 result lines";
  for (std::size_t k = 0; k < suite.rates.size(); ++k) {
    EXPECT_TRUE(std::isfinite(suite.rates[k]) && suite.rates[k] > 0)
        << "rate " << k << " must be a positive number of millions per second";
  }
}

TEST(Problem2, ChecksumsCountTheOddMembersOfEveryPass) {
  for (std::int32_t n : {1, 7}) {
    const Suite suite = runSuite(n);
    const std::int64_t odd = n / 2;  // members 0 .. n-1, and element e of the successions is e
    EXPECT_EQ(suite.checksums,
              (std::vector<std::int64_t>{10000 * odd, 10000 * odd, 100000 * odd, 100000 * odd}))
        << "checksums for n = " << n;
  }
}

TEST(Problem2, NoElementsGiveZeroChecksumsAndZeroRates) {
  const Suite suite = runSuite(0);
  EXPECT_EQ(suite.checksums, (std::vector<std::int64_t>{0, 0, 0, 0})) << "checksums for n = 0";
  ASSERT_EQ(suite.rates.size(), 22u) << "22 result lines";
  for (std::size_t k = 0; k < suite.rates.size(); ++k) {
    if (suite.rateDependsOnN[k]) {
      EXPECT_EQ(suite.rates[k], 0.0) << "rate " << k << " counts no operation when n = 0";
    } else {
      EXPECT_GT(suite.rates[k], 0.0) << "rate " << k << " does not depend on n";
    }
  }
}

}  // namespace
}  // namespace varnel
