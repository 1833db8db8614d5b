#include "parser/scalar.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace vardelquin {
namespace {

const FormatConfig& default_config() {
  static const FormatConfig config = *FormatConfig::defaults();
  return config;
}

Value flt(double d) { return Value::floating(d); }
std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr std::int64_t int64_max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64_min = std::numeric_limits<std::int64_t>::min();
const Value quiet_nan = flt(std::bit_cast<double>(std::uint64_t{0x7FF8000000000000}));
const Value negative_nan = flt(std::bit_cast<double>(std::uint64_t{0xFFF8000000000000}));

struct ScalarCase {
  const char* token;
  Value expected;  // floats compare by bit pattern
};

TEST(DecodeScalar, TypesByFirstMatchingTest) {
  const ScalarCase cases[] = {
      {"null", Value::null()}, {"true", Value::boolean(true)}, {"false", Value::boolean(false)},

      {"42", Value::integer(42)}, {"+42", Value::integer(42)}, {"007", Value::integer(7)},
      {"-0", Value::integer(0)}, {"999999999999999999", Value::integer(999'999'999'999'999'999)},
      {"9223372036854775807", Value::integer(int64_max)},
      {"-9223372036854775808", Value::integer(int64_min)},
      {"+0009223372036854775807", Value::integer(int64_max)},
      {"-00000000000000000000000000042", Value::integer(-42)},
      // Past the 64-bit range an integer is the nearest float.
      {"9223372036854775808", flt(9223372036854775808.0)},
      {"-9223372036854775809", flt(-9223372036854775808.0)},
      {"100000000000000000000000", flt(1e23)},

      {"1.0", flt(1.0)}, {"1e0", flt(1.0)}, {"3.", flt(3.0)}, {".5", flt(0.5)},
      {"-.5", flt(-0.5)}, {"+.5", flt(0.5)}, {"00.5", flt(0.5)}, {"1E3", flt(1000.0)},
      {"1e+3", flt(1000.0)}, {"2.5e-3", flt(0.0025)}, {"-0.0", flt(-0.0)}, {"-0e5", flt(-0.0)},
      {"0e99999999999999999999999", flt(0.0)}, {"1e400", flt(inf)}, {"-1e400", flt(-inf)},
      {"1e99999999999999999999999", flt(inf)}, {"1e-400", flt(0.0)}, {"-1e-400", flt(-0.0)},
      {"1e-99999999999999999999999", flt(0.0)},
      {"inf", flt(inf)}, {"+Infinity", flt(inf)}, {"-iNfInItY", flt(-inf)}, {"-inf", flt(-inf)},
      {"nan", quiet_nan}, {"NaN", quiet_nan}, {"+nAn", quiet_nan}, {"-nan", negative_nan},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decode_scalar(c.token, default_config()), c.expected) << "token: \"" << c.token << '"';
  }
}

TEST(DecodeScalar, EverythingElseStaysTheToken) {
  const char* tokens[] = {
      "", "Null", "TRUE", "true ", " true", "nul", "+", "-", ".", "+.", "e5", ".e5", "1e", "1e+",
      "1ee5", "1e5.0", "1.2.3", "--1", "+-1", "1_000", "0x10", " 5", "5 ", "1,5", "in", "infin",
      "infinityy", "inf5", "nan(1)", "nana", "1000000000000000000x",
      "\xD9\xA1",  // a digit, but not an ASCII one
  };
  for (const char* token : tokens) {
    EXPECT_EQ(decode_scalar(token, default_config()), Value::string(token)) << '"' << token << '"';
  }
}

TEST(DecodeScalar, KeywordsWinOverNumbers) {
  FormatFields fields = FormatFields::default_values();
  fields.keywords = {"0", "1.5", "nan"};
  const FormatConfig config = *FormatConfig::create(fields);
  EXPECT_EQ(decode_scalar("0", config), Value::null());
  EXPECT_EQ(decode_scalar("1.5", config), Value::boolean(true));
  EXPECT_EQ(decode_scalar("nan", config), Value::boolean(false));
  EXPECT_EQ(decode_scalar("00", config), Value::integer(0));
  EXPECT_EQ(decode_scalar("NaN", config), quiet_nan);
  EXPECT_EQ(decode_scalar("null", config), Value::string("null"));
}

// The C library's conversion rounds correctly and is the reference here;
// the default "C" locale keeps its decimal point a '.'.
void expect_matches_reference(const std::string& token) {
  const auto parsed = parse_float(token);
  ASSERT_TRUE(parsed.has_value()) << token;
  ASSERT_EQ(bits(*parsed), bits(std::strtod(token.c_str(), nullptr))) << token;
}

TEST(ParseFloat, BoundaryValuesRoundCorrectly) {
  for (const char* token : {"1.7976931348623157e308", "1.7976931348623158e308",
                            "1.7976931348623159e308", "179769313486231580793728971405301e276",
                            "2.2250738585072011e-308", "2.2250738585072012e-308",
                            "4.9406564584124654e-324", "2.4703282292062327e-324",
                            "2.4703282292062328e-324", "3e-324", "1e-324", "0.000001e-318",
                            "9007199254740993", "9007199254740993.0000000000000000001", "1e23",
                            "0.30000000000000004", "123456789012345678901234567890e-30"}) {
    expect_matches_reference(token);
  }
}

// Exactly halfway between two neighbouring doubles (ties to even), and a
// hair above and below it. The 64-bit mantissa of long double holds every
// such midpoint, and its printing with enough digits is exact.
TEST(ParseFloat, HalfwayCasesRoundToEven) {
  std::mt19937_64 rng(20240601);
  std::vector<double> lows = {0.0, 1.0, 9007199254740992.0, 1e300, 1e-300, 2.2250738585072014e-308,
                              4.9406564584124654e-324, 1.7976931348623155e308};
  std::uniform_int_distribution<std::uint64_t> any_finite(0, 0x7FEFFFFFFFFFFFFE);
  for (int i = 0; i < 300; ++i) lows.push_back(std::bit_cast<double>(any_finite(rng)));

  std::vector<char> buffer(1200);
  for (const double low : lows) {
    const double high = std::nextafter(low, inf);
    const long double mid = (static_cast<long double>(low) + static_cast<long double>(high)) / 2;
    std::snprintf(buffer.data(), buffer.size(), "%.800Le", mid);
    const std::string exact(buffer.data());
    std::string mantissa = exact.substr(0, exact.find('e'));
    const std::string exponent = exact.substr(exact.find('e'));
    mantissa.erase(mantissa.find_last_not_of('0') + 1);
    if (mantissa.back() == '.') continue;  // a one-digit tie such as 1e23, listed above

    const double even = (bits(low) & 1) == 0 ? low : high;
    EXPECT_EQ(bits(*parse_float(mantissa + exponent)), bits(even)) << mantissa + exponent;
    expect_matches_reference(mantissa + "00000000000000000000001" + exponent);
    std::string below = mantissa;
    --below.back();  // the last digit kept is not 0
    expect_matches_reference(below + "99999999999999999999" + exponent);
  }
}

TEST(ParseFloat, RandomDecimalsMatchReference) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> digit(0, 9);
  std::uniform_int_distribution<int> exponent(-345, 330);
  for (int i = 0; i < 20000; ++i) {
    // Mostly short mantissas, some far past the seventeen digits a double holds.
    const int n = std::uniform_int_distribution<int>(1, i % 50 == 0 ? 900 : 40)(rng);
    const int point = std::uniform_int_distribution<int>(0, n)(rng);
    std::string token = i % 3 == 0 ? "-" : "";
    for (int k = 0; k < n; ++k) {
      if (k == point) token += '.';
      token += static_cast<char>('0' + digit(rng));
    }
    if (i % 4 != 0) token.append("e").append(std::to_string(exponent(rng)));
    expect_matches_reference(token);
  }
}

// Digits that balance a huge explicit exponent still give the value they
// spell.
TEST(ParseFloat, HugeExponentsBalancedByDigits) {
  const std::string zeros(2'000'000, '0');
  EXPECT_EQ(parse_float("0." + zeros + "15e2000004"), 1500.0);
  EXPECT_EQ(parse_float("0." + zeros + "5e2000004"), 5000.0);
  EXPECT_EQ(parse_float("15" + zeros + "e-2000001"), 1.5);
  EXPECT_EQ(parse_float("1" + zeros + "e-1999700"), 1e300);
  EXPECT_EQ(parse_float("1" + zeros + "e-1999600"), inf);
  EXPECT_EQ(bits(*parse_float("-0." + zeros + "1e-2000000")), bits(-0.0));
  expect_matches_reference("0." + zeros + "17976931348623158e2000309");
  expect_matches_reference("0." + zeros + "24703282292062328e1999677");
}

}  // namespace
}  // namespace vardelquin
