// ByteCount's arithmetic and its decimal text.
#include "varnel/memory/byte_count.h"

namespace varnel {

ByteCount& ByteCount::operator+=(const ByteCount& other) {
  low_ += other.low_;
  high_ += other.high_ + (low_ < other.low_ ? 1 : 0);
  return *this;
}

ByteCount operator*(const ByteCount& a, std::uint64_t factor) {
  // The low word times the factor in 32-bit halves, carrying into the high word.
  constexpr std::uint64_t kHalf = 0xFFFFFFFFu;
  const std::uint64_t a0 = a.low_ & kHalf, a1 = a.low_ >> 32;
  const std::uint64_t b0 = factor & kHalf, b1 = factor >> 32;
  const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const std::uint64_t middle = (p00 >> 32) + (p01 & kHalf) + (p10 & kHalf);
  ByteCount product;
  product.low_ = (middle << 32) | (p00 & kHalf);
  product.high_ = a.high_ * factor + p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
  return product;
}

std::string ByteCount::toString() const {
  // Long division by 10 over four 32-bit limbs, most significant first.
  std::uint32_t limbs[4] = {
      static_cast<std::uint32_t>(high_ >> 32), static_cast<std::uint32_t>(high_),
      static_cast<std::uint32_t>(low_ >> 32), static_cast<std::uint32_t>(low_)};
  std::string digits;
  do {
    std::uint64_t remainder = 0;
    bool zero = true;
    for (std::uint32_t& limb : limbs) {
      const std::uint64_t current = (remainder << 32) | limb;
      limb = static_cast<std::uint32_t>(current / 10);
      remainder = current % 10;
      zero = zero && limb == 0;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + remainder));
    if (zero) break;
  } while (true);
  return digits;
}

std::string neededAbovePhysicalMemory(const ByteCount& need, std::uint64_t physicalMemory) {
  return "Error: no more memory: " + need.toString() + " bytes needed by this run, above the " +
         std::to_string(physicalMemory) + " bytes of physical memory";
}

std::string neededAboveProcessLimit(const ByteCount& need, std::uint64_t bytes, const char* limit) {
  const std::string digits = std::to_string(bytes);
  std::string grouped;
  for (std::size_t k = 0; k < digits.size(); ++k) {
    if (k > 0 && (digits.size() - k) % 3 == 0) grouped += ',';
    grouped += digits[k];
  }
  return "Error: no more memory: " + need.toString() + " bytes needed by this run, above the " +
         grouped + "-byte " + limit;
}

std::string neededAboveWorkerBudget(const ByteCount& need, std::uint64_t budget) {
  return "Error: no more memory: " + need.toString() +
         " bytes needed by each worker, above its budget of " + std::to_string(budget) + " bytes";
}

}  // namespace varnel
