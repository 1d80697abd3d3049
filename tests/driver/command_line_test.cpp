// The real varnel-bench on command lines that never reach a problem: the run line, the unknown
// problem line, and rejected parameters with exit code 2.
#include <gtest/gtest.h>

#include <string>

#include "driver/run_bench.h"

namespace {

using varnel::testing::runBench;

std::string runLine(const std::string& values) { return "run with " + values + "\n"; }

TEST(CommandLineEndToEnd, UnknownProblemPrintsOneLineAndSucceeds) {
  for (const char* pb : {"3", "-1"}) {
    const auto o = runBench(pb);
    EXPECT_EQ(o.exitCode, 0) << "pb " << pb;
    EXPECT_EQ(o.out, runLine(std::string("pb=") + pb +
                             " numThreads=1 mem=0 arity=10 numTuples=500 upper=10") +
                         "type de probleme inconnu\n")
        << "pb " << pb << ": no separator lines around an unknown problem";
    EXPECT_EQ(o.err, "") << "pb " << pb;
  }
}

TEST(CommandLineEndToEnd, RunLineEchoesClampedValuesAndIgnoresTheSeventhArgument) {
  const auto o = runBench("99999999999 2 -5 6 2000 5 77");
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_EQ(o.out, runLine("pb=2147483647 numThreads=2 mem=-5 arity=6 numTuples=2000 upper=5") +
                       "type de probleme inconnu\n");
}

TEST(CommandLineEndToEnd, InvalidParametersStopAfterTheRunLineWithCode2) {
  const struct {
    const char* args;
    const char* values;
    const char* error;
  } cases[] = {
      {"0 0", "pb=0 numThreads=0 mem=0 arity=10 numTuples=500 upper=10",
       "Error: invalid argument numThreads=0: accepted range is 1 to 2147483647\n"},
      {"1 -4", "pb=1 numThreads=-4 mem=0 arity=10 numTuples=500 upper=10",
       "Error: invalid argument numThreads=-4: accepted range is 1 to 2147483647\n"},
      {"1 2 -5 0", "pb=1 numThreads=2 mem=-5 arity=0 numTuples=500 upper=10",
       "Error: invalid argument arity=0: accepted range is 1 to 2147483647\n"},
      {"1 1 0 3 x", "pb=1 numThreads=1 mem=0 arity=3 numTuples=0 upper=10",
       "Error: invalid argument numTuples=0: accepted range is 1 to 2147483647\n"},
      {"1 1 0 3 4 0", "pb=1 numThreads=1 mem=0 arity=3 numTuples=4 upper=0",
       "Error: invalid argument upper=0: accepted range is 1 to 2147483647\n"},
      {"2 -1", "pb=2 numThreads=-1 mem=0 arity=10 numTuples=500 upper=10",
       "Error: invalid argument numThreads=-1: accepted range is 0 to 2147483647 (the element "
       "count of problem 2)\n"},
  };
  for (const auto& c : cases) {
    const auto o = runBench(c.args);
    EXPECT_EQ(o.exitCode, 2) << "args " << c.args;
    EXPECT_EQ(o.out, runLine(c.values)) << "args " << c.args << ": nothing after the run line";
    EXPECT_EQ(o.err, c.error) << "args " << c.args;
  }
}

}  // namespace
