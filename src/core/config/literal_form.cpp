#include "config/literal_form.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "support/utf8.h"

namespace vardelquin {
namespace {

#include "config/unicode_tables.inc"

// The lookup below relies on this; a bad regeneration fails the build.
consteval bool ranges_sorted_and_apart() {
  const CodePointRange* previous = nullptr;
  for (const CodePointRange& range : code_point_escape_ranges) {
    if (range.first > range.last) return false;
    if (previous != nullptr && previous->last + 1 >= range.first) return false;
    previous = &range;
  }
  return true;
}
static_assert(ranges_sorted_and_apart());

constexpr char32_t max_code_point = 0x10FFFF;

void append_code_point_escape(std::string& out, char32_t c) {
  constexpr char digits[] = "0123456789abcdef";
  char reversed[8];
  std::size_t count = 0;
  do {
    reversed[count++] = digits[c & 0xFu];
    c >>= 4;
  } while (c != 0);
  out += "\\u{";
  while (count > 0) out.push_back(reversed[--count]);
  out.push_back('}');
}

void append_escaped(std::string& out, char32_t c, char quote) {
  switch (c) {
    case U'\0': out += "\\0"; return;
    case U'\t': out += "\\t"; return;
    case U'\n': out += "\\n"; return;
    case U'\r': out += "\\r"; return;
    case U'\\': out += "\\\\"; return;
    default: break;
  }
  if (c == static_cast<char32_t>(quote)) {
    out.push_back('\\');
    out.push_back(quote);
  } else if (needs_code_point_escape(c)) {
    append_code_point_escape(out, c);
  } else {
    utf8::append(out, c);
  }
}

}  // namespace

bool needs_code_point_escape(char32_t c) noexcept {
  // Not a code point at all: shown by number, never encoded.
  if (c > max_code_point) return true;
  const auto after =
      std::upper_bound(std::begin(code_point_escape_ranges), std::end(code_point_escape_ranges), c,
                       [](char32_t value, const CodePointRange& range) { return value < range.first; });
  return after != std::begin(code_point_escape_ranges) && c <= std::prev(after)->last;
}

std::string char_literal(char32_t c) {
  std::string out = "'";
  append_escaped(out, c, '\'');
  out.push_back('\'');
  return out;
}

// Every character is re-encoded after escaping, so even ill-formed input
// yields well-formed output: surrogates and values past U+10FFFF that a
// malformed sequence decodes to are shown by number.
std::string string_literal(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  out.push_back('"');
  while (!utf8.empty()) {
    const auto [c, length] = utf8::decode(utf8);
    append_escaped(out, c, '"');
    utf8.remove_prefix(length);
  }
  out.push_back('"');
  return out;
}

}  // namespace vardelquin
