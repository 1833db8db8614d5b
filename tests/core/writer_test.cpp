#include "serializer/writer.h"

#include "tree_builder.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <ios>
#include <limits>
#include <random>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace vardelquin {
namespace {

FormatConfig make_config(const std::function<void(FormatFields&)>& edit = {}) {
  FormatFields fields = FormatFields::default_values();
  if (edit) edit(fields);
  auto config = FormatConfig::create(std::move(fields));
  if (!config) throw std::runtime_error(config.error().message);
  return std::move(config).value();
}

const FormatConfig& default_config() {
  static const FormatConfig config = make_config();
  return config;
}

const FormatConfig& percent_escape_config() {
  static const FormatConfig config = make_config([](FormatFields& f) { f[Delimiter::escape] = U'%'; });
  return config;
}

using testing::document;
using testing::list;
using testing::object;
using testing::str;

Value integer(std::int64_t i) { return Value::integer(i); }

struct DocumentCase {
  const char* name;
  const FormatConfig* config;
  Document input;
  std::string expected;
};

TEST(WriterTest, Documents) {
  const FormatConfig* defaults = &default_config();
  const FormatConfig* percent = &percent_escape_config();
  const FormatConfig colon_comma = make_config([](FormatFields& f) {
    f[Delimiter::field_sep] = U',';
    f[Delimiter::kv_sep] = U':';
  });
  const FormatConfig own_keywords = make_config([](FormatFields& f) {
    f[Keyword::null_str] = "nil";
    f[Keyword::true_str] = "\xC3\xBA";  // ú
    f[Keyword::false_str] = "no pe";
  });
  // A NUL escape must reach the text like any other byte.
  const FormatConfig nul_escape = make_config([](FormatFields& f) { f[Delimiter::escape] = U'\0'; });

  const DocumentCase cases[] = {
      {"empty", defaults, Document{}, ""},
      {"scalars and list", defaults,
       document({{"name", str("mirl")},
                 {"hobbies", list({str("cycling"), str("rowing")})},
                 {"age", integer(30)}}),
       "name=mirl;hobbies=[cycling|rowing];age=30;"},
      {"nested object sorted, separated not terminated", defaults,
       document({{"cfg", object({{"b", integer(2)},
                                 {"a", list({Value::null(), Value::boolean(true),
                                                    Value::floating(1.5), Value::floating(2.0)})}})}}),
       "cfg={a=[null|true|1.5|2.0];b=2};"},
      {"empties", defaults,
       document({{"e", list({})}, {"o", object({})}, {"s", str("")}}), "e=[];o={};s=;"},
      {"top level keeps order and duplicates", defaults,
       document({{"b", integer(1)}, {"a", integer(2)}, {"b", Value::boolean(false)}}), "b=1;a=2;b=false;"},
      {"empty keys", defaults, document({{"", integer(1)}, {"", object({{"", Value::null()}})}}),
       "=1;={=null};"},
      {"nested key byte order", defaults,
       document({{"o", object({{"a", integer(1)}, {"\xC3\xA9", integer(2)}, {"B", integer(3)}})}}),
       "o={B=3;a=1;\xC3\xA9=2};"},
      {"nesting in both directions", defaults,
       document({{"x", list({object({{"k", list({list({}), object({})})}}),
                                    list({integer(-1)})})}}),
       "x=[{k=[[]|{}]}|[-1]];"},
      {"string spelled like other values", defaults,
       document({{"t", str("true")}, {"n", str("null")}, {"i", str("30")}, {"f", str("1.5")}}),
       "t=true;n=null;i=30;f=1.5;"},
      {"every default delimiter escaped", defaults, document({{"k;=", str(";=[]|{}\\")}}),
       "k\\;\\==\\;\\=\\[\\]\\|\\{\\}\\\\;"},
      {"one backslash becomes two", defaults, document({{"k", str("\\")}}), "k=\\\\;"},
      {"control characters copied", defaults,
       document({{std::string("a\0b", 3), str(std::string("\n\t\r\0\x7f", 5))}}),
       std::string("a\0b=\n\t\r\0\x7f;", 10)},
      {"percent escape", percent, document({{"k", str("a;b[1]")}}), "k=a%;b%[1%];"},
      {"percent escape in key, escape escaped", percent, document({{"x=y", str("50%")}}), "x%=y=50%%;"},
      {"percent escape leaves backslash and non-ASCII", percent,
       document({{"k", str("\xC3\xA9;\\")}}), "k=\xC3\xA9%;\\;"},
      {"colon and comma", &colon_comma, document({{"x", integer(1)}}), "x:1,"},
      {"colon and comma nested", &colon_comma,
       document({{"x", object({{"b", str("a,b")}, {"a", str("=;")}})}}), "x:{a:=;,b:a\\,b},"},
      {"own keywords unescaped", &own_keywords,
       document({{"n", Value::null()}, {"t", Value::boolean(true)}, {"f", Value::boolean(false)}}),
       "n=nil;t=\xC3\xBA;f=no pe;"},
      {"NUL escape", &nul_escape, document({{"k", str("a;b")}}), std::string("k=a\0;b;", 7)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(write_document(c.input, *c.config), c.expected) << c.name;
  }
}

TEST(WriterTest, EscapeText) {
  struct Case {
    std::string input;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"plain text", "plain text"},
      {";", "\\;"},
      {"a;b[1]", "a\\;b\\[1\\]"},
      {";;;;", "\\;\\;\\;\\;"},
      {"ends with |", "ends with \\|"},
      // Continuation bytes 0xBB, 0xBD and 0xBC sit at 0x3B, 0x3D and 0x5C
      // plus 0x80: a lookup that drops the top bit would escape them.
      {"\xC2\xBB\xC2\xBD\xC2\xBC\xF0\x9F\x98\x80", "\xC2\xBB\xC2\xBD\xC2\xBC\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(escape_text(c.input, default_config()), c.expected) << c.input;
  }
}

// Byte by byte, as the format defines escaping.
std::string escape_reference(std::string_view text, const FormatConfig& config) {
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80 && config.is_special(byte)) out.push_back(config.byte(Delimiter::escape));
    out.push_back(c);
  }
  return out;
}

// Long runs, marked bytes at every offset within and across 16-byte
// blocks, and bytes that equal a delimiter in their low seven bits.
TEST(WriterTest, EscapeMatchesByteRuleOnRandomText) {
  constexpr char bytes[] = "ab;=[]|{}\\%\0\n\x7f\xBB\xDC\xFB\xFD\xC3\xA9";
  const std::string alphabet(bytes, sizeof bytes - 1);
  std::mt19937 random(3);
  for (const FormatConfig* config : {&default_config(), &percent_escape_config()}) {
    for (std::size_t length = 0; length < 300; ++length) {
      for (int sparse = 0; sparse < 2; ++sparse) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i) {
          text.push_back(sparse && random() % 16 != 0 ? 'x' : alphabet[random() % alphabet.size()]);
        }
        ASSERT_EQ(escape_text(text, *config), escape_reference(text, *config)) << length;
      }
    }
  }
}

// One buffer serves the whole document; it must come out as the pieces
// written separately, however often it grew on the way.
TEST(WriterTest, LargeDocumentEqualsItsPieces) {
  Document input;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    std::string key = "k;" + std::to_string(i);
    Value value = i % 3 == 0   ? str(std::string(static_cast<std::size_t>(i % 97), '|'))
                  : i % 3 == 1 ? list({Value::floating(i / 8.0), Value::integer(-i)})
                               : object({{std::to_string(i), Value::floating(1e300)}});
    expected += escape_text(key, default_config()) + "=" + write_value(value, default_config()) + ";";
    input.append(testing::arena().copy(key), value);
  }
  EXPECT_EQ(write_document(input, default_config()), expected);
}

TEST(WriterTest, DeepestNestingWrites) {
  // An empty list wrapped alternately in {k=...} and [...] until the tree
  // has max_nesting_depth levels.
  Value value = list({});
  std::size_t expected_size = 2;
  for (std::size_t depth = 1; depth < max_nesting_depth; ++depth) {
    value = depth % 2 == 0 ? list({value}) : object({{"k", value}});
    expected_size += depth % 2 == 0 ? 2 : 4;
  }
  const std::string text = write_value(value, default_config());
  EXPECT_EQ(text.size(), expected_size);
  EXPECT_EQ(text.substr(0, 5), "{k=[{");
}

TEST(FormatIntegerTest, Spellings) {
  struct Case {
    std::int64_t input;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {0, "0"},
      {7, "7"},
      {-7, "-7"},
      {10, "10"},
      {-100, "-100"},
      {std::numeric_limits<std::int64_t>::max(), "9223372036854775807"},
      {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
      {std::numeric_limits<std::int64_t>::min() + 1, "-9223372036854775807"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_integer(c.input), c.expected);
    EXPECT_EQ(write_value(Value::integer(c.input), default_config()), c.expected);
  }
}

TEST(FormatFloatTest, Spellings) {
  struct Case {
    double input;
    std::string expected;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {3.0, "3.0"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {-30.0, "-30.0"},
      {1e16, "10000000000000000.0"},
      {1e23, "99999999999999991611392.0"},
      {18446744073709551616.0, "18446744073709551616.0"},  // 2^64
      {-9223372036854775808.0, "-9223372036854775808.0"},
      {1e300,
       "10000000000000000525047602552044202487044685811081591549158541155118024579889081"
       "95786371375080447864043704443832883878176942523235360430575644792184786706982848"
       "38720092657580373783023379478809005936895323497079994508111903896764088007465274"
       "2780142494579258788820056842838115669472196386865459400540160.0"},
      {0.5, "0.5"},
      {1.5, "1.5"},
      {-2.25, "-2.25"},
      {1e-5, "0.00001"},
      {1e-7, "0.0000001"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1.0 / 3.0, "0.3333333333333333"},
      {4503599627370495.5, "4503599627370495.5"},  // 2^52 - 0.5: most integer digits
      {-0x1p-1074, "-0." + std::string(323, '0') + "5"},
      {0x1p-1074, "0." + std::string(323, '0') + "5"},
      {DBL_MIN, "0." + std::string(307, '0') + "22250738585072014"},
      {nan, "NaN"},
      {-nan, "NaN"},
      {std::bit_cast<double>(std::uint64_t{0xFFF0000000000001}), "NaN"},  // signalling, negative
      {inf, "inf"},
      {-inf, "-inf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_float(c.input), c.expected) << std::hexfloat << c.input;
    EXPECT_EQ(write_value(Value::floating(c.input), default_config()), c.expected);
  }
  std::string dbl_max = format_float(DBL_MAX);
  EXPECT_EQ(dbl_max.size(), 309u + 2u);
  EXPECT_EQ(dbl_max.substr(0, 20), "17976931348623157081");
  EXPECT_EQ(dbl_max.substr(dbl_max.size() - 6), "8368.0");
  EXPECT_EQ(format_float(-DBL_MAX), "-" + dbl_max);
}

// --- The shortest-digit property, checked against the C library ---------

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// A decimal mantissa * 10^exponent.
struct Decimal {
  std::uint64_t mantissa;
  int exponent;
};

bool reads_back(Decimal d, double magnitude) {
  const std::string text = std::to_string(d.mantissa) + "e" + std::to_string(d.exponent);
  return same_bits(std::strtod(text.c_str(), nullptr), magnitude);
}

// The correctly rounded decimal of `digits` significant digits.
Decimal nearest(double magnitude, int digits) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*e", digits - 1, magnitude);
  std::string text = buffer;
  const auto e = text.find('e');
  std::string mantissa = text.substr(0, e);
  std::erase(mantissa, '.');
  return {std::stoull(mantissa), std::stoi(text.substr(e + 1)) - (digits - 1)};
}

// Checks a value with a fractional part: positional, reads back, has no
// shorter spelling that reads back, and is the nearest spelling of its length.
void check_shortest(double x) {
  static const std::regex shape("-?(0|[1-9][0-9]*)\\.[0-9]*[1-9]");
  const std::string text = format_float(x);
  SCOPED_TRACE(text);
  ASSERT_TRUE(std::regex_match(text, shape));
  ASSERT_EQ(text[0] == '-', std::signbit(x));
  ASSERT_TRUE(same_bits(std::strtod(text.c_str(), nullptr), x));

  std::string digits = text.substr(text[0] == '-' ? 1 : 0);
  const auto point = digits.find('.');
  const int exponent = -static_cast<int>(digits.size() - point - 1);
  digits.erase(point, 1);
  digits.erase(0, digits.find_first_not_of('0'));
  ASSERT_LE(digits.size(), 17u);
  const Decimal written{std::stoull(digits), exponent};
  const int count = static_cast<int>(digits.size());
  const double magnitude = std::fabs(x);

  // Where the nearest spelling falls just outside a narrower lower half
  // interval (at powers of two), the neighbour above is the shortest one.
  const Decimal best = nearest(magnitude, count);
  if (reads_back(best, magnitude)) {
    EXPECT_EQ(written.mantissa, best.mantissa);
    EXPECT_EQ(written.exponent, best.exponent);
  } else {
    EXPECT_EQ(written.exponent, best.exponent);
    EXPECT_TRUE(written.mantissa + 1 == best.mantissa || written.mantissa == best.mantissa + 1);
  }

  if (count > 1) {
    const Decimal shorter = nearest(magnitude, count - 1);
    for (std::uint64_t m : {shorter.mantissa - 1, shorter.mantissa, shorter.mantissa + 1}) {
      EXPECT_FALSE(reads_back({m, shorter.exponent}, magnitude)) << m << "e" << shorter.exponent;
    }
  }
}

// An integral value: the exact integer, which the C library prints exactly.
void check_integral(double x) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.0f", x);
  EXPECT_EQ(format_float(x), std::string(buffer) + ".0");
}

void check_any(double x) {
  if (std::isnan(x)) {
    EXPECT_EQ(format_float(x), "NaN");
  } else if (std::isinf(x)) {
    EXPECT_EQ(format_float(x), x < 0 ? "-inf" : "inf");
  } else if (x == std::trunc(x)) {
    check_integral(x);
  } else {
    check_shortest(x);
  }
}

TEST(FormatFloatTest, RandomBitPatterns) {
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 100000; ++i) check_any(std::bit_cast<double>(random()));
}

// Uniform bit patterns are mostly huge or tiny; these are drawn from the
// exponents where fractional parts exist, subnormals included.
TEST(FormatFloatTest, RandomFractionalValues) {
  std::mt19937_64 random(7);
  std::uniform_int_distribution<std::uint64_t> biased_exponent(0, 1023 + 52);
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t bits = (random() & 0x800FFFFFFFFFFFFF) | (biased_exponent(random) << 52);
    check_any(std::bit_cast<double>(bits));
  }
}

TEST(FormatFloatTest, PowersOfTwoAndTen) {
  for (int e = -1074; e <= 1023; ++e) check_any(std::ldexp(1.0, e));
  for (int e = -323; e <= 308; ++e) check_any(std::strtod(("1e" + std::to_string(e)).c_str(), nullptr));
}

}  // namespace
}  // namespace vardelquin
