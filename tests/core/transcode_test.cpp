#include "support/transcode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace vardelquin
