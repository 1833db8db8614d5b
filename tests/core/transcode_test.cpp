#include "support/transcode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/str_route.h"
#include "support/utf8.h"

namespace vardelquin {
namespace {

// The reference: one code point at a time; nothing for a surrogate.
std::optional<std::string> reference(const std::vector<std::uint32_t>& points) {
  std::string out;
  for (const std::uint32_t c : points) {
    if (c >= 0xD800 && c <= 0xDFFF) return std::nullopt;
    utf8::append(out, static_cast<char32_t>(c));
  }
  return out;
}

// Both ways, with the processor's byte shuffles and without, which must agree.
std::optional<std::string> transcoded(const std::vector<std::uint32_t>& points) {
  std::optional<std::string> results[2];
  for (const bool shuffles : {false, true}) {
    std::string out(utf8::max_bytes(points.size()), '\xFF');
    const std::size_t size =
        utf8::detail::from_code_points(points.data(), points.size(), out.data(), shuffles);
    if (size != utf8::surrogate_found) results[shuffles] = out.substr(0, size);
  }
  EXPECT_EQ(results[0], results[1]);
  return results[1];
}

// One code point of each width and at each width's edges.
const std::uint32_t samples[] = {0x00,  0x41,   0x7F,   0x80,   0xE9,   0xFF,    0x100,   0x3B1,   0x7FF,
                                 0x800, 0x4E2D, 0xD7FF, 0xE000, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF};

// Every sample at every position of texts up to a few blocks long, in a
// run of ASCII and in a run of two-byte letters: each block kind and
// each tail length.
TEST(Transcode, EachWidthAtEachPositionMatchesTheReference) {
  for (const std::uint32_t fill : {std::uint32_t{'x'}, std::uint32_t{0x3B1}, std::uint32_t{0x4E2D}}) {
    for (std::size_t length = 1; length <= 26; ++length) {
      for (std::size_t at = 0; at < length; ++at) {
        for (const std::uint32_t sample : samples) {
          std::vector<std::uint32_t> points(length, fill);
          points[at] = sample;
          EXPECT_EQ(transcoded(points), reference(points)) << length << " " << at << " " << sample;
        }
      }
    }
  }
  EXPECT_EQ(transcoded({}), std::string());
}

TEST(Transcode, StopsAtASurrogateAnywhere) {
  for (const std::uint32_t surrogate : {0xD800u, 0xDBFFu, 0xDC00u, 0xDFFFu}) {
    for (const std::uint32_t fill : {std::uint32_t{'x'}, std::uint32_t{0xE9}, std::uint32_t{0x4E2D}}) {
      for (std::size_t at = 0; at < 20; ++at) {
        std::vector<std::uint32_t> points(20, fill);
        points[at] = surrogate;
        EXPECT_EQ(transcoded(points), std::nullopt) << at;
      }
    }
  }
}

// Random mixes, weighted towards the blocks that take the vectorised
// paths: runs of one width with the odd character of another.
TEST(Transcode, RandomTextsMatchTheReference) {
  std::mt19937_64 random(20261207);
  const std::uint32_t ranges[][2] = {{0, 0x7F}, {0x80, 0x7FF}, {0x800, 0xFFFF}, {0x10000, 0x10FFFF}};
  for (int round = 0; round < 3000; ++round) {
    const std::size_t length = random() % 100;
    const std::size_t main_width = random() % 4;
    std::vector<std::uint32_t> points;
    for (std::size_t i = 0; i < length; ++i) {
      const std::size_t width = random() % 8 == 0 ? random() % 4 : main_width;
      const auto& range = ranges[width];
      points.push_back(range[0] + static_cast<std::uint32_t>(random() % (range[1] - range[0] + 1)));
    }
    EXPECT_EQ(transcoded(points), reference(points)) << round;
  }
}

// --- UTF-8 to UTF-16 ---

// The reference: the code points' units, one or a surrogate pair each.
std::u16string units_of(const std::vector<std::uint32_t>& points) {
  std::u16string out;
  for (const std::uint32_t c : points) {
    if (c < 0x10000) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  return out;
}

// The UTF-8 of the code points decoded both ways, which must agree.
std::u16string decoded(const std::vector<std::uint32_t>& points) {
  std::string text;
  for (const std::uint32_t c : points) utf8::append(text, static_cast<char32_t>(c));
  std::u16string results[2];
  for (const bool shuffles : {false, true}) {
    std::u16string out(utf8::max_utf16_units(text.size()), u'\xFFFF');
    out.resize(utf8::detail::to_utf16(text.data(), text.size(), out.data(), shuffles));
    results[shuffles] = out;
  }
  EXPECT_EQ(results[0], results[1]);
  // And as code points.
  for (const bool shuffles : {false, true}) {
    std::vector<char32_t> wide(text.size() + 1);
    wide.resize(utf8::to_utf32(text.data(), text.size(), wide.data(), shuffles));
    EXPECT_EQ(wide, std::vector<char32_t>(points.begin(), points.end())) << "code points";
  }
  // And over the text itself, where in_place_layout puts it.
  const utf8::InPlaceLayout layout = utf8::in_place_layout(text.data(), text.size());
  EXPECT_EQ(layout.units, results[1].size());
  EXPECT_EQ(layout.characters, points.size());
  std::size_t high = 0;
  bool four = false;
  for (const char c : text) {
    high += static_cast<unsigned char>(c) >> 7;
    four |= static_cast<unsigned char>(c) >= 0xF0;
  }
  EXPECT_EQ(layout.route, 2 * high < text.size() ? utf8::StrRoute::utf8
                          : four                 ? utf8::StrRoute::utf32
                                                 : utf8::StrRoute::utf16);
  for (const bool shuffles : {false, true}) {
    std::vector<char16_t> buffer(std::max(layout.text_offset + text.size(), 2 * layout.units + 32) / 2 + 1);
    char* const bytes = reinterpret_cast<char*>(buffer.data());
    if (!text.empty()) std::memcpy(bytes + layout.text_offset, text.data(), text.size());
    const std::size_t units =
        utf8::detail::to_utf16(bytes + layout.text_offset, text.size(), buffer.data(), shuffles);
    EXPECT_EQ(std::u16string(buffer.data(), units), results[1]) << "in place";
  }
  return results[1];
}

// Each width at each position of texts up to a few blocks long, in runs
// of each width: every block kind, every character that a block's end
// cuts, and every tail length.
TEST(TranscodeToUtf16, EachWidthAtEachPositionMatchesTheReference) {
  for (const std::uint32_t fill :
       {std::uint32_t{'x'}, std::uint32_t{0x3B1}, std::uint32_t{0x4E2D}, std::uint32_t{0x1F600}}) {
    for (std::size_t length = 1; length <= 40; ++length) {
      for (std::size_t at = 0; at < length; ++at) {
        for (const std::uint32_t sample : samples) {
          if (sample >= 0xD800 && sample <= 0xDFFF) continue;
          std::vector<std::uint32_t> points(length, fill);
          points[at] = sample;
          EXPECT_EQ(decoded(points), units_of(points)) << length << " " << at << " " << sample;
        }
      }
    }
  }
  EXPECT_EQ(decoded({}), std::u16string());
}

// ASCII, then multi-byte characters to the end: over the text itself, the
// units run furthest ahead of the bytes read, right up to the last block.
TEST(TranscodeToUtf16, AsciiThenMultibyteToTheEnd) {
  for (const std::size_t ascii : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 48u, 100u, 160u, 1600u}) {
    for (const std::uint32_t tail : {0x3B1u, 0x4E2Du, 0x1F600u}) {
      for (std::size_t length = 1; length <= 40; ++length) {
        std::vector<std::uint32_t> points(ascii, 'x');
        points.insert(points.end(), length, tail);
        EXPECT_EQ(decoded(points), units_of(points)) << ascii << " " << tail << " " << length;
      }
    }
  }
}

// Random mixes of every width, with runs of one width as prose has
// between its spaces and punctuation.
TEST(TranscodeToUtf16, RandomTextsMatchTheReference) {
  std::mt19937_64 random(20261208);
  const std::uint32_t ranges[][2] = {
      {0, 0x7F}, {0x80, 0x7FF}, {0x800, 0xD7FF}, {0xE000, 0xFFFF}, {0x10000, 0x10FFFF}};
  for (int round = 0; round < 3000; ++round) {
    // Now and then a long text, over which the units run well ahead of
    // the bytes (ASCII) or behind them (three-byte characters).
    const std::size_t length = round % 50 == 0 ? 2000 + random() % 2000 : random() % 120;
    std::vector<std::uint32_t> points;
    while (points.size() < length) {
      const auto& range = ranges[random() % 5];
      for (std::size_t run = 1 + random() % (length > 1000 ? 300 : 8); run > 0; --run)
        points.push_back(range[0] + static_cast<std::uint32_t>(random() % (range[1] - range[0] + 1)));
    }
    EXPECT_EQ(decoded(points), units_of(points)) << round;
  }
}

TEST(TranscodeToUtf16, RouteByTheShareOfMultibyteCharacters) {
  using utf8::StrRoute;
  const std::string greek = "\xCE\xB1\xCE\xB2 ", emoji = "\xF0\x9F\x98\x80";
  const auto route = [](const std::string& text) { return utf8::str_route(text.data(), text.size()); };
  std::string prose;
  for (int i = 0; i < 1000; ++i) prose += greek;  // four of five bytes multi-byte
  EXPECT_EQ(route(prose), StrRoute::utf16);
  EXPECT_EQ(route(prose + emoji), StrRoute::utf32);                 // one far beyond the first kilobyte
  EXPECT_EQ(route(std::string(600, 'a') + prose), StrRoute::utf8);  // a start mostly ASCII turns it away
  EXPECT_EQ(route(prose.substr(0, 1000) + std::string(5000, 'a')), StrRoute::utf8);  // mostly ASCII after all
  EXPECT_EQ(route(std::string(300, 'a')), StrRoute::utf8);
  EXPECT_EQ(route(prose.substr(0, 17)), StrRoute::utf16);  // a tail shorter than a block
}

}  // namespace
}  // namespace vardelquin
