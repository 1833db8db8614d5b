// shortest_digits() and format_float() against the standard library: its
// shortest round-trip output, and its exact printing of integral values.
#include "writer/shortest_digits.h"

#include "tree/tree_writer.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ios>
#include <ostream>
#include <random>
#include <string>
#include <utility>

namespace vardelquin {

void PrintTo(const DecimalDigits& d, std::ostream* out) { *out << d.significand << "e" << d.exponent; }

namespace {

TEST(ShortestDigitsTest, KnownValues) {
  const std::pair<double, DecimalDigits> cases[] = {
      {0x1p-1074, {5, -324}},
      {0x3p-1074, {15, -324}},
      {0x1p-1073, {1, -323}},  // 9.88e-324: 1e-323 is as short as 9e-324 and nearer
      {0x1p-1022, {22250738585072014, -324}},
      {0x0.fffffffffffffp-1022, {2225073858507201, -323}},
      {0.1 + 0.2, {30000000000000004, -17}},
      {0x1.0000000000001p+0, {10000000000000002, -16}},
      // In [2^50, 2^51) a fraction of 1/4 or 3/4 lies halfway between two
      // 17-digit decimals, both in the interval: the even one wins.
      {1125899906842624.25, {11258999068426242, -1}},
      {1125899906842624.75, {11258999068426248, -1}},
      // The first: its scaled interval centre lies nearest above an integer
      // (2^-65.4), closer than the check for a fraction could see at 2^-64 alone.
      {0x1.f92bacb3cb40cp+716, {6802601037806062, 200}},
      {0x1.fffffffffffffp-1, {9999999999999999, -16}},
      {1e23, {1, 23}},
      {0x1p+63, {9223372036854776, 3}},
      {0x1.fffffffffffffp+1023, {17976931348623157, 292}},
      {9007199254740993.0, {9007199254740992, 0}},  // 2^53 + 1 reads as 2^53
      {0.0, {0, 0}},
      {INFINITY, {0, 0}},
      {NAN, {0, 0}},  // outside the domain
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(shortest_digits(input), expected) << std::hexfloat << input;
    EXPECT_EQ(shortest_digits(-input), expected) << std::hexfloat << input;
  }
}

// Compares finite nonzero values with the standard library, reporting the
// first few differences; check_bits() takes every double whose bit pattern
// lies in [first, last], with either sign.
struct Reference {
  void check(double x) {
    if (!std::isfinite(x) || x == 0.0) return;
    char text[400];
    *std::to_chars(text, text + sizeof text, std::fabs(x), std::chars_format::scientific).ptr = '\0';
    const char* const e = std::strchr(text, 'e');
    std::string digits(text, static_cast<std::size_t>(e - text));
    std::erase(digits, '.');
    DecimalDigits want{std::stoull(digits), std::atoi(e + 1) + 1 - static_cast<int>(digits.size())};
    for (; want.significand % 10 == 0; want.significand /= 10) ++want.exponent;
    const char* const end = x == std::trunc(x)
                                ? text + std::snprintf(text, sizeof text, "%.0f.0", x)
                                : std::to_chars(text, text + sizeof text, x, std::chars_format::fixed).ptr;
    const std::string spelling(text, static_cast<std::size_t>(end - text)), written = format_float(x);
    if ((shortest_digits(x) != want || written != spelling || !padded_matches(x, want)) && ++failures <= 10) {
      ADD_FAILURE() << std::hexfloat << x << ": " << ::testing::PrintToString(shortest_digits(x)) << " "
                    << written << ", want " << ::testing::PrintToString(want) << " " << spelling;
    }
  }

  // The padded digits are `want` with zeros appended to 17 digits.
  static bool padded_matches(double x, DecimalDigits want) {
    constexpr std::uint64_t e16 = 10'000'000'000'000'000;
    const DecimalDigits padded = shortest_digits_padded(x);
    if (padded.significand < e16 || padded.significand >= 10 * e16 || padded.exponent > want.exponent)
      return false;
    for (int e = padded.exponent; e < want.exponent; ++e) {
      if (want.significand >= e16) return false;
      want.significand *= 10;
    }
    return want.significand == padded.significand;
  }

  void check_bits(std::uint64_t first, std::uint64_t last) {
    for (std::uint64_t bits = first; bits <= last; ++bits) {
      check(std::bit_cast<double>(bits));
      check(-std::bit_cast<double>(bits));
    }
  }

  int failures = 0;
};

TEST(ShortestDigitsTest, BoundariesMatchTheStandardLibrary) {
  Reference reference;
  const auto around = [&](double x) {
    const auto bits = std::bit_cast<std::uint64_t>(x);
    reference.check_bits(bits - 1, bits + 1);
  };
  for (int e = -1073; e <= 1023; ++e) around(std::ldexp(1.0, e));
  for (int e = -323; e <= 308; ++e) around(std::strtod(("1e" + std::to_string(e)).c_str(), nullptr));
  // The least subnormals, the greatest subnormals and least normals, the greatest values.
  reference.check_bits(1, 100000);
  reference.check_bits((std::uint64_t{1} << 52) - 100000, (std::uint64_t{1} << 52) + 100000);
  reference.check_bits(0x7FEFFFFFFFFFFFFF - 20000, 0x7FEFFFFFFFFFFFFF);
  // Around 2^52, 2^51, ..., 2^38: the spacing there is 1, 1/2, ..., 2^-14.
  for (std::uint64_t e = 1061; e <= 1075; ++e) reference.check_bits((e << 52) - 20000, (e << 52) + 20000);
}

// Uniform bit patterns (mostly huge or tiny, often integral), values from
// the exponents where fractions exist, and decimals typed with 1 to 17
// significant digits, whose shortest spelling is often shorter than 17.
TEST(ShortestDigitsTest, RandomValuesMatchTheStandardLibrary) {
  Reference reference;
  std::mt19937_64 random(20240611);
  std::uniform_int_distribution<std::uint64_t> fractional_exponent(0, 1075 + 51);
  std::uniform_int_distribution<int> precision(0, 16), decade(-30, 30);
  char text[64];
  for (int i = 0; i < 1'800'000; ++i) {
    const std::uint64_t bits = random();
    if (i % 6 == 0) {
      reference.check(std::bit_cast<double>(bits));
    } else if (i % 2 == 1) {
      reference.check(std::bit_cast<double>((bits & 0x800FFFFFFFFFFFFF) | fractional_exponent(random) << 52));
    } else {
      const double x = std::ldexp(static_cast<double>(bits >> 11), -53) * std::pow(10.0, decade(random));
      std::snprintf(text, sizeof text, "%.*e", precision(random), bits & 1 ? x : -x);
      reference.check(std::strtod(text, nullptr));
    }
  }
}

}  // namespace
}  // namespace vardelquin
