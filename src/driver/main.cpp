// varnel-bench: answers --help and --version; otherwise parses the six positional arguments,
// echoes them, and runs one problem between two separator lines.
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "driver/cli.h"
#include "driver/problems.h"
#include "driver/run_limits.h"
#include "driver/usage.h"
#include "runner/report.h"
#include "varnel/platform/standard_output.h"

int main(int argc, char** argv) {
  using namespace varnel::driver;
  using namespace varnel::runner;
  if (answerInformationRequest(argc, argv)) return varnel::finishStandardOutput(0);
  const RunParameters p = parseCommandLine(argc, argv);
  printRunLine(p);
  if (p.pb < 0 || p.pb > 2) {
    std::printf("type de probleme inconnu\n");
    return varnel::finishStandardOutput(0);
  }
  if (const std::string error = invalidParameterMessage(p); !error.empty()) {
    std::cerr << error << std::endl;
    return 2;
  }
  exitIfRunCannotStart(p);
  printSeparator();
  switch (p.pb) {
    case 0:
      runHashLookupProblem(p.numThreads, p.mem > 0);
      break;
    case 1:
      runTableProblem(p.numThreads, p.mem > 0, p.arity, p.numTuples, p.upper);
      break;
    default:
      runDataStructureSuite(p.numThreads);
      break;
  }
  printSeparator();
  return varnel::finishStandardOutput(0);
}
