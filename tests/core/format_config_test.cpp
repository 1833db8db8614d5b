#include "config/format_config.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

namespace vardelquin {
namespace {

using D = Delimiter;
using K = Keyword;

TEST(FormatConfigCreate, ReportsTheFirstBrokenRule) {
  const struct {
    const char* name;
    void (*change)(FormatFields&);
    const char* expected;  // the failure message, or "ok"
  } cases[] = {
      {"control, letter and U+7F delimiters, non-ASCII keywords with spaces",
       [](FormatFields& f) {
         f.delimiters = {U'\t', U'=', U'[', U']', U'\0', U'{', 0x7F, U'x'};
         f.keywords = {"\xC3\xB1\xC3\xBA\xC5\x82", "y e s", "false"};
       },
       "ok"},
      {"non-ASCII field_sep", [](FormatFields& f) { f[D::field_sep] = 0xE9; },
       "'field_sep' must be an ASCII character, got '\xC3\xA9'"},
      {"not a code point", [](FormatFields& f) { f[D::list_open] = 0x110000; },
       "'list_open' must be an ASCII character, got '\\u{110000}'"},
      {"ASCII rule before conflicts", [](FormatFields& f) { f[D::kv_sep] = U';'; f[D::escape] = 0x80; },
       "'escape' must be an ASCII character, got '\\u{80}'"},
      {"escape repeats field_sep", [](FormatFields& f) { f[D::escape] = U';'; },
       "Delimiter conflict: 'field_sep' and 'escape' are both ';'"},
      // The pair whose later field comes first, not the one whose earlier field does.
      {"first later field decides", [](FormatFields& f) { f[D::list_sep] = U'{'; f[D::obj_close] = U'['; },
       "Delimiter conflict: 'list_sep' and 'obj_open' are both '{'"},
      {"empty before distinct", [](FormatFields& f) { f[K::null_str] = ""; f[K::true_str] = ""; },
       "'null_str' must not be empty"},
      {"null equals true", [](FormatFields& f) { f[K::true_str] = "null"; },
       "null_str and true_str must be different"},
      {"distinct before contains-delimiter",
       [](FormatFields& f) { f.keywords = {"a;b", "no", "no"}; }, "true_str and false_str must be different"},
      {"last character of false_str", [](FormatFields& f) { f[K::false_str] = "f\\"; },
       "'false_str' contains delimiter character '\\\\'"},
      {"first in text order, keywords in field order",
       [](FormatFields& f) { f[K::true_str] = "t}x;"; f[K::false_str] = "a=b"; },
       "'true_str' contains delimiter character '}'"},
      {"NUL delimiter inside a keyword",
       [](FormatFields& f) { f[D::list_sep] = U'\0'; f[K::null_str] = std::string("n\0l", 3); },
       "'null_str' contains delimiter character '\\0'"},
      {"moved delimiter frees its old character",
       [](FormatFields& f) { f[D::field_sep] = U','; f[K::null_str] = "a;b"; }, "ok"},
  };
  for (const auto& c : cases) {
    FormatFields fields = FormatFields::default_values();
    c.change(fields);
    const auto config = FormatConfig::create(std::move(fields));
    EXPECT_EQ(config ? "ok" : failure_message(config.error()), c.expected) << c.name;
  }
}

TEST(FormatConfigCreate, DerivesLookupTablesFromTheDelimiters) {
  const FormatFields fields{{U'\0', U':', U'<', U'>', U',', U'(', U')', U'%'}, {"nil", "yes", "no"}};
  const auto config = FormatConfig::create(fields);
  ASSERT_TRUE(config);
  std::array<std::uint8_t, 256> special{};
  for (const char c : std::string("\0%(),:<>", 8)) special[static_cast<unsigned char>(c)] = 1;
  EXPECT_EQ(config->special_table(), special);
  EXPECT_EQ(config->scalar_terminators(), (std::array<std::uint8_t, 5>{'\0', ':', ',', '>', ')'}));
  EXPECT_EQ(config->fields().keywords, fields.keywords);
  EXPECT_EQ(config->fields().delimiters, fields.delimiters);

  // The reader's token tables: the escape marked in each, and each kind of
  // token stopping at its own delimiters and nowhere else.
  // Their scan sets hold the same bytes, and the writer's set the eight
  // delimiters.
  const std::tuple<const FormatConfig::TokenTable*, const FormatConfig::TokenScan*, std::string> tokens[] = {
      {&config->top_key_stops(), &config->top_key_scan(), ":"},
      {&config->object_key_stops(), &config->object_key_scan(), ":)"},
      {&config->scalar_stops(), &config->scalar_scan(), std::string("\0:,>)", 5)},
  };
  for (const auto& [table, scan, stops] : tokens) {
    FormatConfig::TokenTable expected{};
    for (const char c : stops) expected[static_cast<unsigned char>(c)] = FormatConfig::token_stop;
    expected['%'] = FormatConfig::token_escape;
    EXPECT_EQ(*table, expected) << stops;
    for (unsigned c = 0; c < 256; ++c) EXPECT_EQ((*scan)[static_cast<unsigned char>(c)], expected[c] != 0) << c;
  }
  for (unsigned c = 0; c < 256; ++c) {
    EXPECT_EQ(config->delimiter_scan()[static_cast<unsigned char>(c)], special[c]) << c;
  }
}

// The characters that written numbers consist of, and no others, make the
// writer escape inside numbers.
TEST(FormatConfigCreate, KnowsWhenNumbersNeedEscaping) {
  EXPECT_FALSE(FormatConfig::defaults()->numbers_need_escaping());
  for (const char c : std::string_view("0123456789-.Nainf+eEx ")) {
    FormatFields fields = FormatFields::default_values();
    fields[D::list_sep] = static_cast<unsigned char>(c);
    fields.keywords = {"#", "!", "?"};
    const auto config = FormatConfig::create(std::move(fields));
    ASSERT_TRUE(config) << c;
    EXPECT_EQ(config->numbers_need_escaping(), std::string_view("+eEx ").find(c) == std::string_view::npos) << c;
  }
}

}  // namespace
}  // namespace vardelquin
