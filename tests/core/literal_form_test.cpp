#include "config/literal_form.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

#include "support/utf8.h"

namespace vardelquin {
namespace {

// Each character between single quotes, and as a one-character string
// between double quotes: apart from the quotes themselves, both forms
// escape alike. The lookup's ranges are probed at their edges.
TEST(LiteralForm, Characters) {
  const std::pair<char32_t, std::string_view> cases[] = {
      {U'a', "a"}, {U' ', " "}, {U'\\', "\\\\"}, {U'\0', "\\0"}, {U'\t', "\\t"}, {U'\n', "\\n"}, {U'\r', "\\r"},
      {0x01, "\\u{1}"}, {0x7F, "\\u{7f}"}, {0xA0, "\\u{a0}"},      // Cc, Cc, no-break space (Zs)
      {0xAD, "\\u{ad}"}, {0xC3, "\xC3\x83"}, {0xE9, "\xC3\xA9"},  // soft hyphen (Cf), then letters
      {0x301, "\\u{301}"}, {0x20DD, "\\u{20dd}"}, {0xFF9E, "\\u{ff9e}"},  // Mn, Me, Lm yet Grapheme_Extend
      {0x200B, "\\u{200b}"}, {0x2028, "\\u{2028}"}, {0x3000, "\\u{3000}"},  // Cf, Zl, Zs
      {0x378, "\\u{378}"}, {0xE000, "\\u{e000}"}, {0xFFFF, "\\u{ffff}"},  // unassigned, private use, Cn
      // The last of a First/Last range, the last assigned ideograph and the first unassigned after it.
      {0x4DBF, "\xE4\xB6\xBF"}, {0x323AF, "\xF0\xB2\x8E\xAF"}, {0x323B0, "\\u{323b0}"},
      {0x1F600, "\xF0\x9F\x98\x80"}, {0x10FFFF, "\\u{10ffff}"},
      // No scalar values, yet a malformed string may decode to them.
      {0xD800, "\\u{d800}"}, {0xDFFF, "\\u{dfff}"}, {0x110000, "\\u{110000}"},
  };
  for (const auto& [c, body] : cases) {
    EXPECT_EQ(char_literal(c), "'" + std::string(body) + "'") << static_cast<unsigned>(c);
    EXPECT_EQ(string_literal(utf8::encode(c)), "\"" + std::string(body) + "\"") << static_cast<unsigned>(c);
  }
  EXPECT_EQ(char_literal(U'\''), "'\\''");
  EXPECT_EQ(char_literal(U'"'), "'\"'");
  EXPECT_EQ(char_literal(0xFFFFFFFF), "'\\u{ffffffff}'");
}

TEST(LiteralForm, Strings) {
  EXPECT_EQ(string_literal(""), "\"\"");
  EXPECT_EQ(string_literal("a\"b'c\\"), "\"a\\\"b'c\\\\\"");
  EXPECT_EQ(string_literal(std::string_view("n\0l", 3)), "\"n\\0l\"");
  EXPECT_EQ(string_literal("e\xCC\x81"), "\"e\\u{301}\"");
}

}  // namespace
}  // namespace vardelquin
