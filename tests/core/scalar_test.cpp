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

Value str(const char* s) { return Value::string(s); }
Value flt(double d) { return Value::floating(d); }
Value flt_bits(std::uint64_t bits) { return Value::floating(std::bit_cast<double>(bits)); }

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr std::int64_t int64_min = std::numeric_limits<std::int64_t>::min();

struct ScalarCase {
  const char* token;
  Value expected;  // floats compare by bit pattern
};

TEST(DecodeScalar, TypesByFirstMatchingTest) {
  const ScalarCase cases[] = {
      {"null", Value::null()},
      {"true", Value::boolean(true)},
      {"false", Value::boolean(false)},
      {"Null", str("Null")},
      {"TRUE", str("TRUE")},
      {"true ", str("true ")},
      {" true", str(" true")},
      {"nul", str("nul")},
      {"no", str("no")},

      {"42", Value::integer(42)},
      {"+42", Value::integer(42)},
      {"007", Value::integer(7)},
      {"-0", Value::integer(0)},
      {"999999999999999999", Value::integer(999'999'999'999'999'999)},
      {"9223372036854775807", Value::integer(std::numeric_limits<std::int64_t>::max())},
      {"-9223372036854775808", Value::integer(int64_min)},
      {"+0009223372036854775807", Value::integer(std::numeric_limits<std::int64_t>::max())},
      {"-00000000000000000000000000042", Value::integer(-42)},

      // Past the 64-bit range an integer is the nearest float.
      {"9223372036854775808", flt(9223372036854775808.0)},
      {"-9223372036854775809", flt(-9223372036854775808.0)},
      {"18446744073709551616", flt(18446744073709551616.0)},
      {"100000000000000000000000", flt(1e23)},

      {"1.0", flt(1.0)},
      {"1e0", flt(1.0)},
      {"3.", flt(3.0)},
      {".5", flt(0.5)},
      {"-.5", flt(-0.5)},
      {"+.5", flt(0.5)},
      {"00.5", flt(0.5)},
      {"1e3", flt(1000.0)},
      {"1E3", flt(1000.0)},
      {"1e+3", flt(1000.0)},
      {"2.5e-3", flt(0.0025)},
      {"-0.0", flt(-0.0)},
      {"-0e5", flt(-0.0)},
      {"0e99999999999999999999999", flt(0.0)},
      {"1e400", flt(inf)},
      {"-1e400", flt(-inf)},
      {"1e99999999999999999999999", flt(inf)},
      {"1e-400", flt(0.0)},
      {"-1e-400", flt(-0.0)},
      {"1e-99999999999999999999999", flt(0.0)},
      {"inf", flt(inf)},
      {"INF", flt(inf)},
      {"+Infinity", flt(inf)},
      {"-inf", flt(-inf)},
      {"-iNfInItY", flt(-inf)},
      {"nan", flt_bits(0x7FF8000000000000)},
      {"NaN", flt_bits(0x7FF8000000000000)},
      {"+nAn", flt_bits(0x7FF8000000000000)},
      {"-nan", flt_bits(0xFFF8000000000000)},

      {"", str("")},
      {"+", str("+")},
      {"-", str("-")},
      {".", str(".")},
      {"+.", str("+.")},
      {"e5", str("e5")},
      {".e5", str(".e5")},
      {"1e", str("1e")},
      {"1e+", str("1e+")},
      {"1ee5", str("1ee5")},
      {"1e5.0", str("1e5.0")},
      {"1.2.3", str("1.2.3")},
      {"--1", str("--1")},
      {"+-1", str("+-1")},
      {"1_000", str("1_000")},
      {"0x10", str("0x10")},
      {" 5", str(" 5")},
      {"5 ", str("5 ")},
      {"1,5", str("1,5")},
      {"in", str("in")},
      {"infin", str("infin")},
      {"infinityy", str("infinityy")},
      {"nan(1)", str("nan(1)")},
      {"nana", str("nana")},
      {"inf5", str("inf5")},
      {"\xD9\xA1", str("\xD9\xA1")},  // a digit, but not an ASCII one
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decode_scalar(c.token, default_config()), c.expected) << "token: \"" << c.token << '"';
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
  EXPECT_EQ(decode_scalar("NaN", config), flt_bits(0x7FF8000000000000));
  EXPECT_EQ(decode_scalar("null", config), str("null"));
}

// The C library's conversion rounds correctly and is the reference here;
// the default "C" locale keeps its decimal point a '.'.
void expect_matches_reference(const std::string& token) {
  const auto parsed = parse_float(token);
  ASSERT_TRUE(parsed.has_value()) << token;
  const double reference = std::strtod(token.c_str(), nullptr);
  ASSERT_EQ(std::bit_cast<std::uint64_t>(*parsed), std::bit_cast<std::uint64_t>(reference))
      << token;
}

TEST(ParseFloat, BoundaryValuesRoundCorrectly) {
  const char* tokens[] = {
      "1.7976931348623157e308",  "1.7976931348623158e308",  "1.7976931348623159e308",
      "179769313486231580793728971405301e276",              "2.2250738585072011e-308",
      "2.2250738585072012e-308", "2.2250738585072014e-308", "4.9406564584124654e-324",
      "2.4703282292062327e-324", "2.4703282292062328e-324", "3e-324",
      "1e-324",                  "9e-325",                  "0.000001e-318",
      "9007199254740993",        "9007199254740992.5",      "9007199254740993.0000000000000000001",
      "0.1",                     "0.30000000000000004",     "1e23",     "123456789012345678901234567890e-30",
  };
  for (const char* token : tokens) expect_matches_reference(token);
}

// Exactly halfway between two neighbouring doubles (ties to even), and a
// hair above and below it. The 64-bit mantissa of long double holds every
// such midpoint, and its printing with enough digits is exact.
TEST(ParseFloat, HalfwayCasesRoundToEven) {
  std::mt19937_64 rng(20240601);
  const double starts[] = {1.0, 9007199254740992.0, 1e300, 1e-300, 2.2250738585072014e-308,
                           4.9406564584124654e-324, 1e22, 1e23};
  std::vector<double> lows(std::begin(starts), std::end(starts));
  std::uniform_int_distribution<std::uint64_t> bits(0, 0x7FEFFFFFFFFFFFFE);
  for (int i = 0; i < 300; ++i) lows.push_back(std::bit_cast<double>(bits(rng)));

  std::vector<char> buffer(1200);
  for (const double low : lows) {
    const double high = std::nextafter(low, inf);
    const long double mid = (static_cast<long double>(low) + static_cast<long double>(high)) / 2;
    std::snprintf(buffer.data(), buffer.size(), "%.800Le", mid);
    std::string exact(buffer.data());
    const auto e = exact.find('e');
    std::string mantissa = exact.substr(0, e);
    mantissa.erase(mantissa.find_last_not_of('0') + 1);
    if (mantissa.back() == '.') continue;  // a one-digit tie such as 1e23, listed above
    const std::string exponent = exact.substr(e);

    const std::string tie = mantissa + exponent;
    const double even = (std::bit_cast<std::uint64_t>(low) & 1) == 0 ? low : high;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(*parse_float(tie)), std::bit_cast<std::uint64_t>(even))
        << tie;
    expect_matches_reference(tie);
    expect_matches_reference(mantissa + "00000000000000000000001" + exponent);
    std::string below = mantissa;
    --below.back();  // the last kept digit is never 0
    expect_matches_reference(below + "99999999999999999999" + exponent);
  }
}

TEST(ParseFloat, RandomDecimalsMatchReference) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> digit(0, 9);
  std::uniform_int_distribution<int> length(1, 40);
  std::uniform_int_distribution<int> exponent(-345, 330);
  for (int i = 0; i < 20000; ++i) {
    std::string token;
    const int n = length(rng);
    const int point = std::uniform_int_distribution<int>(0, n)(rng);
    for (int k = 0; k < n; ++k) {
      if (k == point) token += '.';
      token += static_cast<char>('0' + digit(rng));
    }
    if (i % 4 != 0) token.append("e").append(std::to_string(exponent(rng)));
    if (i % 3 == 0) token.insert(0, 1, '-');
    expect_matches_reference(token);
  }
}

TEST(ParseFloat, LongMantissasMatchReference) {
  std::mt19937_64 rng(11);
  std::uniform_int_distribution<int> digit(0, 9);
  for (int size : {100, 780, 5000}) {
    for (int e : {-330, -310, -20, 0, 20, 290}) {
      std::string token = "0.";
      for (int k = 0; k < size; ++k) token += static_cast<char>('0' + digit(rng));
      token += 'e' + std::to_string(e);
      expect_matches_reference(token);
    }
  }
}

// Digits that cancel a huge explicit exponent still give the value they
// spell, and digits past any length leave an out-of-range value out of range.
TEST(ParseFloat, HugeExponentsBalancedByDigits) {
  const std::string zeros(2'000'000, '0');
  EXPECT_EQ(parse_float("0." + zeros + "15e2000004"), 1500.0);
  EXPECT_EQ(parse_float("15" + zeros + "e-2000001"), 1.5);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(*parse_float("-0." + zeros + "1e-2000000")),
            std::bit_cast<std::uint64_t>(-0.0));
  EXPECT_EQ(parse_float("1" + zeros + "e-1999700"), 1e300);
  EXPECT_EQ(parse_float("1" + zeros + "e-1999600"), inf);
  expect_matches_reference("0." + zeros + "17976931348623158e2000309");
  expect_matches_reference("0." + zeros + "24703282292062328e1999677");
}

TEST(ParseInteger, LimitsAndRejections) {
  EXPECT_EQ(parse_integer("-9223372036854775808"), int64_min);
  EXPECT_EQ(parse_integer("-09223372036854775808"), int64_min);
  EXPECT_FALSE(parse_integer("9223372036854775808"));
  EXPECT_FALSE(parse_integer("-9223372036854775809"));
  EXPECT_FALSE(parse_integer("99999999999999999999"));
  EXPECT_FALSE(parse_integer("1000000000000000000x"));
  for (const char* token : {"", "+", "-", "1.0", "1e3", "12a", "+-1", " 1", "1 "}) {
    EXPECT_FALSE(parse_integer(token)) << token;
  }
}

}  // namespace
}  // namespace vardelquin
