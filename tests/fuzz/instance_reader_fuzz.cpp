// Fuzz target: the instance reader on any bytes. Either it stores an instance, which writes back
// to text that reads as the same instance, or it names a line the text has, in printable words.
#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz/fuzz_support.h"
#include "varnel/memory/pooled.h"
#include "varnel/search/model/instance_io.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  InstanceReadResult read = readInstance(in);
  if (read.instance == nullptr) {
    const auto lines = 1 + std::count(text.begin(), text.end(), '\n');
    VARNEL_FUZZ_CHECK(read.line >= 1 && read.line <= lines, "line %lld of %lld",
                      static_cast<long long>(read.line), static_cast<long long>(lines));
    VARNEL_FUZZ_CHECK(
        !read.error.empty() && std::all_of(read.error.begin(), read.error.end(),
                                           [](char c) { return c >= 0x20 && c < 0x7f; }),
        "the message is not printable text: %s", read.error.c_str());
    return 0;
  }
  std::ostringstream written;
  writeInstance(written, *read.instance, "");
  std::istringstream again(written.str());
  InstanceReadResult reread = readInstance(again);
  VARNEL_FUZZ_CHECK(reread.instance != nullptr, "the written text fails at line %lld: %s",
                    static_cast<long long>(reread.line), reread.error.c_str());
  std::ostringstream rewritten;
  writeInstance(rewritten, *reread.instance, "");
  VARNEL_FUZZ_CHECK(rewritten.str() == written.str(), "a read-back instance writes otherwise");
  deletePooled(reread.instance);
  deletePooled(read.instance);
  return 0;
}
