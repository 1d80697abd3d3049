// Fuzz target: the XCSP3 reader on any bytes (XML, or xz/lzma data). Either it refuses with a line
// the text has and a printable sentence, or it stores an instance whose every declared variable
// has a name, and the file's own constraints answer for any assignment without a fault.
#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "varnel/memory/pooled.h"
#include "varnel/search/model/xcsp3_reader.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  Xcsp3ReadOptions options;
  options.maxIntensionTuples = 10000;  // keeps each input quick
  Xcsp3ReadResult read = readXcsp3(in, options);
  if (read.instance == nullptr) {
    // Decompressed text may have more lines than the input: only plain XML is bounded here.
    // Lines end as XML ends them: CR LF, a lone LF, or a lone CR each end one.
    std::int64_t lines = 1;
    for (std::size_t k = 0; k < text.size(); ++k) {
      lines +=
          text[k] == '\n' || (text[k] == '\r' && (k + 1 == text.size() || text[k + 1] != '\n'));
    }
    VARNEL_FUZZ_CHECK(read.line >= 1 && (!startsWithXml(text) || read.line <= lines),
                      "line %lld of %lld", static_cast<long long>(read.line),
                      static_cast<long long>(lines));
    VARNEL_FUZZ_CHECK(
        !read.error.empty() && std::all_of(read.error.begin(), read.error.end(),
                                           [](char c) { return c >= 0x20 && c < 0x7f; }),
        "the message is not printable text: %s", read.error.c_str());
    return 0;
  }
  const CspInstance& instance = *read.instance;
  std::vector<std::int64_t> values(static_cast<std::size_t>(instance.varCount()));
  for (std::int32_t x = 0; x < instance.varCount(); ++x) {
    VARNEL_FUZZ_CHECK(!read.model->variableName(x).empty(), "variable %d has no name", x);
    values[static_cast<std::size_t>(x)] = instance.value(x, 0);
  }
  // The first values of every domain: whatever the model answers, it answers without a fault,
  // and an assignment the instance allows is one the file allows.
  const std::int64_t line = read.model->firstViolatedLine(values.data());
  if (instance.firstViolatedConstraint(values.data()) < 0) {
    VARNEL_FUZZ_CHECK(line == 0, "the instance allows what the file's line %lld forbids",
                      static_cast<long long>(line));
  }
  deletePooled(read.instance);
  return 0;
}
