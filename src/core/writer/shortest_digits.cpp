#include "writer/shortest_digits.h"

#include <bit>
#include <cstdint>

namespace vardelquin {
namespace {

// A significand below 10^17 has at most 17 digits, so at most 16 trailing zeros.
DecimalDigits without_trailing_zeros(std::uint64_t significand, int exponent) {
  if (significand % 10 == 0) {
    significand /= 10;
    exponent += 1;
    // At most 15 more: take them as 8, 4, 2 and 1.
    if (significand % 100000000 == 0) {
      significand /= 100000000;
      exponent += 8;
    }
    if (significand % 10000 == 0) {
      significand /= 10000;
      exponent += 4;
    }
    if (significand % 100 == 0) {
      significand /= 100;
      exponent += 2;
    }
    if (significand % 10 == 0) {
      significand /= 10;
      exponent += 1;
    }
  }
  return {significand, exponent};
}

}  // namespace

DecimalDigits shortest_digits(double value) {
  constexpr std::uint64_t infinity_bits = std::uint64_t{0x7FF} << 52;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value) & ~(std::uint64_t{1} << 63);
  // Zero wraps around to the largest value here.
  if (bits - 1 >= infinity_bits - 1) return {0, 0};
  const DecimalDigits padded = shortest_digits_padded(value);
  return without_trailing_zeros(padded.significand, padded.exponent);
}

}  // namespace vardelquin
