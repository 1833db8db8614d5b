// shortest_digits() and the positional spelling format_float() builds from it,
// compared with the standard library's shortest round-trip output.
#include "serializer/shortest_digits.h"

#include "serializer/writer.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace vardelquin {
namespace {

// --- Values with known answers, independent of any reference ------------

TEST(ShortestDigitsTest, KnownValues) {
  struct Case {
    double input;
    DecimalDigits digits;
    std::string spelling;  // empty for integral values, which format_float spells exactly
  };
  const std::vector<Case> cases = {
      {0x1p-1074, {5, -324}, "0." + std::string(323, '0') + "5"},
      {0x1p-1073, {1, -323}, "0." + std::string(322, '0') + "1"},  // 9.88e-324: 1e-323, not 9e-324
      {0x3p-1074, {15, -324}, "0." + std::string(322, '0') + "15"},
      {0x1p-1022, {22250738585072014, -324}, "0." + std::string(307, '0') + "22250738585072014"},
      {0x0.fffffffffffffp-1022, {2225073858507201, -323}, "0." + std::string(307, '0') + "2225073858507201"},
      {0.1 + 0.2, {30000000000000004, -17}, "0.30000000000000004"},
      {1e-7, {1, -7}, "0.0000001"},
      {1.5, {15, -1}, "1.5"},
      {-123456.789, {123456789, -3}, "-123456.789"},
      {1.0 / 3.0, {3333333333333333, -16}, "0.3333333333333333"},
      {2.0 / 3.0, {6666666666666666, -16}, "0.6666666666666666"},
      {4503599627370495.5, {45035996273704955, -1}, "4503599627370495.5"},
      {0x1.fffffffffffffp+51, {45035996273704955, -1}, "4503599627370495.5"},
      {0x1.0000000000001p+0, {10000000000000002, -16}, "1.0000000000000002"},
      {0x1.fffffffffffffp-1, {9999999999999999, -16}, "0.9999999999999999"},
      // In [2^50, 2^51) a fraction of 1/4 or 3/4 lies halfway between two
      // 17-digit decimals, both in the interval: the even one wins.
      {1125899906842624.25, {11258999068426242, -1}, "1125899906842624.2"},
      {1125899906842624.75, {11258999068426248, -1}, "1125899906842624.8"},
      {1125899906842625.25, {11258999068426252, -1}, "1125899906842625.2"},
      {0.001, {1, -3}, "0.001"},
      {123.456, {123456, -3}, "123.456"},
      // Its scaled interval centre lies nearest above an integer (2^-65.4),
      // closer than the check for a fraction could see at 2^-64 alone.
      {0x1.f92bacb3cb40cp+716, {6802601037806062, 200}, ""},
      {1.0, {1, 0}, ""},
      {1e23, {1, 23}, ""},  // the double nearest to 1e23 is 99999999999999991611392
      {0x1p+63, {9223372036854776, 3}, ""},
      {std::numeric_limits<double>::max(), {17976931348623157, 292}, ""},
      {9007199254740993.0, {9007199254740992, 0}, ""},  // 2^53 + 1 reads as 2^53
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.spelling);
    const DecimalDigits got = shortest_digits(c.input);
    EXPECT_EQ(got.significand, c.digits.significand) << std::hexfloat << c.input;
    EXPECT_EQ(got.exponent, c.digits.exponent) << std::hexfloat << c.input;
    EXPECT_EQ(shortest_digits(-c.input), got);
    if (!c.spelling.empty()) {
      EXPECT_EQ(format_float(c.input), c.spelling);
    }
  }
  // Arguments outside the domain give {0, 0}.
  const double inf = std::numeric_limits<double>::infinity();
  for (double x : {0.0, -0.0, inf, -inf, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(shortest_digits(x), (DecimalDigits{0, 0})) << x;
  }
}

// --- Value sets compared with the standard library -----------------------

// The standard library's shortest scientific spelling of |x| as digits.
DecimalDigits reference_digits(double x) {
  char buffer[32];
  const char* const end =
      std::to_chars(buffer, buffer + sizeof buffer, std::fabs(x), std::chars_format::scientific).ptr;
  DecimalDigits decimal{0, 0};
  const char* p = buffer;
  for (; *p != 'e'; ++p) {
    if (*p == '.') continue;
    decimal.significand = 10 * decimal.significand + static_cast<std::uint64_t>(*p - '0');
    --decimal.exponent;
  }
  int exponent = 0;
  std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
  decimal.exponent += exponent + 1;
  while (decimal.significand % 10 == 0) {
    decimal.significand /= 10;
    ++decimal.exponent;
  }
  return decimal;
}

// The standard library's shortest positional spelling.
std::string reference_spelling(double x) {
  char buffer[400];
  return {buffer, std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::fixed).ptr};
}

using Visit = std::function<void(double)>;

// Every double whose bit pattern lies in [first, last], with either sign.
void each_bits(std::uint64_t first, std::uint64_t last, const Visit& visit) {
  for (std::uint64_t bits = first; bits <= last; ++bits) {
    visit(std::bit_cast<double>(bits));
    visit(-std::bit_cast<double>(bits));
  }
}

// x and its two neighbours, with either sign.
void each_neighbourhood(double x, const Visit& visit) {
  const auto bits = std::bit_cast<std::uint64_t>(x);
  each_bits(bits - 1, bits + 1, visit);
}

struct ValueSet {
  const char* name;
  void (*each)(const Visit&);
};

constexpr std::uint64_t bits_of_2_52 = std::uint64_t{1075} << 52;

const ValueSet value_sets[] = {
    {"PowersOfTwo",
     [](const Visit& visit) {
       visit(0x1p-1074);
       for (int e = -1073; e <= 1023; ++e) each_neighbourhood(std::ldexp(1.0, e), visit);
     }},
    {"PowersOfTen",
     [](const Visit& visit) {
       for (int e = -323; e <= 308; ++e) {
         each_neighbourhood(std::strtod(("1e" + std::to_string(e)).c_str(), nullptr), visit);
       }
     }},
    {"SubnormalsAndNormalBoundaries",
     [](const Visit& visit) {
       constexpr std::uint64_t least_normal = std::uint64_t{1} << 52;
       const auto greatest = std::bit_cast<std::uint64_t>(std::numeric_limits<double>::max());
       each_bits(1, 200000, visit);                                        // the least subnormals
       each_bits(least_normal - 200000, least_normal + 200000, visit);   // the greatest, the least normals
       each_bits(greatest - 200000, greatest, visit);
     }},
    {"AroundPowersOfTwoWithFractions",
     [](const Visit& visit) {
       // Below 2^52 the spacing is 1/2, below 2^51 it is 1/4, and so on.
       for (std::uint64_t p = 0; p <= 14; ++p) {
         each_bits(bits_of_2_52 - (p << 52) - 20000, bits_of_2_52 - (p << 52) + 20000, visit);
       }
     }},
    {"RandomBitPatterns",
     [](const Visit& visit) {
       std::mt19937_64 random(20240611);
       for (int i = 0; i < 10'000'000; ++i) visit(std::bit_cast<double>(random()));
     }},
    {"RandomFractionalRange",
     [](const Visit& visit) {
       // Exponents where fractional parts exist, subnormals included.
       std::mt19937_64 random(17);
       std::uniform_int_distribution<std::uint64_t> biased_exponent(0, 1075 + 51);
       for (int i = 0; i < 1'000'000; ++i) {
         visit(std::bit_cast<double>((random() & 0x800FFFFFFFFFFFFF) | (biased_exponent(random) << 52)));
       }
     }},
    {"UniformCoordinates",
     [](const Visit& visit) {
       std::mt19937_64 random(180);
       std::uniform_real_distribution<double> coordinate(-180.0, 180.0);
       for (int i = 0; i < 1'000'000; ++i) visit(coordinate(random));
     }},
    {"ShortDecimals",
     [](const Visit& visit) {
       // Values typed with 1 to 17 significant digits, mostly in [-180, 180]
       // and over many decades: the shortest spelling is often shorter than 17.
       std::mt19937_64 random(1234);
       std::uniform_real_distribution<double> coordinate(-180.0, 180.0);
       std::uniform_int_distribution<int> precision(1, 17), decade(-30, 30);
       char text[64];
       for (int i = 0; i < 1'000'000; ++i) {
         const double scale = i % 2 == 0 ? 1.0 : std::pow(10.0, decade(random));
         const double x = coordinate(random) * scale;
         std::snprintf(text, sizeof text, "%.*g", precision(random), x);
         visit(std::strtod(text, nullptr));
       }
     }},
};

class ValueSetTest : public ::testing::TestWithParam<ValueSet> {};

TEST_P(ValueSetTest, MatchesTheStandardLibrary) {
  std::uint64_t digits_compared = 0, spellings_compared = 0, failures = 0;
  GetParam().each([&](double x) {
    if (!std::isfinite(x) || x == 0.0) return;
    ++digits_compared;
    const DecimalDigits got = shortest_digits(x), want = reference_digits(x);
    if (got != want && ++failures <= 10) {
      ADD_FAILURE() << std::hexfloat << x << ": " << got.significand << "e" << got.exponent << ", want "
                    << want.significand << "e" << want.exponent;
    }
    if (x == std::trunc(x)) return;  // integral values are spelled exactly, not by shortest digits
    ++spellings_compared;
    const std::string spelling = format_float(x), expected = reference_spelling(x);
    if (spelling != expected && ++failures <= 10) {
      ADD_FAILURE() << std::hexfloat << x << ": " << spelling << ", want " << expected;
    }
  });
  EXPECT_EQ(failures, 0u);
  std::printf("%s: %llu digit sets and %llu spellings compared\n", GetParam().name,
              static_cast<unsigned long long>(digits_compared),
              static_cast<unsigned long long>(spellings_compared));
}

std::string set_name(const ::testing::TestParamInfo<ValueSet>& set) { return set.param.name; }

INSTANTIATE_TEST_SUITE_P(ShortestDigits, ValueSetTest, ::testing::ValuesIn(value_sets), set_name);

}  // namespace
}  // namespace vardelquin
