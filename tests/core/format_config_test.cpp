#include "config/format_config.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vardelquin {
namespace {

using D = Delimiter;
using K = Keyword;

// The failure message, or "ok".
std::string outcome(const std::function<void(FormatFields&)>& change) {
  FormatFields fields = FormatFields::default_values();
  change(fields);
  auto config = FormatConfig::create(std::move(fields));
  return config ? std::string("ok") : config.error().message;
}

struct ValidationCase {
  std::string_view name;
  std::function<void(FormatFields&)> change;
  std::string_view expected;
};

TEST(FormatConfigCreate, ReportsTheFirstBrokenRule) {
  const ValidationCase cases[] = {
      {"defaults", [](FormatFields&) {}, "ok"},
      {"control, space, letter and U+7F delimiters",
       [](FormatFields& f) { f[D::field_sep] = U'\t'; f[D::kv_sep] = U' '; f[D::list_sep] = U'\0';
         f[D::escape] = U'x'; f[D::obj_close] = 0x7F; },
       "ok"},
      {"non-ASCII keywords and spaces",
       [](FormatFields& f) { f[K::null_str] = "\xC3\xB1\xC3\xBA\xC5\x82"; f[K::true_str] = "y e s"; },
       "ok"},

      {"non-ASCII field_sep", [](FormatFields& f) { f[D::field_sep] = 0xE9; },
       "'field_sep' must be an ASCII character, got '\xC3\xA9'"},
      {"no-break space", [](FormatFields& f) { f[D::kv_sep] = 0xA0; },
       "'kv_sep' must be an ASCII character, got '\\u{a0}'"},
      {"not a code point", [](FormatFields& f) { f[D::list_open] = 0x110000; },
       "'list_open' must be an ASCII character, got '\\u{110000}'"},
      {"ASCII rule before conflicts",
       [](FormatFields& f) { f[D::kv_sep] = U';'; f[D::escape] = 0xE9; },
       "'escape' must be an ASCII character, got '\xC3\xA9'"},

      {"both openers", [](FormatFields& f) { f[D::list_open] = U'('; f[D::obj_open] = U'('; },
       "Delimiter conflict: 'list_open' and 'obj_open' are both '('"},
      {"escape repeats field_sep", [](FormatFields& f) { f[D::escape] = U';'; },
       "Delimiter conflict: 'field_sep' and 'escape' are both ';'"},
      {"first later field decides",
       [](FormatFields& f) { f[D::list_sep] = U';'; f[D::obj_open] = U'['; },
       "Delimiter conflict: 'field_sep' and 'list_sep' are both ';'"},
      {"two backslashes", [](FormatFields& f) { f[D::field_sep] = U'\\'; },
       "Delimiter conflict: 'field_sep' and 'escape' are both '\\\\'"},
      {"two single quotes", [](FormatFields& f) { f[D::kv_sep] = U'\''; f[D::list_sep] = U'\''; },
       "Delimiter conflict: 'kv_sep' and 'list_sep' are both '\\''"},

      {"empty before distinct", [](FormatFields& f) { f[K::null_str] = ""; f[K::true_str] = ""; },
       "'null_str' must not be empty"},

      {"null equals true", [](FormatFields& f) { f[K::true_str] = "null"; },
       "null_str and true_str must be different"},
      {"distinct before contains-delimiter",
       [](FormatFields& f) { f[K::true_str] = "no"; f[K::false_str] = "no"; f[K::null_str] = "a;b"; },
       "true_str and false_str must be different"},

      {"delimiter in null_str", [](FormatFields& f) { f[K::null_str] = "a;b"; },
       "'null_str' contains delimiter character ';'"},
      {"backslash in false_str", [](FormatFields& f) { f[K::false_str] = "f\\"; },
       "'false_str' contains delimiter character '\\\\'"},
      {"first in text order, not field order", [](FormatFields& f) { f[K::true_str] = "t}x;"; },
       "'true_str' contains delimiter character '}'"},
      {"keywords in field order",
       [](FormatFields& f) { f[K::false_str] = "a=b"; f[K::true_str] = "c|d"; },
       "'true_str' contains delimiter character '|'"},
      {"NUL delimiter inside a keyword",
       [](FormatFields& f) { f[D::list_sep] = U'\0'; f[K::null_str] = std::string("n\0l", 3); },
       "'null_str' contains delimiter character '\\0'"},
      {"moved delimiter frees its old character",
       [](FormatFields& f) { f[D::field_sep] = U','; f[K::null_str] = "a;b"; }, "ok"},
  };
  for (const auto& [name, change, expected] : cases) {
    EXPECT_EQ(outcome(change), expected) << name;
  }
}

std::string flagged(const FormatConfig& config) {
  std::string out;
  for (std::size_t i = 0; i < config.special_table().size(); ++i) {
    if (config.special_table()[i] > 1) return "bad flag";
    if (config.special_table()[i] == 1) out.push_back(static_cast<char>(i));
  }
  return out;
}

TEST(FormatConfigCreate, DerivesLookupTablesFromTheDelimiters) {
  auto defaults = FormatConfig::defaults();
  ASSERT_TRUE(defaults);
  EXPECT_EQ(flagged(*defaults), ";=[\\]{|}");
  EXPECT_EQ(defaults->scalar_terminators(), (std::array<std::uint8_t, 5>{';', '=', '|', ']', '}'}));

  FormatFields fields{{U'\0', U':', U'<', U'>', U',', U'(', U')', U'%'}, {"nil", "yes", "no"}};
  auto custom = FormatConfig::create(fields);
  ASSERT_TRUE(custom);
  EXPECT_EQ(flagged(*custom), std::string("\0%(),:<>", 8));
  EXPECT_EQ(custom->scalar_terminators(), (std::array<std::uint8_t, 5>{'\0', ':', ',', '>', ')'}));
  EXPECT_EQ(custom->fields().keywords, fields.keywords);
  EXPECT_EQ(custom->fields().delimiters, fields.delimiters);
}

}  // namespace
}  // namespace vardelquin
