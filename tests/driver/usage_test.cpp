// The real varnel-bench on --help, -h and --version, and on words that only resemble them.
#include <gtest/gtest.h>

#include <string>

#include "driver/run_bench.h"
#include "varnel/version.h"

namespace {

using varnel::testing::runBench;

TEST(UsageEndToEnd, HelpAndVersionAnswerAloneAndExitWithZero) {
  // Usage first: a run line before it would mean a problem ran.
  for (const char* word : {"--help", "-h", "--help 2 10"}) {
    const auto o = runBench(word);
    EXPECT_EQ(o.exitCode, 0) << word;
    EXPECT_EQ(o.out.rfind("Usage: varnel-bench [pb [numThreads [mem [arity [numTuples [upper]", 0),
              0u)
        << word << " printed:\n"
        << o.out;
    for (const char* part : {"  upper       10", "Exit codes:", "docs/command-line.md"}) {
      EXPECT_NE(o.out.find(part), std::string::npos) << word << ": usage lacks \"" << part << "\"";
    }
    EXPECT_EQ(o.err, "") << word;
  }
  const auto version = runBench("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "varnel-bench " VARNEL_VERSION "\n");
}

TEST(UsageEndToEnd, WordsThatOnlyResembleTheRequestsConvertAsNumbers) {
  // Each reads as pb 0 or 1 with numThreads 0: the run line, then the range error with code 2.
  for (const char* args :
       {"--helpx 0", "--HELP 0", "-help 0", "-H 0", "--version= 0", "1 --help", "1 --version"}) {
    const auto o = runBench(args);
    EXPECT_EQ(o.exitCode, 2) << args << " printed:\n" << o.out;
    EXPECT_EQ(o.out.rfind("run with pb=", 0), 0u) << args << " printed:\n" << o.out;
    EXPECT_NE(o.out.find(" numThreads=0 "), std::string::npos) << args;
  }
}

}  // namespace
