#include "reader/nearest_double.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace vardelquin {
namespace {

// strtod rounds correctly for any number of digits.
double reference(std::uint64_t mantissa, std::int64_t power) {
  const std::string text = std::to_string(mantissa) + "e" + std::to_string(power);
  return std::strtod(text.c_str(), nullptr);
}

// A result, where there is one, is the reference's to the bit.
void expect_exact(std::uint64_t mantissa, std::int64_t power, int& settled) {
  const auto got = nearest_double(mantissa, power);
  if (!got) return;
  ++settled;
  EXPECT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(reference(mantissa, power)))
      << mantissa << "e" << power;
}

// Mantissas of 1 to 19 digits over the whole range of powers.
TEST(NearestDouble, RandomNumbersMatchTheReference) {
  std::mt19937_64 random(20261207);
  int settled = 0;
  constexpr int rounds = 200000;
  for (int round = 0; round < rounds; ++round) {
    const int digits = 1 + static_cast<int>(random() % 19);
    std::uint64_t limit = 1;
    for (int d = 0; d < digits; ++d) limit *= 10;
    const std::uint64_t mantissa = random() % limit;
    const auto power = static_cast<std::int64_t>(random() % 660) - 340;
    expect_exact(mantissa, power, settled);
  }
  // The method settles nearly every number in the normal range.
  EXPECT_GT(settled, rounds * 8 / 10);
}

// The 17-digit shortest forms of random doubles, as the writer makes them,
// and those numbers one unit up and down in the last digit.
TEST(NearestDouble, ShortestDigitsOfDoublesMatchTheReference) {
  std::mt19937_64 random(7);
  int settled = 0;
  for (int round = 0; round < 100000; ++round) {
    const double value = std::bit_cast<double>(random() & ~(std::uint64_t{1} << 63));
    if (!std::isfinite(value)) continue;
    char text[40];
    std::snprintf(text, sizeof text, "%.16e", value);  // d.dddddddddddddddde±x
    std::string digits(text, 1);
    digits.append(text + 2, 16);
    const std::uint64_t mantissa = std::stoull(digits);
    const std::int64_t power = std::atoll(text + 19) - 16;
    for (const std::uint64_t m : {mantissa, mantissa - 1, mantissa + 1}) expect_exact(m, power, settled);
  }
  EXPECT_GT(settled, 250000);
}

// Halfway between two doubles, just below and just above, near powers of
// two, at the ends of the exponent range, and the largest mantissas.
TEST(NearestDouble, BoundaryCasesMatchTheReference) {
  int settled = 0;
  const struct {
    std::uint64_t mantissa;
    std::int64_t power;
  } cases[] = {
      {9007199254740993, 0},
      {9007199254740995, 0},
      {9007199254740994, 0},
      {18014398509481987, 0},
      {90071992547409925, -1},
      {90071992547409935, -1},
      {4503599627370497, 0},
      {9007199254740992, 0},
      {1, 0},
      {17976931348623157, 292},
      {17976931348623158, 292},
      {17976931348623159, 292},
      {22250738585072014, -324},
      {22250738585072011, -324},
      {49406564584124654, -340},
      {18446744073709551615u, 0},
      {18446744073709551615u, -19},
      {18446744073709551615u, 289},
      {10000000000000000000u, -1},
      {1, 308},
      {1, -292},
      {7205759403792794, -16},
      {72057594037927945, -17},
      {11920928955078125, -23},
      {30000000000000004, -17},
      {5, -1},
      {25, -2},
  };
  for (const auto& c : cases) expect_exact(c.mantissa, c.power, settled);
  // Every power of ten the table holds, times a few mantissas.
  for (std::int64_t power = -292; power <= 308; ++power) {
    for (const std::uint64_t m : {std::uint64_t{1}, std::uint64_t{3}, std::uint64_t{123456789012345678},
                                  std::uint64_t{9999999999999999999u}}) {
      expect_exact(m, power, settled);
    }
  }
  EXPECT_EQ(nearest_double(0, 5), 0.0);
  EXPECT_EQ(nearest_double(1, 400), std::nullopt);
  EXPECT_EQ(nearest_double(1, -400), std::nullopt);
}

}  // namespace
}  // namespace vardelquin
