// The XCSP3 reader: each construct of the subset read from a small file and counted three ways
// over every assignment (the meaning written here in C++, the file's own constraints kept by the
// model, the instance it was turned into), and by the search where it can run; every refusal
// and hostile file named with its line; varnel-solve's competition lines.
#include "varnel/search/model/xcsp3_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "../../bench/peers/xcsp3_generator.h"
#include "driver/run_bench.h"
#include "varnel/memory/pooled.h"
#include "varnel/search/dfs.h"

namespace varnel::testing {
namespace {

using Values = std::vector<std::int64_t>;

Xcsp3ReadResult readText(const std::string& xml, std::int64_t maxIntension = 1000000,
                         std::uint64_t modelAllowance = std::uint64_t(32) << 20) {
  std::istringstream in(xml);
  Xcsp3ReadOptions options;
  options.maxIntensionTuples = maxIntension;
  options.modelAllowance = modelAllowance;
  return readXcsp3(in, options);
}

std::string repeated(const std::string& text, int times) {
  std::string all;
  for (int k = 0; k < times; ++k) all += text;
  return all;
}

std::string instance(const std::string& variables, const std::string& constraints) {
  return "<instance format=\"XCSP3\" type=\"CSP\">\n<variables>\n" + variables +
         "\n</variables>\n<constraints>\n" + constraints + "\n</constraints>\n</instance>\n";
}

bool instanceAllows(const CspInstance& in, const Values& v) {
  for (std::int32_t x = 0; x < in.varCount(); ++x) {
    if (!std::binary_search(in.values(x), in.values(x) + in.domainSize(x), v[x])) return false;
  }
  return in.firstViolatedConstraint(v.data()) < 0;
}

std::int64_t searchCount(const CspInstance& in) {
  Solver* solver = newPooled<Solver>();
  auto* masks = newPooled<InstanceSupportMasks>(in);
  SearchSpace* space = newPooled<SearchSpace>(*solver, in, masks);
  SearchOptions options;
  options.allSolutions = true;
  const SearchStatistics s = depthFirstSearch(*space, options);
  deletePooled(space);
  deletePooled(masks);
  deletePooled(solver);
  return s.solutions;
}

struct Construct {
  const char* what;
  std::string xml;
  std::int64_t lo, hi;  // every variable's declared values lie in lo..hi
  std::function<bool(const Values&)> meaning;
};

TEST(Xcsp3Reader, EveryConstructMeansWhatTheFileSays) {
  if (!xcsp3Available()) GTEST_SKIP() << "built without expat and liblzma";
  const std::string x3 = "<array id=\"x\" size=\"[3]\"> 0..2 </array>";
  const std::string m22 = "<array id=\"m\" size=\"[2][2]\"> 0..2 </array>";
  const Construct cases[] = {
      {"supports with stars",
       instance(x3,
                "<extension><list> x[] </list>"
                "<supports> (0,*,1)(2,2,*) </supports></extension>"),
       0, 2, [](const Values& v) { return (v[0] == 0 && v[2] == 1) || (v[0] == 2 && v[1] == 2); }},
      {"conflicts",
       instance(x3,
                "<extension><list> x[0] x[2] </list>"
                "<conflicts> (0,0)(1,*) </conflicts></extension>"),
       0, 2, [](const Values& v) { return !(v[0] == 0 && v[2] == 0) && v[0] != 1; }},
      {"unary form and a repeated variable",
       instance(x3,
                "<extension><list> x[1] </list><supports> 0 2..5 </supports></extension>"
                "<extension><list> x[0] x[2] x[0] </list>"
                "<supports> (1,1,1)(2,0,1)(*,2,0) </supports></extension>"),
       0, 2,
       [](const Values& v) {
         return v[1] != 1 && ((v[0] == 1 && v[2] == 1) || (v[0] == 0 && v[2] == 2));
       }},
      {"group with %0 and %..., block, compact forms",
       instance(
           m22,
           "<block><group><extension><list> %0 %1 </list>"
           "<supports> (0,1)(1,2)(2,0) </supports></extension>"
           "<args> m[0][] </args><args> m[][1] </args></group></block>"
           "<group><intension> le(%0,%1) </intension><args> m[1][0] m[0..1][1] </args></group>"),
       0, 2,
       [](const Values& v) {
         const auto next = [](std::int64_t a, std::int64_t b) { return b == (a + 1) % 3; };
         return next(v[0], v[1]) && next(v[1], v[3]) && v[2] <= v[1];
       }},
      {"intension: div and mod toward zero, by zero disallowed",
       instance("<var id=\"a\"> -3..3 </var><var id=\"b\"> -2..2 </var><var id=\"c\"> -3..3 </var>",
                "<intension> eq(c,add(div(a,b),mod(a,b))) </intension>"),
       -3, 3,
       [](const Values& v) {
         return v[1] != 0 && std::abs(v[1]) <= 2 && v[2] == v[0] / v[1] + v[0] % v[1];
       }},
      {"intension: if, in/set, dist, logic, pow",
       instance(x3,
                "<intension><function> or(and(in(x[0],set(0,2)),ne(x[1],x[2])),"
                "iff(eq(if(x[1],x[2],2),pow(x[0],2)),imp(x[0],x[2]))) </function></intension>"
                "<intension> le(dist(x[0],x[1]),1) </intension>"),
       0, 2,
       [](const Values& v) {
         const bool a = (v[0] == 0 || v[0] == 2) && v[1] != v[2];
         const bool b = ((v[1] != 0 ? v[2] : 2) == v[0] * v[0]) == (v[0] == 0 || v[2] != 0);
         return (a || b) && std::abs(v[0] - v[1]) <= 1;
       }},
      {"allDifferent: list, lists sharing a cell, matrix",
       instance(m22 + "<array id=\"y\" size=\"[3]\"> 0..2 </array>",
                "<group><allDifferent> %... </allDifferent><args> y[] </args></group>"
                "<allDifferent><list> m[0][] </list><list> m[][0] </list></allDifferent>"
                "<allDifferent><matrix> m[][] </matrix></allDifferent>"),
       0, 2,
       [](const Values& v) {
         const bool y = v[4] != v[5] && v[4] != v[6] && v[5] != v[6];
         const bool lists = !(v[0] == v[0] && v[1] == v[2]);
         const bool rows = v[0] != v[1] && v[2] != v[3] && v[0] != v[2] && v[1] != v[3];
         return y && lists && rows;
       }},
      {"instantiation, symbolic values, as=, domain for= and others",
       "<instance format=\"XCSP3\" type=\"CSP\"><variables>"
       "<var id=\"s\" type=\"symbolic\"> red green blue </var><var id=\"t\" as=\"s\" "
       "type=\"symbolic\"/>"
       "<array id=\"z\" size=\"[3]\"><domain for=\"z[0] z[2]\"> 0 2 </domain>"
       "<domain for=\"others\"> 1 </domain></array></variables><constraints>"
       "<extension><list> s t </list><conflicts> (red,red)(green,*) </conflicts></extension>"
       "<intension> ne(t,blue) </intension><instantiation><list> z[0] </list><values> 2 </values>"
       "</instantiation></constraints></instance>",
       0, 2,
       [](const Values& v) {
         return !(v[0] == 0 && v[1] == 0) && v[0] != 1 && v[1] != 2 && v[2] == 2 && v[3] == 1 &&
                (v[4] == 0 || v[4] == 2);
       }},
      {"unary restrictions renumber the tables over their variables",
       instance(x3,
                "<extension><list> x[0] x[1] </list>"
                "<supports> (0,1)(1,*)(2,0)(*,2)(2,1) </supports></extension>"
                "<intension> ne(x[0],0) </intension>"
                "<extension><list> x[1] x[2] </list><conflicts> (0,*)(2,2) </conflicts></extension>"
                "<extension><list> x[1] </list><supports> 0 2 </supports></extension>"),
       0, 2,
       [](const Values& v) {
         const bool supported =
             (v[0] == 0 && v[1] == 1) || v[0] == 1 || (v[0] == 2 && v[1] != 2) || v[1] == 2;
         return supported && v[0] != 0 && v[1] != 1 && v[1] != 0 && !(v[1] == 2 && v[2] == 2);
       }},
      {"a unary conflicts table empties a domain",
       instance(x3,
                "<extension><list> x[1] </list>"
                "<conflicts> 0..2 </conflicts></extension>"),
       0, 2, [](const Values&) { return false; }},
      {"constants in args",
       instance(x3,
                "<group><intension> eq(%0,%1) </intension>"
                "<args> x[0] 1 </args><args> x[2] x[1] </args></group>"),
       0, 2, [](const Values& v) { return v[0] == 1 && v[2] == v[1]; }},
  };
  for (const Construct& c : cases) {
    Xcsp3ReadResult read = readText(c.xml);
    ASSERT_NE(read.instance, nullptr) << c.what << ": line " << read.line << ": " << read.error;
    const CspInstance& in = *read.instance;
    const std::int32_t n = in.varCount();
    std::int64_t meant = 0, byModel = 0, byInstance = 0;
    Values v(static_cast<std::size_t>(n), c.lo);
    for (bool more = true; more;) {
      const bool m = c.meaning(v);
      meant += m;
      byModel += read.model->firstViolatedLine(v.data()) == 0;
      byInstance += instanceAllows(in, v);
      EXPECT_EQ(read.model->firstViolatedLine(v.data()) == 0, m) << c.what << ": the model";
      EXPECT_EQ(instanceAllows(in, v), m) << c.what << ": the instance";
      std::int32_t x = n - 1;
      while (x >= 0 && v[x] == c.hi) v[x--] = c.lo;
      more = x >= 0;
      if (more) ++v[x];
    }
    EXPECT_EQ(byModel, meant) << c.what;
    EXPECT_EQ(byInstance, meant) << c.what;
    if (in.onlyPositiveTables()) EXPECT_EQ(searchCount(in), meant) << c.what << ": the search";
    deletePooled(read.instance);
  }
}

// Generated documents (every construct of the subset, bench/peers/xcsp3_generator.h) read,
// written as text and read back: the generator's own meaning, the file's constraints as the
// model keeps them and the search over both instances count the same solutions.
TEST(Xcsp3Reader, GeneratedDocumentsCountAlikeReadAndWrittenBack) {
  if (!xcsp3Available()) GTEST_SKIP() << "built without expat and liblzma";
  const std::uint32_t documents = 40;
  std::uint32_t satisfiable = 0;
  for (std::uint32_t seed = 1; seed <= documents; ++seed) {
    const xcsp3gen::GeneratedXcsp3 generated = xcsp3gen::generateXcsp3(seed);
    Xcsp3ReadResult read = readText(generated.xml);
    ASSERT_NE(read.instance, nullptr) << seed << ": line " << read.line << ": " << read.error;
    std::ostringstream text;
    writeInstance(text, *read.instance, "");
    std::istringstream in(text.str());
    InstanceReadResult back = readInstance(in);
    ASSERT_NE(back.instance, nullptr) << seed << ": line " << back.line << ": " << back.error;
    std::int64_t meant = 0, byModel = 0;
    generated.forEachAssignment([&](const xcsp3gen::Assignment& v) {
      meant += generated.firstViolated(v) < 0;
      byModel += read.model->firstViolatedLine(v.data()) == 0;
    });
    EXPECT_EQ(byModel, meant) << "seed " << seed << ": the file's constraints\n" << generated.xml;
    EXPECT_EQ(searchCount(*read.instance), meant) << "seed " << seed << "\n" << generated.xml;
    EXPECT_EQ(searchCount(*back.instance), meant) << "seed " << seed << ": back\n" << text.str();
    satisfiable += meant > 0;
    deletePooled(back.instance);
    deletePooled(read.instance);
  }
  EXPECT_GT(satisfiable, 0u) << "no generated document is satisfiable";
  EXPECT_LT(satisfiable, documents) << "every generated document is satisfiable";
}

TEST(Xcsp3Reader, NamesVariablesAndSymbolsAsTheFileDoes) {
  if (!xcsp3Available()) GTEST_SKIP() << "built without expat and liblzma";
  Xcsp3ReadResult read = readText(
      "<instance format=\"XCSP3\" type=\"CSP\"><variables><var id=\"c\" type=\"symbolic\"> a b"
      "</var><array id=\"q\" size=\"[2][3]\"><domain for=\"q[0][1] q[1][]\"> 4 </domain>"
      "</array></variables><constraints/></instance>");
  ASSERT_NE(read.instance, nullptr) << read.error;
  ASSERT_EQ(read.instance->varCount(), 5) << "q[0][0] and q[0][2] have no domain";
  const char* names[] = {"c", "q[0][1]", "q[1][0]", "q[1][1]", "q[1][2]"};
  for (std::int32_t x = 0; x < 5; ++x) EXPECT_EQ(read.model->variableName(x), names[x]) << x;
  EXPECT_EQ(read.model->valueText(0, 1), "b");
  EXPECT_EQ(read.model->valueText(1, 4), "4");
  deletePooled(read.instance);
}

TEST(Xcsp3Reader, RefusalsAndHostileFilesNameTheirLine) {
  if (!xcsp3Available()) GTEST_SKIP() << "built without expat and liblzma";
  const std::string x3 = "<array id=\"x\" size=\"[3]\"> 0..2 </array>";
  const struct {
    std::string xml;
    std::int64_t line;
    const char* says;
  } cases[] = {
      {instance(x3, "<sum><list> x[] </list></sum>"), 6, "<sum> is not supported"},
      {"<instance>\n<variables>\n<var id=\"a\"> 0 1 </var>\n", 4, "malformed XML"},
      {"<?xml version=\"1.0\"?>\n<!DOCTYPE i [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;\">]>"
       "\n<instance/>",
       2, "DOCTYPE"},
      {instance(x3, "<intension> eq(x[0],\x01) </intension>"), 6, "malformed XML"},
      {instance(x3, "<intension> eq(x[0],y) </intension>"), 6, "'y' is not declared"},
      {instance(x3, "<allDifferent> x[0..3] </allDifferent>"), 6, "out of range"},
      {instance(x3,
                "<group><intension> eq(%0,%5) </intension>\n<args> x[0] x[1] x[2] </args>"
                "</group>"),
       7, "%5"},
      {instance(x3,
                "<extension><list> x[0] x[1] </list>\n<supports> (0,1)(0,1,2) </supports>"
                "</extension>"),
       7, "a tuple of 3 values"},
      {instance(x3, "<extension><list> x[] </list><supports> (0,1) </supports></extension>"), 6,
       "tuples of 2 values over a list of 3"},
      {instance("<var id=\"v\"> 0..2000000000 </var>", ""), 3, "goes beyond"},
      {instance(x3, "<intension> lt(x[0],x[1]) </intension>"), 6, "more than 8 candidate"},
      {instance(x3, "<intension> foo(x[0],x[1]) </intension>"), 6, "'foo' is not supported"},
      {"<instance format=\"XCSP3\" type=\"COP\"><variables>" + x3 +
           "</variables>\n"
           "<constraints/>\n<objectives><minimize> x[0] </minimize></objectives></instance>",
       3, "<objectives> is not supported"},
      // Short files that would make large models or enumerate without end, refused before.
      {instance("<var id=\"v\"> 0..16000000 </var>", ""), 3, "the model would need"},
      {instance("<array id=\"y\" size=\"[1000][1000][10]\"> 0 1 </array>", ""), 3,
       "the model would need"},
      {instance("<array id=\"y\" size=\"[2000]\"> 0 1 </array>",
                std::string("\n") + repeated("<allDifferent> y[] </allDifferent>", 40)),
       7, "the model would need"},
      {instance("<array id=\"y\" size=\"[2000]\"> 0 1 </array>",
                "<group><allDifferent> %... </allDifferent>" + repeated("<args> y[] </args>", 40) +
                    "</group>"),
       6, "the model would need"},
      {instance("<array id=\"y\" size=\"[300]\"> 0..9 </array>",
                "<group><extension><list> %0 %1 </list><supports> " +
                    repeated("(0,1)(1,2)(2,3)(3,4)(4,5)(5,6)(6,7)(7,8)(8,9)(9,0)", 30) +
                    " </supports></extension>\n" + repeated("<args> y[0] y[1] </args>", 300) +
                    "</group>"),
       7, "the model would need"},
      {instance(x3, repeated("<intension> ne(x[0],1) </intension>", 26) +
                        "\n<intension> ne(x[1],2) </intension>"),
       7, "enumerate more than 80 candidate"},
      {instance(x3, repeated("<instantiation><list> x[] </list><values> 1 1 1 </values>"
                             "</instantiation>",
                             27)),
       6, "enumerate more than 80 candidate"},
  };
  for (const auto& c : cases) {
    const Xcsp3ReadResult read = readText(c.xml, 8, std::uint64_t(1) << 20);
    EXPECT_EQ(read.instance, nullptr) << c.xml;
    EXPECT_EQ(read.line, c.line) << c.xml << "\n" << read.error;
    EXPECT_NE(read.error.find(c.says), std::string::npos) << c.xml << "\n" << read.error;
  }
  // Well-formed extremes: solved or refused, never a crash nor a recursion as deep as the file.
  std::string nested;
  for (int k = 0; k < 200000; ++k) nested += "<block>";
  nested += "<allDifferent> x[] </allDifferent>";
  for (int k = 0; k < 200000; ++k) nested += "</block>";
  Xcsp3ReadResult deep = readText(instance(x3, nested));
  ASSERT_NE(deep.instance, nullptr) << deep.error;
  EXPECT_EQ(deep.instance->constraintCount(), 1);
  deletePooled(deep.instance);
  Xcsp3ReadResult noted = readText(
      instance("<var id=\"v\" note=\"" + std::string(2 << 20, 'n') + "\"> 0 1 </var>", ""));
  ASSERT_NE(noted.instance, nullptr) << noted.error;
  deletePooled(noted.instance);
}

TEST(VarnelSolve, AnswersXcsp3FilesInTheCompetitionConvention) {
  if (!xcsp3Available()) GTEST_SKIP() << "built without expat and liblzma";
  const std::string path = ::testing::TempDir() + "varnel_solve_xcsp3.xml";
  const auto write = [&](const std::string& xml) { std::ofstream(path, std::ios::binary) << xml; };
  write("\xEF\xBB\xBF  \n" +
        instance("<var id=\"s\" type=\"symbolic\"> no yes </var>" +
                     std::string("<array id=\"x\" size=\"[2][2]\"> 0..2 </array>"),
                 "<group><intension> lt(%0,%1) </intension><args> x[0][] "
                 "</args><args> x[1][] </args></group><extension><list> s "
                 "x[1][1] </list><supports> (yes,2) </supports></extension>"));
  BenchRun run = runBench("--instance " + path + " --output xcsp3");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> answers;
  for (const std::string& line : run.lines()) {
    if (line.rfind("c ", 0) != 0) answers.push_back(line);
  }
  ASSERT_EQ(answers.size(), 2u) << run.out;
  EXPECT_EQ(answers[0], "s SATISFIABLE");
  EXPECT_EQ(answers[1],
            "v <instantiation> <list> s x[0][0] x[0][1] x[1][0] x[1][1] </list> <values> yes 0 1 "
            "0 2 </values> </instantiation>")
      << "the first solution in search order";
  run = runBench("--instance " + path);
  EXPECT_NE(run.out.find("solution: s=yes x[0][0]=0 x[0][1]=1 x[1][0]=0 x[1][1]=2"),
            std::string::npos)
      << run.out;
  write(instance("<array id=\"x\" size=\"[2]\"> 0 1 </array>",
                 "<intension> lt(x[0],x[1]) </intension><intension> lt(x[1],x[0]) </intension>"));
  run = runBench("--instance " + path + " --output xcsp3");
  EXPECT_NE(run.out.find("\ns UNSATISFIABLE\n"), std::string::npos) << run.out;
  write(instance("<array id=\"x\" size=\"[2]\"> 0 1 </array>",
                 "\n<allDifferent> x[] </allDifferent>\n<regular/>"));
  run = runBench("--instance " + path);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find(":8: <regular> is not supported"), std::string::npos) << run.err;
  write(
      instance("<array id=\"x\" size=\"[2]\"> 0 1 </array>", "<allDifferent> x[] </allDifferent>"));
  run = runBench("--instance " + path + " --all --print-solutions 2");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("solution: x[0]=0 x[1]=1\nsolution: x[0]=1 x[1]=0\nsolutions: 2\n"),
            std::string::npos)
      << run.out;
  std::remove(path.c_str());
}

}  // namespace
}  // namespace varnel::testing
