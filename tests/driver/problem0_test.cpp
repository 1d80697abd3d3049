// Problem 0 end to end: the real varnel-bench prints the run line, the framed report with its
// labels in order, and a mean, ratio and power that follow from the printed times. Each run
// does 2e9 probes per thread plus the baseline, so there are only two runs.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run_bench.h"

namespace {

const std::string kSeparator(46, '-');

// The integer after `label` on `line`; fails the test when the line is anything else.
std::int64_t integerAfter(const std::string& line, const std::string& label) {
  EXPECT_EQ(line.compare(0, label.size(), label), 0)
      << "expected a line starting with \"" << label << "\", got \"" << line << "\"";
  std::int64_t value = -1;
  const char* first = line.data() + label.size();
  const char* last = line.data() + line.size();
  const auto [end, error] = std::from_chars(first, last, value);
  EXPECT_TRUE(error == std::errc() && end == last && first != last)
      << "\"" << line << "\" does not end with a plain decimal integer after its label";
  return value;
}

// A double as the report prints it: stream insertion in the default format.
std::string defaultFormat(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

// Checks a complete problem 0 output for `threads` workers and returns nothing; every line is
// derived from the ones before it.
void expectReport(const varnel::testing::BenchRun& run, const std::string& runLine, int threads,
                  int splitMem) {
  ASSERT_EQ(run.exitCode, 0) << "varnel-bench failed; standard error: " << run.err;
  EXPECT_EQ(run.err, "") << "problem 0 must write nothing to standard error";
  const std::vector<std::string> lines = run.lines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(10 + threads))
      << "run line, 2 separators, #threads, splitMem, main, elapsed, one line per thread, mean, "
         "ratio, power expected; got:\n"
      << run.out;
  std::size_t k = 0;
  EXPECT_EQ(lines[k++], runLine) << "run line";
  EXPECT_EQ(lines[k++], kSeparator) << "opening separator";
  EXPECT_EQ(lines[k++], "#threads " + std::to_string(threads)) << "thread count line";
  EXPECT_EQ(lines[k++], "splitMem: " + std::to_string(splitMem)) << "splitMem line";
  const std::int64_t mainTime = integerAfter(lines[k++], "main time: ");
  const std::int64_t elapsed = integerAfter(lines[k++], "elapsed time: ");
  std::int64_t sum = 0;
  for (int i = 0; i < threads; ++i) {
    const std::int64_t time = integerAfter(lines[k++], "thread " + std::to_string(i) + " time: ");
    EXPECT_GT(time, 0) << "thread " << i << ": 2e9 probes cannot take 0 ms";
    EXPECT_GE(elapsed, time) << "the elapsed interval must cover thread " << i << "'s work";
    sum += time;
  }
  const std::int64_t mean = integerAfter(lines[k++], "thread moyenne: ");
  EXPECT_GT(mainTime, 0) << "2e9 probes on the main thread cannot take 0 ms";
  EXPECT_EQ(mean, sum / threads) << "the mean must be the truncated sum / thread count";
  EXPECT_EQ(lines[k++],
            "ratio " + defaultFormat(static_cast<double>(mean) / static_cast<double>(mainTime)))
      << "ratio must be mean / main time in the default double format";
  EXPECT_EQ(lines[k++], "power: " + defaultFormat(static_cast<double>(threads * mainTime) /
                                                  static_cast<double>(mean)))
      << "power must be threads x main time / mean in the default double format";
  EXPECT_EQ(lines[k++], kSeparator) << "closing separator";
}

TEST(HashLookupProblem, TwoWorkersWithoutBudgetPrintTheFullReport) {
  expectReport(varnel::testing::runBench("0 2"),
               "run with pb=0 numThreads=2 mem=0 arity=10 numTuples=500 upper=10", 2, 0);
}

TEST(HashLookupProblem, OneWorkerWithBudgetReportsSplitMemory) {
  expectReport(varnel::testing::runBench("0 1 1"),
               "run with pb=0 numThreads=1 mem=1 arity=10 numTuples=500 upper=10", 1, 1);
}

}  // namespace
