// How characters and strings are shown in messages and in FormatConfig's
// repr: between quotes, with backslash escapes for quotes, backslashes,
// NUL, tab, line feed, carriage return, and \u{hex} for characters that are
// invisible or combining (Grapheme_Extend, or general category Cc, Cf, Cs,
// Co, Cn, Zl, Zp or Zs other than the space).
#pragma once

#include <string>
#include <string_view>

namespace vardelquin {

// True for characters shown in the \u{hex} form.
bool needs_code_point_escape(char32_t c) noexcept;

// 'c', escaping the single quote.
std::string char_literal(char32_t c);

// "text", escaping the double quote. `utf8` must be well formed.
std::string string_literal(std::string_view utf8);

}  // namespace vardelquin
