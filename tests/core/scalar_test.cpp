#include "reader/scalar.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "scalar_oracle.h"

namespace vardelquin {
namespace {

const FormatConfig defaults = *FormatConfig::defaults();
const Value quiet_nan = Value::floating(std::bit_cast<double>(std::uint64_t{0x7FF8000000000000}));

Value i64(std::int64_t i) { return Value::integer(i); }
Value flt(double d) { return Value::floating(d); }
std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

TEST(DecodeScalar, TypesByFirstMatchingTest) {
  const std::pair<const char*, Value> cases[] = {  // floats compare by bit pattern
      {"null", Value::null()}, {"true", Value::boolean(true)}, {"false", Value::boolean(false)},
      {"+42", i64(42)}, {"007", i64(7)}, {"-0", i64(0)}, {"999999999999999999", i64(999'999'999'999'999'999)},
      {"9223372036854775807", i64(INT64_MAX)}, {"-9223372036854775808", i64(-INT64_MAX - 1)},
      {"+0009223372036854775807", i64(INT64_MAX)}, {"-00000000000000000000000000042", i64(-42)},
      // Past the 64-bit range an integer is the nearest float.
      {"9223372036854775808", flt(0x1p63)}, {"-9223372036854775809", flt(-0x1p63)},
      {"100000000000000000000000", flt(1e23)}, {"3.", flt(3.0)}, {".5", flt(0.5)}, {"-.5", flt(-0.5)},
      {"1E3", flt(1000.0)}, {"1e+3", flt(1000.0)}, {"-0.0", flt(-0.0)}, {"0e99999999999999999999999", flt(0.0)},
      {"1e400", flt(INFINITY)}, {"-1e400", flt(-INFINITY)}, {"1e99999999999999999999999", flt(INFINITY)},
      {"-1e-400", flt(-0.0)}, {"1e-99999999999999999999999", flt(0.0)}, {"inf", flt(INFINITY)},
      {"Infinity", flt(INFINITY)}, {"-iNfInItY", flt(-INFINITY)}, {"nan", quiet_nan}, {"NaN", quiet_nan},
      {"+nAn", quiet_nan}, {"-nan", flt(std::bit_cast<double>(std::uint64_t{0xFFF8000000000000}))},
  };
  for (const auto& [token, expected] : cases) EXPECT_EQ(decode_scalar(token, defaults), expected) << token;
  // Everything else stays the token itself, as a string; the last token is a digit, but not an ASCII one.
  for (const char* token : {"", "TRUE", "true ", "nul", "+", ".", "+.", ".e5", "1e", "1e+", "1.2.3", "--1", "0x10",
                            "5 ", "inf5", "infinityy", "nan(1)", "1000000000000000000x", "\xD9\xA1"}) {
    EXPECT_EQ(decode_scalar(token, defaults), Value::string(token)) << '"' << token << '"';
  }
}

TEST(DecodeScalar, KeywordsWinOverNumbers) {
  const FormatConfig config = *FormatConfig::create({defaults.fields().delimiters, {"0", "1.5", "nan"}});
  for (const auto& [token, expected] : {std::pair{"0", Value::null()}, {"1.5", Value::boolean(true)},
                                        {"nan", Value::boolean(false)}, {"00", i64(0)}, {"NaN", quiet_nan},
                                        {"null", Value::string("null")}}) {
    EXPECT_EQ(decode_scalar(token, config), expected) << token;
  }
}

// The typer answers "a string" by a token's first byte alone; it must give
// what decode_scalar gives whatever that byte is, keywords included, also
// where a keyword starts with a byte that no number starts with.
TEST(ScalarTyper, AgreesWithDecodeScalar) {
  const FormatConfig custom = *FormatConfig::create({defaults.fields().delimiters, {"~", "yes", "Off"}});
  for (const FormatConfig* config : {&defaults, &custom}) {
    const ScalarTyper type(*config);
    std::vector<std::string> tokens = {"", "null", "true", "false", "~", "yes", "Off", "~~", "ye", "Of", "nan"};
    for (int b = 1; b < 256; ++b) {
      for (const char* rest : {"", "1", "5e3", "es", "ull", "ff", "nf"}) {
        tokens.push_back(static_cast<char>(b) + std::string(rest));
      }
    }
    for (const std::string& token : tokens) EXPECT_EQ(type(token), decode_scalar(token, *config)) << token;
  }
}

// A point among a token's second and third bytes and another among its
// last three but one settle it as a string without the number tests. The
// tokens around that shortcut (points one byte too far in or out, one
// point seen twice, signs, exponents, keywords that look like versions)
// must type as the two grammars and the keywords say, through decode_scalar
// and the typer alike.
TEST(DecodeScalar, VersionShortcutAgreesWithTheGrammars) {
  const FormatConfig keyworded = *FormatConfig::create({defaults.fields().delimiters, {"1.2.3", "12.4", "9"}});
  const std::pair<const FormatConfig*, std::vector<Value>> configs[] = {
      {&defaults, {}}, {&keyworded, {Value::null(), Value::boolean(true), Value::boolean(false)}}};
  std::vector<std::string> tokens = {
      "1.2.3", "12.4", "9", "12.45", "1.234", "12.345", "1.2.", "1..2", "1.2..", "12..4", "1.23.4", "12.34.5",
      "123.4.5", "1.2.34", "1.2.345", "12.40.99", "12.3e5", "1.2e.3", "1.2e3.", "1.5e.3", "-1.2.3", "+1.23",
      "-12.45", "+.1.2", ".1.2.3", ".12.3", "1.2.3-rc1", "2021.03.04", "12345", "1.2e-3", "0.0.0", "0.00",
      "1.2.3e5", "3.10.2", "1.2.3.4.5", "1.2.x", "1x2.3"};
  for (const auto& [config, keywords] : configs) {
    const ScalarTyper type(*config);
    for (const std::string& token : tokens) {
      Value expected = Value::string(token);
      const std::string* const keyword_texts[] = {&config->null_str(), &config->true_str(), &config->false_str()};
      bool keyword = false;
      for (std::size_t k = 0; k < keywords.size() && !keyword; ++k) {
        if (*keyword_texts[k] == token) expected = keywords[k], keyword = true;
      }
      if (!keyword) {
        if (const auto i = parse_integer(token)) {
          expected = Value::integer(*i);
        } else if (const auto f = parse_float(token)) {
          expected = Value::floating(*f);
        }
      }
      EXPECT_EQ(decode_scalar(token, *config), expected) << token;
      EXPECT_EQ(type(token), expected) << token;
    }
  }
}

// The C library's conversion rounds correctly and is the reference here,
// as for the fuzz targets.
void expect_matches_reference(const std::string& token) {
  const auto parsed = parse_float(token);
  ASSERT_TRUE(parsed.has_value()) << token;
  ASSERT_EQ(bits(*parsed), bits(fuzz::reference_strtod(token))) << token.substr(0, 80);
}

// decode_scalar types and converts a number in one pass of its own, with a
// shortcut for the commonest floats; it must agree with the two grammars,
// whose reference is strtod, token for token. The boundaries are those of
// the shortcut (2^53, 10^22, 19 digits), of the 64-bit integers, and of
// the exponents that the general converter is trusted with.
TEST(DecodeScalar, NumbersAgreeWithTheGrammars) {
  const auto by_grammars = [](const std::string& token) {
    if (const auto i = parse_integer(token)) return Value::integer(*i);
    if (const auto f = parse_float(token)) return Value::floating(*f);
    return Value::string(token);
  };
  std::vector<std::string> tokens = {
      "9007199254740992", "9007199254740993.0", "9007199254740992e22", "9007199254740993e22",
      "9007199254740992e-22", "9007199254740992e23", "1e22", "1e23", "1e-22", "1e-23", "0.1", "0.3",
      "-65.613616999999977", "123456789012345678.9", "1234567890123456789.0", "12345678901234567890.0",
      "1844674407370955161.5", "-0.0", "+0e0", "-0e-400", "00000000000000000000000000001.5",
      "0000000000000000000000000000042", "-00000000000000000000009223372036854775808",
      "9223372036854775807", "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
      "18446744073709551616", "99999999999999999999", "1e10000", "1e9999", "1e-9999", "1e-10000",
      "0e99999999999", "5e-324", "2.5e-324", "2.4703282292062328e-324", "1.7976931348623159e308",
      "1" + std::string(400, '0'), "0." + std::string(400, '0') + "1", "5.", ".5", "-.5e1", "5.e3",
      "1e", "1e+", "1.5x", ".", "-.", "+", "-", ".e5", "e5", "1_0", "0x10", "infin", "-Infinity", "+nan"};
  std::mt19937_64 rng(14);
  std::uniform_int_distribution<int> digit(0, 9), exponent(-30, 30);
  for (int i = 0; i < 20000; ++i) {
    const int n = std::uniform_int_distribution<int>(1, 22)(rng);
    const int point = std::uniform_int_distribution<int>(0, i % 2 == 0 ? n : n + 5)(rng);
    std::string token = i % 3 == 0 ? "-" : i % 7 == 0 ? "+" : "";
    for (int k = 0; k < n; ++k) token += (k == point ? "." : "") + std::to_string(digit(rng));
    if (i % 4 == 1) token.append(i % 8 == 1 ? "E" : "e").append(std::to_string(exponent(rng)));
    tokens.push_back(token);
  }
  for (const std::string& token : tokens) EXPECT_EQ(decode_scalar(token, defaults), by_grammars(token)) << token;
}

// Boundaries of the range and of subnormals, digits that balance a huge
// explicit exponent, then random decimals: mostly short mantissas, some far
// past the seventeen digits a double holds.
TEST(ParseFloat, MatchesTheReference) {
  const std::string zeros(2'000'000, '0');
  const std::string tokens[] = {
      "1.7976931348623158e308", "1.7976931348623159e308", "1e23", "2.2250738585072011e-308",
      "4.9406564584124654e-324", "2.4703282292062327e-324", "2.4703282292062328e-324", "0.000001e-318",
      "9007199254740993.0000000000000000001", "123456789012345678901234567890e-30",
      "0." + zeros + "15e2000004", "15" + zeros + "e-2000001", "1" + zeros + "e-1999700",
      "1" + zeros + "e-1999600", "-0." + zeros + "1e-2000000", "0." + zeros + "17976931348623158e2000309",
      "0." + zeros + "24703282292062328e1999677"};
  for (const std::string& token : tokens) expect_matches_reference(token);
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> digit(0, 9), exponent(-345, 330);
  for (int i = 0; i < 20000; ++i) {
    const int n = std::uniform_int_distribution<int>(1, i % 50 == 0 ? 900 : 40)(rng);
    const int point = std::uniform_int_distribution<int>(0, n)(rng);
    std::string token = i % 3 == 0 ? "-" : "";
    for (int k = 0; k < n; ++k) token += (k == point ? "." : "") + std::to_string(digit(rng));
    if (i % 4 != 0) token.append("e").append(std::to_string(exponent(rng)));
    expect_matches_reference(token);
  }
}

// Exactly halfway between two neighbouring doubles (ties to even), and a
// hair above and below it. The 64-bit mantissa of long double holds every
// such midpoint, and its printing with enough digits is exact.
TEST(ParseFloat, HalfwayCasesRoundToEven) {
  std::mt19937_64 rng(20240601);
  std::vector<double> lows = {0.0, 1.0, 0x1p53, 1e300, 1e-300, 0x1p-1022, 0x1p-1074, 0x1.ffffffffffffep1023};
  for (int i = 0; i < 300; ++i) lows.push_back(std::bit_cast<double>(rng() % 0x7FEFFFFFFFFFFFFF));
  char exact[1200];
  for (const double low : lows) {
    const double high = std::nextafter(low, INFINITY);
    std::snprintf(exact, sizeof exact, "%.800Le", (static_cast<long double>(low) + high) / 2);
    const char* const e = std::strchr(exact, 'e');
    std::string mantissa(exact, static_cast<std::size_t>(e - exact));
    mantissa.erase(mantissa.find_last_not_of('0') + 1);
    if (mantissa.back() == '.') continue;  // a one-digit tie, such as 1e23
    EXPECT_EQ(bits(*parse_float(mantissa + e)), bits(bits(low) & 1 ? high : low)) << mantissa + e;  // the even one
    expect_matches_reference(mantissa + "00000000000000000000001" + e);
    --mantissa.back();  // the last digit kept is not 0
    expect_matches_reference(mantissa + "99999999999999999999" + e);
  }
}

}  // namespace
}  // namespace vardelquin
