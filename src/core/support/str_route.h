// Which route a long UTF-8 text takes to become a str: the choice the
// binding's str making asks for, kept here, apart from the interpreter,
// so that the core's tests and fuzzers check it against the counts it is
// made from.
//
// A text mostly of ASCII the interpreter's UTF-8 decoder takes at memory
// speed, which no detour can beat. A text of which at least half the bytes
// are of multi-byte characters it takes one branchy character at a time,
// while utf8::to_utf16 and its UTF-16 decoder take a few instructions a
// unit each; but a character beyond the Basic Multilingual Plane sends the
// UTF-16 decoder down a slow path for the rest of the text, so such a text
// goes as code points (utf8::to_utf32) instead, where the platform can
// take them.
#pragma once

#include <cstddef>

namespace vardelquin::utf8 {

// The first str_route_glance bytes of a text settle most answers: the
// rest is read only for a text that starts as one worth the detour.
enum class StrRoute : unsigned char { utf8, utf16, utf32 };
inline constexpr std::size_t str_route_glance = 1024;
StrRoute str_route(const char* in, std::size_t size) noexcept;

// For a text that may be overwritten as it becomes a str: where it must
// lie for to_utf16 to write its units over it (`text_offset`, see
// utf16_in_place_offset), how many units that writes, the text's count of
// characters, and `route`, str_route's answer for the whole text without
// its glance at the start. One pass over the text has them all.
struct InPlaceLayout {
  std::size_t text_offset;
  std::size_t units;
  std::size_t characters;
  StrRoute route;
};
InPlaceLayout in_place_layout(const char* in, std::size_t size) noexcept;

}  // namespace vardelquin::utf8
