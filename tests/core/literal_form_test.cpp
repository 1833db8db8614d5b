#include "config/literal_form.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "support/utf8.h"

namespace vardelquin {
namespace {

struct CharCase {
  char32_t c;
  std::string_view in_single;  // between single quotes
  std::string_view in_double;  // between double quotes
};

// Escaping differs between the two forms only for the quotes.
constexpr CharCase char_cases[] = {
    {U'a', "a", "a"},
    {U' ', " ", " "},
    {U'\'', "\\'", "'"},
    {U'"', "\"", "\\\""},
    {U'\\', "\\\\", "\\\\"},
    {U'\0', "\\0", "\\0"},
    {U'\t', "\\t", "\\t"},
    {U'\n', "\\n", "\\n"},
    {U'\r', "\\r", "\\r"},
    {0x01, "\\u{1}", "\\u{1}"},
    {0x7F, "\\u{7f}", "\\u{7f}"},
    {0xA0, "\\u{a0}", "\\u{a0}"},                 // no-break space, Zs
    {0xAD, "\\u{ad}", "\\u{ad}"},                 // soft hyphen, Cf
    {0xC3, "\xC3\x83", "\xC3\x83"},               // Ã
    {0xE9, "\xC3\xA9", "\xC3\xA9"},               // é
    {0x301, "\\u{301}", "\\u{301}"},              // combining acute, Mn
    {0x20DD, "\\u{20dd}", "\\u{20dd}"},           // enclosing circle, Me
    {0xFF9E, "\\u{ff9e}", "\\u{ff9e}"},           // Lm, yet Grapheme_Extend
    {0x200B, "\\u{200b}", "\\u{200b}"},           // zero width space, Cf
    {0x2028, "\\u{2028}", "\\u{2028}"},           // Zl
    {0x3000, "\\u{3000}", "\\u{3000}"},           // ideographic space, Zs
    {0x378, "\\u{378}", "\\u{378}"},              // unassigned
    {0xE000, "\\u{e000}", "\\u{e000}"},           // private use
    {0xFFFF, "\\u{ffff}", "\\u{ffff}"},           // noncharacter, Cn
    {0x4DBF, "\xE4\xB6\xBF", "\xE4\xB6\xBF"},     // last of a First/Last range
    {0x323AF, "\xF0\xB2\x8E\xAF", "\xF0\xB2\x8E\xAF"},  // last assigned ideograph
    {0x323B0, "\\u{323b0}", "\\u{323b0}"},        // first unassigned after it
    {0x1F600, "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // emoji
    {0x10FFFF, "\\u{10ffff}", "\\u{10ffff}"},
};

std::string quoted(char quote, std::string_view body) {
  std::string out(1, quote);
  out += body;
  out.push_back(quote);
  return out;
}

TEST(LiteralForm, SingleCharacters) {
  for (const auto& [c, in_single, in_double] : char_cases) {
    SCOPED_TRACE(static_cast<unsigned>(c));
    EXPECT_EQ(char_literal(c), quoted('\'', in_single));
    EXPECT_EQ(string_literal(utf8::encode(c)), quoted('"', in_double));
  }
}

// The character form may be handed values no string can hold.
TEST(LiteralForm, NonScalarValuesShownByNumber) {
  EXPECT_EQ(char_literal(0xD800), "'\\u{d800}'");
  EXPECT_EQ(char_literal(0xDFFF), "'\\u{dfff}'");
  EXPECT_EQ(char_literal(0x110000), "'\\u{110000}'");
  EXPECT_EQ(char_literal(0xFFFFFFFF), "'\\u{ffffffff}'");
}

TEST(LiteralForm, Strings) {
  const struct {
    std::string_view text;
    std::string_view expected;
  } cases[] = {
      {"", "\"\""},
      {"a\"b'c\\", "\"a\\\"b'c\\\\\""},
      {std::string_view("n\0l", 3), "\"n\\0l\""},
      {"e\xCC\x81", "\"e\\u{301}\""},
      // A surrogate smuggled in as bytes still yields well-formed output.
      {"\xED\xA0\x80", "\"\\u{d800}\""},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(string_literal(text), expected);
  }
}

}  // namespace
}  // namespace vardelquin
