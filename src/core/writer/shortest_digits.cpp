#include "writer/shortest_digits.h"

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
  const DecimalDigits padded = shortest_digits_padded(value);
  if (padded.significand == 0) return padded;  // no digits to trim
  return without_trailing_zeros(padded.significand, padded.exponent);
}

}  // namespace vardelquin
