// The block transcoders against one character at a time: UTF-8 to UTF-16
// (apart and over the text itself, where in_place_layout puts it), UTF-8
// to code points and back, with and without byte shuffles, and the route
// against the counts it is made from. The fuzzer's bytes become
// well-formed UTF-8 by one of two forms chosen by the first byte: repaired
// as they are, or read as runs of one width, as prose has them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "support/str_route.h"
#include "support/transcode.h"
#include "support/utf8.h"

namespace vardelquin::fuzz {
namespace {

// Pairs (width, count) then a byte to vary the character: `count` + 1
// characters of that width.
std::string runs_of(ByteSource& in) {
  static constexpr char32_t firsts[] = {0x20, 0x80, 0x800, 0x10000};
  static constexpr char32_t spans[] = {0x5F, 0x780, 0xD000, 0x100000};
  std::string out;
  while (!in.empty() && out.size() < (std::size_t{1} << 16)) {
    const std::uint8_t width = in.byte() % 4;
    const std::size_t count = std::size_t{in.byte()} + 1;
    const std::uint8_t seed = in.byte();
    for (std::size_t i = 0; i < count; ++i) {
      char32_t c = firsts[width] + (seed * 7919u + static_cast<char32_t>(i) * 104729u) % spans[width];
      if (c >= 0xD800 && c <= 0xDFFF) c = 0xE000 + (c & 0xFF);
      utf8::append(out, c);
    }
  }
  return out;
}

}  // namespace
}  // namespace vardelquin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vardelquin;
  using namespace vardelquin::fuzz;
  ByteSource in(data, size);
  const std::string text = (in.byte() & 1) ? runs_of(in) : repair_utf8(in.rest());

  std::vector<char32_t> points;
  std::u16string units;
  std::size_t high = 0, fours = 0;
  for (std::size_t i = 0; i < text.size();) {
    const utf8::Decoded d = utf8::decode(std::string_view(text).substr(i));
    points.push_back(d.code_point);
    if (d.code_point < 0x10000) {
      units.push_back(static_cast<char16_t>(d.code_point));
    } else {
      units.push_back(static_cast<char16_t>(0xD800 + ((d.code_point - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((d.code_point - 0x10000) & 0x3FF)));
      ++fours;
    }
    high += d.length > 1 ? d.length : 0;
    i += d.length;
  }

  for (const bool shuffles : {false, true}) {
    std::u16string out(utf8::max_utf16_units(text.size()), u'\0');
    out.resize(utf8::detail::to_utf16(text.data(), text.size(), out.data(), shuffles));
    FUZZ_CHECK(out == units, text);

    // Exactly the room promised: the text's size, or its characters and 16.
    std::vector<char32_t> wide(points.size() + 16);
    wide.resize(utf8::to_utf32(text.data(), text.size(), wide.data(), shuffles));
    FUZZ_CHECK(wide == points, text);

    std::vector<std::uint32_t> code_points(wide.begin(), wide.end());
    std::string back(utf8::max_bytes(code_points.size()), '\0');
    back.resize(
        utf8::detail::from_code_points(code_points.data(), code_points.size(), back.data(), shuffles));
    FUZZ_CHECK(back == text, text);
  }

  const utf8::InPlaceLayout layout = utf8::in_place_layout(text.data(), text.size());
  FUZZ_CHECK(layout.units == units.size(), text);
  FUZZ_CHECK(layout.characters == points.size(), text);
  const utf8::StrRoute route = 2 * high < text.size() ? utf8::StrRoute::utf8
                               : fours != 0           ? utf8::StrRoute::utf32
                                                      : utf8::StrRoute::utf16;
  FUZZ_CHECK(layout.route == route, text);
  // Exactly the buffer the layout asks for, the text at its end of it.
  std::vector<char> buffer(std::max(layout.text_offset + text.size(), 2 * layout.units + 32));
  if (!text.empty()) std::memcpy(buffer.data() + layout.text_offset, text.data(), text.size());
  auto* const over = reinterpret_cast<char16_t*>(buffer.data());
  const std::size_t count = utf8::to_utf16(buffer.data() + layout.text_offset, text.size(), over);
  FUZZ_CHECK(std::u16string(over, count) == units, text);
  return 0;
}
