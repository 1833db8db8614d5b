#include "tree/tree_writer.h"

#include "config_builder.h"
#include "tree_builder.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <functional>
#include <ios>
#include <limits>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace vardelquin {

// Failed comparisons show the text, not its bytes.
void PrintTo(const OwnedText& text, std::ostream* out) {
  ::testing::internal::UniversalPrint(std::string(text.view()), out);
}

namespace {

using testing::document;
using testing::list;
using testing::make_config;
using testing::object;
using testing::str;

const FormatConfig defaults = make_config();
const FormatConfig percent = make_config([](FormatFields& f) { f[Delimiter::escape] = U'%'; });

TEST(WriterTest, Documents) {
  const FormatConfig colon_comma = make_config([](FormatFields& f) {
    f[Delimiter::field_sep] = U',';
    f[Delimiter::kv_sep] = U':';
  });
  const FormatConfig own_keywords = make_config([](FormatFields& f) {
    f.keywords = {"nil", "\xC3\xBA", "no pe"};
  });
  // A NUL escape must reach the text like any other byte.
  const FormatConfig nul_escape = make_config([](FormatFields& f) { f[Delimiter::escape] = U'\0'; });
  const struct {
    const FormatConfig& config;
    Document input;
    std::string expected;
  } cases[] = {
      {defaults, Document{}, ""},
      // The top level keeps order and duplicates and terminates every entry;
      // inside braces members are separated, not terminated.
      {defaults,
       document({{"b", list({str("x"), Value::integer(-1), Value::null()})},
                 {"a", object({{"y", Value::boolean(false)}, {"x", list({list({}), object({})})}})},
                 {"b", Value::boolean(true)}}),
       "b=[x|-1|null];a={x=[[]|{}];y=false};b=true;"},
      {defaults, document({{"", str("")}, {"o", object({{"", Value::floating(1.5)}})}}), "=;o={=1.5};"},
      {defaults, document({{"k;=", str(";=[]|{}\\")}}), "k\\;\\==\\;\\=\\[\\]\\|\\{\\}\\\\;"},
      {defaults, document({{std::string("a\0b", 3), str(std::string("\n\t\r\0\x7f", 5))}}),
       std::string("a\0b=\n\t\r\0\x7f;", 10)},
      {percent, document({{"x=y", str("50%;\\\xC3\xA9")}}), "x%=y=50%%%;\\\xC3\xA9;"},
      {colon_comma, document({{"x", object({{"b", str("a,b")}, {"a", str("=;")}})}}), "x:{a:=;,b:a\\,b},"},
      {own_keywords,
       document({{"n", Value::null()}, {"t", Value::boolean(true)}, {"f", Value::boolean(false)}}),
       "n=nil;t=\xC3\xBA;f=no pe;"},
      {nul_escape, document({{"k", str("a;b")}}), std::string("k=a\0;b;", 7)},
  };
  for (const auto& c : cases) EXPECT_EQ(write_document(c.input, c.config), c.expected);
}

// Against the byte-by-byte definition, with marked bytes at every offset
// within and across 16-byte blocks, and bytes that equal a delimiter in
// their low seven bits (0xBB, 0xDC, 0xFB, 0xFD), which are never marked.
TEST(WriterTest, EscapeMatchesByteRuleOnRandomText) {
  constexpr char bytes[] = "ab;=[]|{}\\%\0\n\x7f\xBB\xDC\xFB\xFD\xC3\xA9";
  const std::string alphabet(bytes, sizeof bytes - 1);
  std::mt19937 random(3);
  for (const FormatConfig* config : {&defaults, &percent}) {
    for (std::size_t i = 0; i < 600; ++i) {
      std::string text, expected;
      for (std::size_t k = 0; k < i / 2; ++k) {
        const char c = i % 2 && random() % 16 != 0 ? 'x' : alphabet[random() % alphabet.size()];
        if (static_cast<unsigned char>(c) < 0x80 && config->is_special(static_cast<unsigned char>(c))) {
          expected.push_back(config->byte(Delimiter::escape));
        }
        text.push_back(c);
        expected.push_back(c);
      }
      ASSERT_EQ(escape_text(text, *config), expected) << i;
    }
  }
}

// Stretches of dense marked bytes between clean ones, of lengths around
// the block size, so that dense runs taken byte by byte end anywhere: in
// a clean stretch, at a block boundary, near the text's end.
TEST(WriterTest, EscapeMatchesByteRuleOnDenseStretches) {
  std::mt19937 random(5);
  for (std::size_t i = 0; i < 400; ++i) {
    std::string text, expected;
    const std::size_t dense = 1 + random() % 80, clean = 1 + random() % 80, size = random() % 400;
    for (std::size_t k = 0; k < size; ++k) {
      const char c = k % (dense + clean) < dense ? ";=[x]|{}\\"[random() % 9] : 'x';
      if (c != 'x') expected.push_back('\\');
      text.push_back(c);
      expected.push_back(c);
    }
    ASSERT_EQ(escape_text(text, defaults), expected) << i;
  }
}

// One, two or three marked bytes at every pair of places in the first
// blocks of texts around 32 bytes long: blocks with few marked bytes are
// escaped in place, each storing the rest of its block again, and must
// neither lose nor repeat a byte, nor read past the text.
TEST(WriterTest, EscapeMatchesByteRuleWithFewMarkedBytesAnywhere) {
  for (const std::size_t size : {31u, 32u, 33u, 47u, 48u, 64u}) {
    for (std::size_t first = 0; first < 34 && first < size; ++first) {
      for (std::size_t second = first; second < 34 && second < size; ++second) {
        for (const bool third : {false, true}) {
          std::string text(size, 'x');
          text[first] = ';';
          text[second] = '|';
          if (third) text[(second + 1) % size] = '\\';
          std::string expected;
          for (const char c : text) {
            if (c != 'x') expected.push_back('\\');
            expected.push_back(c);
          }
          ASSERT_EQ(escape_text(text, defaults), expected) << size << " " << first << " " << second;
        }
      }
    }
  }
}

// Short texts are read sixteen bytes at a time where that stays within
// the page: every length below 16, ending at and just past a page's end,
// clean and with a marked byte at each place.
TEST(WriterTest, ShortTextsEscapeAtEveryPlaceNearAPageEnd) {
  constexpr std::size_t page = 4096;
  std::vector<char> pages(3 * page, 'x');
  char* const edge = pages.data() + (page - reinterpret_cast<std::uintptr_t>(pages.data()) % page) + page;
  for (std::size_t size = 1; size < 16; ++size) {
    for (std::size_t back = 0; back <= 32; ++back) {
      char* const text = edge - back;
      for (std::size_t marked = 0; marked <= size; ++marked) {
        std::fill(pages.begin(), pages.end(), 'x');
        std::string expected(size, 'x');
        if (marked < size) {
          text[marked] = ';';
          expected[marked] = ';';
          expected.insert(marked, "\\");
        }
        ASSERT_EQ(escape_text(std::string_view(text, size), defaults), expected) << size << " " << back;
      }
    }
  }
}

// One growing buffer serves a whole document; it must come out as the
// pieces written separately.
TEST(WriterTest, LargeDocumentEqualsItsPieces) {
  Document input;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    const std::string key = "k;" + std::to_string(i);
    const Value value = i % 2 ? str(std::string(static_cast<std::size_t>(i % 97), '|'))
                              : list({Value::floating(i / 8.0), Value::integer(-i), Value::floating(1e300)});
    expected.append(escape_text(key, defaults).view()).append("=");
    expected.append(write_value(value, defaults).view()).append(";");
    input.append(testing::arena().copy(key), value);
  }
  EXPECT_EQ(write_document(input, defaults), expected);
}

TEST(WriterTest, DeepestNestingWrites) {
  // An empty list wrapped alternately in {k=...} and [...] up to max_nesting_depth levels.
  Value value = list({});
  std::string expected = "[]";
  for (std::size_t depth = 1; depth < max_nesting_depth; ++depth) {
    value = depth % 2 == 0 ? list({value}) : object({{"k", value}});
    expected = depth % 2 == 0 ? "[" + expected + "]" : "{k=" + expected + "}";
  }
  EXPECT_EQ(write_value(value, defaults), expected);
}

// The writer keeps no native frame per level: a tree far deeper than any
// stack could hold recursive frames for comes out whole, separators and
// all. Deeper trees are refused before writing, not by the writer.
TEST(WriterTest, WritesAnyDepthWithoutRecursing) {
  constexpr std::size_t depth = 200'000;
  // Level 0 is the innermost, empty list; odd levels are objects.
  Value value = list({});
  for (std::size_t level = 1; level < depth; ++level) {
    value = level % 2 == 0 ? list({value, Value::integer(1)}) : object({{"k", value}, {"z", Value::null()}});
  }
  std::string expected;
  for (std::size_t level = depth - 1; level >= 1; --level) expected += level % 2 == 0 ? "[" : "{k=";
  expected += "[]";
  for (std::size_t level = 1; level < depth; ++level) expected += level % 2 == 0 ? "|1]" : ";z=null}";
  EXPECT_EQ(write_value(value, defaults), expected);
}

// Every digit count with its edges, the extremes and their signs.
TEST(WriterTest, IntegersMatchToString) {
  std::vector<std::int64_t> values = {0, std::numeric_limits<std::int64_t>::min(),
                                      std::numeric_limits<std::int64_t>::max()};
  for (std::uint64_t p = 1; p <= 1'000'000'000'000'000'000; p *= 10) {
    for (const auto v : {static_cast<std::int64_t>(p) - 1, static_cast<std::int64_t>(p)}) {
      values.insert(values.end(), {v, -v});
    }
  }
  for (const std::int64_t v : values) {
    EXPECT_EQ(format_integer(v), std::to_string(v));
    EXPECT_EQ(write_value(Value::integer(v), defaults), std::to_string(v));
  }
}

// The writer's special cases; shortest_digits_test compares the general
// case with the standard library.
TEST(WriterTest, FloatSpellings) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double input;
    std::string expected;
  } cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {-30.0, "-30.0"},
      {1e23, "99999999999999991611392.0"},  // integral values exactly, not in shortest digits
      {0x1p64, "18446744073709551616.0"},
      {0x1p64 - 2048, "18446744073709549568.0"},
      {-0x1p63, "-9223372036854775808.0"},
      {0.5, "0.5"},
      {-2.25, "-2.25"},
      {1e-7, "0.0000001"},
      {0.1 + 0.2, "0.30000000000000004"},
      {4503599627370495.5, "4503599627370495.5"},  // 2^52 - 0.5: most digits before the point
      {-0x1p52, "-4503599627370496.0"},  // the least magnitude that is integral by its exponent
      {1.0000000000000002, "1.0000000000000002"},  // 17 digits, one before the point
      {-0x1.fffffffffffffp-1, "-0.9999999999999999"},
      {1e-16, "0.0000000000000001"},  // the last zero of the fixed block of 16
      {1e-17, "0.00000000000000001"},  // the first zero past it
      {-1.25e-18, "-0.00000000000000000125"},
      {-0x1p-1074, "-0." + std::string(323, '0') + "5"},
      {DBL_MIN, "0." + std::string(307, '0') + "22250738585072014"},
      {nan, "NaN"},
      {-nan, "NaN"},
      {std::bit_cast<double>(std::uint64_t{0xFFF0000000000001}), "NaN"},  // signalling, negative
      {inf, "inf"},
      {-inf, "-inf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_float(c.input), c.expected) << std::hexfloat << c.input;
    EXPECT_EQ(write_value(Value::floating(c.input), defaults), c.expected) << std::hexfloat << c.input;
  }
}

// Each digit count from 1 to 17 with the point at every place from 20
// before the first digit to before the last, either sign, against the
// standard library's shortest positional spelling. Zeros inside the digits
// and at their end try where the writer finds the last significant digit.
TEST(WriterTest, FloatsOfEveryLengthAndPointPlace) {
  for (const std::string digits : {"12345678901234567", "98765432109876543", "10000000000000001", "10203040506070809"}) {
    for (int count = 1; count <= 17; ++count) {
      for (int point = -20; point < count; ++point) {
        const std::string typed = digits.substr(0, static_cast<std::size_t>(count)) + "e" + std::to_string(point - count);
        const double x = std::strtod(typed.c_str(), nullptr);
        if (x == std::trunc(x)) continue;  // rounded to an integer: FloatSpellings has those
        for (const double value : {x, -x}) {
          char text[64];
          const char* const end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed).ptr;
          EXPECT_EQ(format_float(value), std::string(text, static_cast<std::size_t>(end - text))) << typed;
        }
      }
    }
  }
}

// A delimiter that numbers are spelled with is escaped inside numbers as
// in strings, so that the text reads back as the same numbers.
TEST(WriterTest, NumbersEscapeTheDelimitersTheyContain) {
  const auto with = [](Delimiter d, char32_t c) {
    return make_config([=](FormatFields& f) {
      f[d] = c;
      f.keywords = {"#", "!", "?"};
    });
  };
  const FormatConfig point_sep = with(Delimiter::list_sep, U'.');
  const FormatConfig minus_sep = with(Delimiter::field_sep, U'-');
  const FormatConfig zero_escape = with(Delimiter::escape, U'0');
  const FormatConfig f_close = make_config([](FormatFields& f) {
    f[Delimiter::field_sep] = U'N';
    f[Delimiter::list_sep] = U'a';
    f[Delimiter::obj_close] = U'f';
    f.keywords = {"#", "!", "?"};
  });
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const FormatConfig& config;
    Document input;
    std::string expected;
  } cases[] = {
      {point_sep, document({{"a", list({Value::floating(1.5), Value::integer(2)})}}), "a=[1\\.5.2];"},
      {minus_sep, document({{"a", Value::integer(-1)}, {"b", Value::integer(2)}}), "a=\\-1-b=2-"},
      {zero_escape, document({{"a", Value::integer(10)}, {"b", Value::floating(-0.0)}}), "a=100;b=-00.00;"},
      {f_close,
       document({{"x", list({Value::floating(std::numeric_limits<double>::quiet_NaN()), Value::floating(inf),
                             Value::floating(-inf), Value::integer(3)})}}),
       "x=[\\N\\a\\Nain\\fa-in\\fa3]N"},
      // Keywords and strings are as before; only numbers changed.
      {minus_sep, document({{"k-", object({{"s", str("-1")}, {"t", Value::boolean(true)}})}}),
       "k\\-={s=\\-1-t=!}-"},
  };
  for (const auto& c : cases) EXPECT_EQ(write_document(c.input, c.config), c.expected);
}

}  // namespace
}  // namespace vardelquin
