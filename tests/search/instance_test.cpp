// The instance format and varnel-solve end to end: a written instance reads back as the same
// instance and solves to the same counts; every kind of malformed file is reported with its line
// and exit code 2, never a crash; the worker run prints the driver's report lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "driver/run_bench.h"
#include "varnel/memory/pooled.h"
#include "varnel/search/instance_io.h"
#include "varnel/search/rb_instance.h"
#include "varnel/version.h"

namespace varnel::testing {
namespace {

std::string written(const CspInstance& instance) {
  std::ostringstream out;
  writeInstance(out, instance, "");
  return out.str();
}

TEST(InstanceFormat, WrittenInstanceReadsBackTheSame) {
  RbParameters p;
  p.vars = 7;
  p.domain = 4;
  p.arity = 3;
  p.constraints = 5;
  p.seed = 99;
  CspInstance* generated = generateRbInstance(p);
  EXPECT_EQ(generated->tupleCount(0), rbTupleCount(p));
  std::istringstream text(written(*generated));
  InstanceReadResult read = readInstance(text);
  ASSERT_NE(read.instance, nullptr) << "line " << read.line << ": " << read.error;
  EXPECT_EQ(written(*read.instance), written(*generated));
  CspInstance* again = generateRbInstance(p);
  EXPECT_EQ(written(*again), written(*generated)) << "the same parameters gave another instance";
  deletePooled(again);
  deletePooled(read.instance);
  deletePooled(generated);
}

TEST(InstanceFormat, MalformedTextNamesItsLine) {
  const struct {
    const char* text;
    std::int64_t line;
    const char* says;
  } cases[] = {
      {"", 0, "ends where 'variables"},
      {"variables two\n", 1, "'two' is not an integer"},
      {"variables 2\ndomain 0 1 2\n", 2, "ends where 'domain"},
      {"variables 2\ndomain 0 1 2\ndomain 0 3\n", 3, "variable 1 was expected"},
      {"variables 1\n# note\ndomain 0 4 4\n", 3, "value 4 appears twice"},
      {"variables 1\ndomain 0 1\nconstraint 1\n", 3, "expected 'constraints'"},
      {"variables 2\ndomain 0 1\ndomain 1 1\nconstraints 1\ntable 2 1 0 0\n", 5, "twice in the"},
      {"variables 2\ndomain 0 1\ndomain 1 1\nconstraints 1\ntable 2 1 0\n", 5, "names 1 variables"},
      {"variables 1\ndomain 0 1\nconstraints 1\ntable 1 2 0\n1\n1 1\n", 6, "a tuple of 2 values"},
      {"variables 1\ndomain 0 1\nconstraints 1\ntable 1 1 0\n99999999999\n", 5, "not an integer"},
      {"variables 1\ndomain 0 1\nconstraints 0\nmore\n", 4, "unexpected text"},
  };
  for (const auto& c : cases) {
    std::istringstream text(c.text);
    const InstanceReadResult read = readInstance(text);
    EXPECT_EQ(read.instance, nullptr) << c.text;
    EXPECT_EQ(read.line, c.line) << c.text << "\n" << read.error;
    EXPECT_NE(read.error.find(c.says), std::string::npos) << c.text << "\n" << read.error;
  }
  std::istringstream outside(
      "variables 2\ndomain 0 1 2\ndomain 1 5\nconstraints 1\n"
      "table 2 3 0 1\n1 5\n3 5\n2 7\n");
  InstanceReadResult read = readInstance(outside);
  ASSERT_NE(read.instance, nullptr) << read.error;
  EXPECT_EQ(read.droppedTuples, 2) << "tuples with a value outside the domain must be dropped";
  EXPECT_EQ(read.instance->tupleCount(0), 1);
  deletePooled(read.instance);
}

std::string lineStarting(const BenchRun& run, const std::string& label) {
  for (const std::string& line : run.lines()) {
    if (line.rfind(label, 0) == 0) return line.substr(label.size());
  }
  return "(no line " + label + ")";
}

TEST(VarnelSolve, SolvesAWrittenFileAlikeAndRejectsMalformedOnes) {
  const std::string path = ::testing::TempDir() + "varnel_solve_instance.txt";
  const std::string rb = "--vars 12 --domain 5 --constraints 30 --tightness 0.3 --all";
  const BenchRun generated = runBench(rb + " --write-instance " + path);
  ASSERT_EQ(generated.exitCode, 0) << generated.err;
  const BenchRun fromFile = runBench("--all --instance " + path);
  ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;
  for (const char* label : {"solutions: ", "failures: ", "nodes: "}) {
    EXPECT_EQ(lineStarting(fromFile, label), lineStarting(generated, label)) << label;
  }
  const BenchRun workers = runBench(rb + " --threads 2 --split-mem");
  ASSERT_EQ(workers.exitCode, 0) << workers.err;
  EXPECT_EQ(lineStarting(workers, "workers agree: "), "yes");
  EXPECT_EQ(lineStarting(workers, "splitMem: "), "1");
  EXPECT_EQ(lineStarting(workers, "thread 1 time: ").find("(no line"), std::string::npos);
  EXPECT_GT(std::atof(lineStarting(workers, "power: ").c_str()), 0.0) << workers.out;

  std::ofstream(path) << "variables 1\ndomain 0 1\nconstraints 1\ntable 1 1 0\nx\n";
  const BenchRun malformed = runBench("--instance " + path);
  EXPECT_EQ(malformed.exitCode, 2);
  EXPECT_NE(malformed.err.find(path + ":5: the value 'x'"), std::string::npos) << malformed.err;
  const BenchRun badOption = runBench("--vars 0");
  EXPECT_EQ(badOption.exitCode, 2);
  EXPECT_NE(badOption.err.find("--vars expects an integer from 1"), std::string::npos);
  const BenchRun version = runBench("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("varnel-solve " VARNEL_VERSION, 0), 0u) << version.out;
  std::remove(path.c_str());
}

TEST(VarnelSolve, ParallelLimitsAndSolutionOptionsEndAsTheySay) {
  const std::string small = "--vars 12 --domain 5 --constraints 30 --tightness 0.3 ";
  const std::string hard = "--vars 30 --domain 12 --constraints 130 --tightness 0.36 --all ";
  const struct {
    std::string arguments;
    int exitCode;
    const char* out;  // a line standard output must hold
    const char* err;  // what standard error must say
  } cases[] = {
      {small + "--all --parallel 3", 0, "solutions: 12374", ""},
      {small + "--all --parallel 2 --node-limit 500", 0, "stopped: node limit", ""},
      {small + "--parallel 4", 0, "stopped: first solution", ""},
      {small + "--all --print-solutions 1", 0, "solution: 0 0 4 2 1 2 0 2 0 0 1 0", ""},
      {hard + "--time-limit 0.2", 0, "stopped: time limit", ""},
      {hard + "--time-limit 0.2 --threads 2", 0, "workers agree: not compared (stopped)", ""},
      {small + "--print-solutions 2", 2, "", "--print-solutions applies to --all"},
      {small + "--time-limit 0", 2, "", "--time-limit expects seconds above 0"},
      {small + "--time-limit 1e10", 2, "", "--time-limit expects seconds above 0"},
      {small + "--parallel 2 --threads 2", 2, "", "exclude each other"},
      {small + "--subproblems 5", 2, "", "--subproblems applies to --parallel"},
      {small + "--subproblem-stats x.csv", 2, "", "--subproblem-stats applies to --parallel"},
      {small + "--parallel 0", 2, "", "--parallel expects an integer from 1"},
      {small + "--write-subproblems d --time-limit 5", 2, "", "--write-subproblems searches"},
  };
  for (const auto& c : cases) {
    const BenchRun run = runBench(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.err;
    EXPECT_NE(run.out.find(c.out), std::string::npos) << c.arguments << "\n" << run.out;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << c.arguments << "\n" << run.err;
  }
}

}  // namespace
}  // namespace varnel::testing
