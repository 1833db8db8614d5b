#include "failure.h"

#include <gtest/gtest.h>

#include <string>

#include "config/format_config.h"
#include "tree/tree_reader.h"

namespace vardelquin {
namespace {

using K = FailureKind;

// Field indexes in field_names.
constexpr std::uint8_t field_sep = 0, kv_sep = 1, list_open = 2, obj_open = 5, escape = 7;
constexpr std::uint8_t null_str = 8, true_str = 9, false_str = 10;

// Every kind, with the characters that need the literal form's escapes.
TEST(FailureMessage, SpellsEveryKindExactly) {
  const struct {
    Failure failure;
    const char* expected;
  } cases[] = {
      {{.kind = K::delimiter_not_ascii, .field = escape, .character = 0xE9},
       "'escape' must be an ASCII character, got '\xC3\xA9'"},
      {{.kind = K::delimiter_not_ascii, .field = kv_sep, .character = 0xA0},
       "'kv_sep' must be an ASCII character, got '\\u{a0}'"},
      {{.kind = K::delimiters_equal, .field = field_sep, .other_field = kv_sep, .character = ';'},
       "Delimiter conflict: 'field_sep' and 'kv_sep' are both ';'"},
      {{.kind = K::delimiters_equal, .field = list_open, .other_field = obj_open, .character = '\''},
       "Delimiter conflict: 'list_open' and 'obj_open' are both '\\''"},
      {{.kind = K::keyword_empty, .field = true_str}, "'true_str' must not be empty"},
      {{.kind = K::keywords_equal, .field = null_str, .other_field = true_str},
       "null_str and true_str must be different"},
      {{.kind = K::keywords_equal, .field = null_str, .other_field = false_str},
       "null_str and false_str must be different"},
      {{.kind = K::keywords_equal, .field = true_str, .other_field = false_str},
       "true_str and false_str must be different"},
      {{.kind = K::keyword_contains_delimiter, .field = false_str, .character = '\\'},
       "'false_str' contains delimiter character '\\\\'"},
      {{.kind = K::key_runs_to_end, .expected = '=', .offset = 3}, "Expected '=' but got EOF"},
      {{.kind = K::key_ends_without_kv_sep, .character = '}', .expected = '\0', .offset = 4},
       "Expected '\\0' but got '}' at pos 4"},
      {{.kind = K::list_unterminated, .offset = 9}, "Unterminated list"},
      {{.kind = K::list_unexpected_byte, .character = 0xC3, .offset = 6},
       "Unexpected '\xC3\x83' in list at pos 6"},
      {{.kind = K::list_unexpected_byte, .character = '\n', .offset = 0},
       "Unexpected '\\n' in list at pos 0"},
      {{.kind = K::object_unterminated, .offset = 9}, "Unterminated object"},
      {{.kind = K::object_unexpected_byte, .character = 0x7F, .offset = 18446744073709551615u},
       "Unexpected '\\u{7f}' in object at pos 18446744073709551615"},
      {{.kind = K::nesting_too_deep_to_read, .offset = 1002},
       "Maximum nesting depth of 1000 exceeded at pos 1002"},
      {{.kind = K::nesting_too_deep_to_write}, "Maximum nesting depth of 1000 exceeded"},
  };
  for (const auto& c : cases) EXPECT_EQ(failure_message(c.failure), c.expected);
}

// The reader's failures carry the byte offset and the byte as data; the
// offset of a failure at the end of the text is the text's length.
TEST(FailureData, ReaderFailuresCarryOffsetAndByte) {
  const auto defaults = FormatConfig::defaults();
  ASSERT_TRUE(defaults);
  const struct {
    const char* text;
    Failure expected;
  } cases[] = {
      {"a", {.kind = K::key_runs_to_end, .expected = '=', .offset = 1}},
      {"\xC3\xA9={x}", {.kind = K::key_ends_without_kv_sep, .character = '}', .expected = '=', .offset = 5}},
      {"a=[1|2", {.kind = K::list_unterminated, .offset = 6}},
      {"a=[[1]\xC3\xA9]", {.kind = K::list_unexpected_byte, .character = 0xC3, .offset = 6}},
      {"a={x=1", {.kind = K::object_unterminated, .offset = 6}},
      {"a={x=1]", {.kind = K::object_unexpected_byte, .character = ']', .offset = 6}},
  };
  for (const auto& c : cases) {
    const auto document = parse_document(c.text, *defaults);
    ASSERT_FALSE(document) << c.text;
    const Failure& got = document.error();
    EXPECT_EQ(got.kind, c.expected.kind) << c.text;
    EXPECT_EQ(got.character, c.expected.character) << c.text;
    EXPECT_EQ(got.expected, c.expected.expected) << c.text;
    EXPECT_EQ(got.offset, c.expected.offset) << c.text;
    EXPECT_TRUE(got.has_offset()) << c.text;
  }
  const auto deep = parse_document("a=" + std::string(1001, '['), *defaults);
  ASSERT_FALSE(deep);
  EXPECT_EQ(deep.error().kind, K::nesting_too_deep_to_read);
  EXPECT_EQ(deep.error().offset, 1002u);
}

}  // namespace
}  // namespace vardelquin
