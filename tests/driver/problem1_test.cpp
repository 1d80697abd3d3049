// Problem 1 end to end: the real varnel-bench, its line structure and labels, the memory lines
// against the machine and a table built here, and the arithmetic of the report block.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run_bench.h"
#include "memory/thread_allocator.h"
#include "runner/runner.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/pooled.h"
#include "varnel/platform/platform.h"
#include "varnel/table/tuple_table.h"

namespace varnel {
namespace {

const std::string kSeparator(46, '-');

// The integer after `label` at the start of `line`; fails the test when the line differs.
std::int64_t integerAfter(const std::string& line, const std::string& label) {
  EXPECT_EQ(line.substr(0, label.size()), label) << "line \"" << line << "\" lacks its label";
  std::size_t used = 0;
  const std::string rest = line.substr(std::min(label.size(), line.size()));
  std::int64_t value = -1;
  try {
    value = std::stoll(rest, &used);
  } catch (...) {
    ADD_FAILURE() << "no integer after \"" << label << "\" in \"" << line << "\"";
    return -1;
  }
  EXPECT_EQ(used, rest.size()) << "trailing text after the integer in \"" << line << "\"";
  return value;
}

// The bytes the main thread's allocator holds once a table of these sizes is built and filled,
// measured here on a fresh allocator (the driver's main thread allocates nothing else before).
std::uint64_t tableMemory(std::int32_t arity, std::int32_t numTuples, std::int32_t upper) {
  std::uint64_t bytes = 0;
  testing::onFreshAllocator(0, [&] {
    TupleTable* table = newPooled<TupleTable>(arity, numTuples, upper);
    table->fillRandom(upper);
    bytes = memoryConsumption(currentAllocator());
    deletePooled(table);
  });
  return bytes;
}

std::string doubleText(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

// Runs varnel-bench and checks every line of a problem-1 run with these arguments.
void expectProblemOneRun(std::int32_t numThreads, std::int32_t mem, std::int32_t arity,
                         std::int32_t numTuples, std::int32_t upper, const std::string& args) {
  const testing::BenchRun run = testing::runBench(args);
  ASSERT_EQ(run.exitCode, 0) << "exit code of \"" << args << "\"; stderr: " << run.err;
  EXPECT_EQ(run.err, "") << "problem 1 writes nothing to standard error";
  const std::vector<std::string> lines = run.lines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(17 + numThreads))
      << "line count of \"" << args << "\":\n"
      << run.out;

  std::ostringstream runLine;
  runLine << "run with pb=1 numThreads=" << numThreads << " mem=" << mem << " arity=" << arity
          << " numTuples=" << numTuples << " upper=" << upper;
  EXPECT_EQ(lines[0], runLine.str()) << "run line";
  EXPECT_EQ(lines[1], kSeparator) << "opening separator";
  EXPECT_EQ(lines[2], "#threads " + std::to_string(numThreads)) << "thread-count line";

  const bool splitMem = mem > 0;
  std::ostringstream memoryLine;
  memoryLine << "physical Memory: " << platform::totalPhysicalMemory()
             << " memThread: " << runner::perThreadBudget(numThreads, splitMem);
  EXPECT_EQ(lines[3], memoryLine.str()) << "physical memory and per-thread budget";
  if (!splitMem) {
    EXPECT_NE(lines[3].find(" memThread: 0"), std::string::npos) << "no budget: " << lines[3];
  }

  EXPECT_EQ(lines[4], "Creation d'une table ayant:") << "table heading";
  EXPECT_EQ(lines[5], "\t" + std::to_string(arity) + " variables") << "arity line";
  EXPECT_EQ(lines[6], "\t" + std::to_string(upper) + " valeur par domaine") << "upper line";
  EXPECT_EQ(lines[7], "\t" + std::to_string(numTuples) + " tuples") << "tuple-count line";
  EXPECT_EQ(lines[8], "Table creee") << "table-built line";
  EXPECT_EQ(lines[9], "Memory Consumption: " +
                          std::to_string(tableMemory(arity, numTuples, upper)) + " bytes")
      << "memory of the main thread's allocator holding just the table";

  EXPECT_EQ(lines[10], std::string("splitMem: ") + (splitMem ? "1" : "0")) << "splitMem line";
  const std::int64_t mainTime = integerAfter(lines[11], "main time: ");
  const std::int64_t elapsed = integerAfter(lines[12], "elapsed time: ");
  std::int64_t sum = 0;
  for (std::int32_t k = 0; k < numThreads; ++k) {
    const std::int64_t t = integerAfter(lines[13 + k], "thread " + std::to_string(k) + " time: ");
    EXPECT_GE(t, 0) << "thread " << k << " time";
    EXPECT_GE(elapsed, t) << "the elapsed interval contains worker " << k << "'s own run";
    sum += t;
  }
  EXPECT_GE(mainTime, 0) << "main time";
  const std::int64_t mean = sum / numThreads;
  const std::size_t after = 13 + static_cast<std::size_t>(numThreads);
  EXPECT_EQ(lines[after], "thread moyenne: " + std::to_string(mean)) << "truncated mean";
  // A 0 ms time is below the clock's resolution: no quotient is printed for it.
  const auto shown = [&](double value) {
    return mainTime > 0 && mean > 0 ? doubleText(value) : std::string("too short to measure");
  };
  EXPECT_EQ(lines[after + 1],
            "ratio " + shown(static_cast<double>(mean) / static_cast<double>(mainTime)))
      << "ratio = mean / main time";
  EXPECT_EQ(lines[after + 2],
            "power: " + shown(static_cast<double>(std::int64_t{numThreads} * mainTime) /
                              static_cast<double>(mean)))
      << "power = threads x main time / mean";
  EXPECT_EQ(lines[after + 3], kSeparator) << "closing separator";
}

TEST(ProblemOne, DefaultArgumentsPrintTheTableAndOneWorker) {
  expectProblemOneRun(1, 0, 10, 500, 10, "1");
}

TEST(ProblemOne, TwoWorkersWithSplitMemoryPrintTheirBudgetAndTwoThreadLines) {
  expectProblemOneRun(2, 1, 6, 2000, 5, "1 2 1 6 2000 5");
}

TEST(ProblemOne, ThreeWorkersOnALargerTableKeepTheReportArithmetic) {
  expectProblemOneRun(3, 0, 8, 60000, 9, "1 3 0 8 60000 9");
}

TEST(ProblemOne, TheTableIsTheSameWhateverTheThreadCount) {
  const testing::BenchRun one = testing::runBench("1 1 0 7 3000 6");
  const testing::BenchRun two = testing::runBench("1 2 1 7 3000 6");
  ASSERT_EQ(one.exitCode, 0) << one.err;
  ASSERT_EQ(two.exitCode, 0) << two.err;
  ASSERT_GE(one.lines().size(), 10u) << one.out;
  ASSERT_GE(two.lines().size(), 10u) << two.out;
  for (std::size_t k = 4; k < 10; ++k) {
    EXPECT_EQ(one.lines()[k], two.lines()[k]) << "table line " << k << " depends on the threads";
  }
}

}  // namespace
}  // namespace varnel
