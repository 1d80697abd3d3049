// Replays a fuzz target's corpus in an ordinary build: every file of the directories named on the
// command line goes through the target's entry point once, in name order. A failed check aborts
// the run with its reason; a missing or empty corpus is itself a failure, so that a mistyped path
// cannot pass by testing nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file),
                                   std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <corpus directory>...\n", argv[0]);
    return 2;
  }
  std::size_t replayed = 0;
  for (int k = 1; k < argc; ++k) {
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(argv[k], error)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    if (error) {
      std::fprintf(stderr, "cannot read corpus directory %s: %s\n", argv[k],
                   error.message().c_str());
      return 2;
    }
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
      const std::vector<std::uint8_t> bytes = readFile(path);
      // The bytes are copied to a block of exactly their size, as libFuzzer hands them over, so
      // that a read past the end is caught by the sanitizers of this build, if any.
      std::vector<std::uint8_t> exact(bytes.begin(), bytes.end());
      LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
      ++replayed;
    }
  }
  if (replayed == 0) {
    std::fprintf(stderr, "no corpus file found: nothing was replayed\n");
    return 1;
  }
  std::printf("replayed %zu corpus files\n", replayed);
  return 0;
}
