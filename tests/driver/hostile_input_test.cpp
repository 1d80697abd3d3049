// The real varnel-bench on hostile command lines: empty and blank arguments, signs alone, huge
// and negative numbers, zero sizes, non-ASCII text and surplus arguments. Each must end with its
// own exit code and message, never a crash, and none may start a problem it cannot run. The
// same list, argument by argument, is in docs/command-line.md.
#include <gtest/gtest.h>

#include <string>

#include "driver/run_bench.h"

namespace {

using varnel::testing::runBench;

// Standard error with Windows line ends folded to plain newlines.
std::string errorText(const varnel::testing::BenchRun& run) {
  std::string text;
  for (char c : run.err) {
    if (c != '\r') text += c;
  }
  return text;
}

std::string runLine(const std::string& values) { return "run with " + values + "\n"; }

std::string rangeError(const std::string& assignment) {
  return "Error: invalid argument " + assignment + ": accepted range is 1 to 2147483647\n";
}

const char* const kUnknown = "type de probleme inconnu\n";

struct HostileCase {
  const char* args;    // as the shell reads them
  const char* values;  // the run line after "run with "
  int exitCode;
  std::string after;  // standard output after the run line
  std::string error;  // standard error
};

void expectOutcome(const HostileCase& c) {
  const auto o = runBench(c.args);
  EXPECT_EQ(o.exitCode, c.exitCode) << "args [" << c.args << "]: exit code";
  EXPECT_EQ(o.out, runLine(c.values) + c.after)
      << "args [" << c.args << "]: the run line, then nothing but the expected text";
  EXPECT_EQ(errorText(o), c.error) << "args [" << c.args << "]: standard error";
}

TEST(HostileCommandLine, EmptyBlankAndSignOnlyArgumentsReadAsZero) {
  const HostileCase cases[] = {
      {"\"\" \"\"", "pb=0 numThreads=0 mem=0 arity=10 numTuples=500 upper=10", 2, "",
       rangeError("numThreads=0")},
      {"1 2 \"\" \"\"", "pb=1 numThreads=2 mem=0 arity=0 numTuples=500 upper=10", 2, "",
       rangeError("arity=0")},
      {"+ -", "pb=0 numThreads=0 mem=0 arity=10 numTuples=500 upper=10", 2, "",
       rangeError("numThreads=0")},
      {"1 1 +- -+ 5", "pb=1 numThreads=1 mem=0 arity=0 numTuples=5 upper=10", 2, "",
       rangeError("arity=0")},
      {"\" \" \"  \"", "pb=0 numThreads=0 mem=0 arity=10 numTuples=500 upper=10", 2, "",
       rangeError("numThreads=0")},
      {"\" \t 3\"", "pb=3 numThreads=1 mem=0 arity=10 numTuples=500 upper=10", 0, kUnknown, ""},
      {"\"1 \" \"- 1\"", "pb=1 numThreads=0 mem=0 arity=10 numTuples=500 upper=10", 2, "",
       rangeError("numThreads=0")},
  };
  for (const HostileCase& c : cases) expectOutcome(c);
}

TEST(HostileCommandLine, HugeNumbersClampTo32BitsAndNeverStartAProblem) {
  const HostileCase cases[] = {
      {"99999999999999999999999",
       "pb=2147483647 numThreads=1 mem=0 arity=10 numTuples=500 upper=10", 0, kUnknown, ""},
      {"-99999999999999999999999",
       "pb=-2147483648 numThreads=1 mem=0 arity=10 numTuples=500 upper=10", 0, kUnknown, ""},
      // The largest thread count passes its own check; the table sizes stop the run before a
      // single runner exists.
      {"1 99999999999 0 0", "pb=1 numThreads=2147483647 mem=0 arity=0 numTuples=500 upper=10", 2,
       "", rangeError("arity=0")},
      {"1 1 99999999999 99999999999 0",
       "pb=1 numThreads=1 mem=2147483647 arity=2147483647 numTuples=0 upper=10", 2, "",
       rangeError("numTuples=0")},
      {"2 -99999999999999", "pb=2 numThreads=-2147483648 mem=0 arity=10 numTuples=500 upper=10", 2,
       "",
       "Error: invalid argument numThreads=-2147483648: accepted range is 0 to 2147483647 (the "
       "element count of problem 2)\n"},
  };
  for (const HostileCase& c : cases) expectOutcome(c);
}

TEST(HostileCommandLine, NegativeOrZeroCountsAreRefusedWithCode2) {
  const HostileCase cases[] = {
      {"0 -1", "pb=0 numThreads=-1 mem=0 arity=10 numTuples=500 upper=10", 2, "",
       rangeError("numThreads=-1")},
      {"1 -2147483648 -99999999999",
       "pb=1 numThreads=-2147483648 mem=-2147483648 arity=10 numTuples=500 upper=10", 2, "",
       rangeError("numThreads=-2147483648")},
      {"1 1 0 0 10 10", "pb=1 numThreads=1 mem=0 arity=0 numTuples=10 upper=10", 2, "",
       rangeError("arity=0")},
      {"1 1 0 4 0", "pb=1 numThreads=1 mem=0 arity=4 numTuples=0 upper=10", 2, "",
       rangeError("numTuples=0")},
      {"1 1 0 4 -0", "pb=1 numThreads=1 mem=0 arity=4 numTuples=0 upper=10", 2, "",
       rangeError("numTuples=0")},
      {"1 1 0 3 4 -7", "pb=1 numThreads=1 mem=0 arity=3 numTuples=4 upper=-7", 2, "",
       rangeError("upper=-7")},
  };
  for (const HostileCase& c : cases) expectOutcome(c);
}

TEST(HostileCommandLine, NonAsciiTextHasNoDigitsAndReadsAsZero) {
  const HostileCase cases[] = {
      // é, ü: letters outside ASCII.
      {"\"\xc3\xa9\" \"\xc3\xbc\"", "pb=0 numThreads=0 mem=0 arity=10 numTuples=500 upper=10", 2,
       "", rangeError("numThreads=0")},
      // Fullwidth digit one and Arabic-Indic digit three: digits, but not the ones strtol reads.
      {"\"\xef\xbc\x91\" \"\xd9\xa3\"", "pb=0 numThreads=0 mem=0 arity=10 numTuples=500 upper=10",
       2, "", rangeError("numThreads=0")},
      // Reading stops at the first byte that is not an ASCII digit.
      {"\"3\xc3\xa9\"", "pb=3 numThreads=1 mem=0 arity=10 numTuples=500 upper=10", 0, kUnknown, ""},
  };
  for (const HostileCase& c : cases) expectOutcome(c);
}

TEST(HostileCommandLine, ArgumentsPastTheSixthChangeNothing) {
  const HostileCase cases[] = {
      {"3 1 0 10 500 10 7 8 9", "pb=3 numThreads=1 mem=0 arity=10 numTuples=500 upper=10", 0,
       kUnknown, ""},
      // A seventh argument does not rescue an invalid sixth.
      {"1 1 0 3 4 0 5 5 5 5", "pb=1 numThreads=1 mem=0 arity=3 numTuples=4 upper=0", 2, "",
       rangeError("upper=0")},
  };
  for (const HostileCase& c : cases) expectOutcome(c);
}

TEST(HostileCommandLine, SmallestValidTableRunsToItsReportWithoutAnError) {
  // Padded and signed arguments that still convert to a valid problem 1: one variable, one
  // tuple, one value, a budget; nothing to remove, and nothing may go wrong.
  const auto o = runBench("\" 1\" +1 \" +1x\" 1 \"1 \" 1 extra");
  EXPECT_EQ(o.exitCode, 0) << "a valid tiny table must run: " << errorText(o);
  EXPECT_EQ(errorText(o), "") << "nothing on standard error for a valid run";
  const auto lines = o.lines();
  ASSERT_GE(lines.size(), 3u) << "the run line and a framed report expected:\n" << o.out;
  EXPECT_EQ(lines.front(), "run with pb=1 numThreads=1 mem=1 arity=1 numTuples=1 upper=1");
  EXPECT_EQ(lines[1], std::string(46, '-')) << "the problem opens with a separator line";
  EXPECT_EQ(lines.back(), std::string(46, '-')) << "the problem closes with a separator line";
  EXPECT_NE(o.out.find("\nsplitMem: 1\n"), std::string::npos) << "mem 1 asks for budgets";
  EXPECT_NE(o.out.find("\nthread 0 time: "), std::string::npos) << "one worker's time expected";
}

TEST(HostileCommandLine, AReportThatCannotBeWrittenIsNotASuccess) {
#if !defined(WIFEXITED)
  GTEST_SKIP() << "no /dev/full to write to";
#else
  const std::string err = ::testing::TempDir() + "varnel_bench_full.err";
  for (const char* args : {"1 1 0 3 10 4", "3", "--version"}) {
    const int status = std::system(
        ("\"" VARNEL_BENCH_PATH "\" " + std::string(args) + " >/dev/full 2>" + err).c_str());
    EXPECT_EQ(varnel::testing::detail::exitCodeOf(status), 5) << args;
    EXPECT_NE(varnel::testing::detail::readWholeFile(err).find(
                  "Error: standard output could not be written"),
              std::string::npos)
        << args;
  }
  std::remove(err.c_str());
#endif
}

}  // namespace
