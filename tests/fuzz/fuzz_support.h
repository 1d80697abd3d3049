// Shared by the fuzz targets: a reader that decodes bounded values from the fuzzer's bytes, and
// a check that reports what went wrong and aborts, so that libFuzzer and the corpus replay both
// see a failure as a crash with its reason on standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Ends the run with `what` (a printf format and its arguments) when `condition` is false.
#define VARNEL_FUZZ_CHECK(condition, ...)                                                  \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      std::fprintf(stderr, "%s:%d: check failed: %s\n  ", __FILE__, __LINE__, #condition); \
      std::fprintf(stderr, __VA_ARGS__);                                                   \
      std::fprintf(stderr, "\n");                                                          \
      std::fflush(stderr);                                                                 \
      std::abort();                                                                        \
    }                                                                                      \
  } while (false)

namespace varnel::fuzz {

// Reads the input front to back; once it is used up every read yields 0, so any input, even an
// empty one, decodes to a complete (if short) scenario.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  // True while unread bytes remain.
  bool more() const { return offset_ < size_; }
  // Next byte, 0 past the end.
  std::uint8_t byte() { return offset_ < size_ ? data_[offset_++] : 0; }
  // A value in [0, bound), bound >= 1, from one byte (two when bound > 256).
  std::uint32_t below(std::uint32_t bound) {
    const std::uint32_t raw = bound > 256 ? (std::uint32_t(byte()) << 8) | byte() : byte();
    return raw % bound;
  }
  // A value in [low, high].
  std::int32_t between(std::int32_t low, std::int32_t high) {
    return low + static_cast<std::int32_t>(below(static_cast<std::uint32_t>(high - low) + 1));
  }
  // Eight bytes, little-endian.
  std::uint64_t word() {
    std::uint64_t value = 0;
    for (int k = 0; k < 8; ++k) value |= std::uint64_t(byte()) << (8 * k);
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

}  // namespace varnel::fuzz
