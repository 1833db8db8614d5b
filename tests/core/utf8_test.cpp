#include "support/utf8.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "support/pod_stack.h"

namespace vardelquin {
namespace {

// The word-at-a-time helpers against a byte loop, on texts whose special
// bytes sit at every position of a word and of the tail after the words.
TEST(Utf8, WordHelpersAgreeWithByteLoops) {
  const std::string characters[] = {"a", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\x7F"};
  for (std::size_t length = 0; length < 40; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      for (const std::string& special : characters) {
        const std::string text = std::string(at, 'x') + special + std::string(length - at, 'y');
        std::size_t count = 0;
        bool ascii = true, four = false;
        for (const char c : text) {
          const auto b = static_cast<unsigned char>(c);
          count += (b & 0xC0) != 0x80;
          ascii = ascii && b < 0x80;
          four = four || (b & 0xF0) == 0xF0;
        }
        EXPECT_EQ(utf8::count_characters(text), count) << text;
        EXPECT_EQ(utf8::is_ascii(text), ascii) << text;
        EXPECT_EQ(utf8::has_four_byte_characters(text), four) << text;
      }
    }
  }
  EXPECT_EQ(utf8::count_characters(""), 0u);
  EXPECT_TRUE(utf8::is_ascii(""));
}

// Long texts, whose count is kept in bytes that must be added up before any
// passes 255: each character repeated, so that the same bytes of every
// word continue a sequence, to lengths either side of 255 words, and
// with a tail of ASCII bytes past the last whole word.
TEST(Utf8, CountsCharactersOfLongTexts) {
  const std::string characters[] = {"\xF0\x9F\x98\x80", "\xC3\xA9", "\xE4\xB8\xAD", "a"};
  for (const std::string& character : characters) {
    for (const std::size_t count : {510u, 511u, 512u, 1021u, 4000u}) {
      std::string text;
      for (std::size_t i = 0; i < count; ++i) text += character;
      for (const std::size_t tail : {0u, 1u, 7u}) {
        EXPECT_EQ(utf8::count_characters(text + std::string(tail, 'z')), count + tail)
            << character.size() << " " << count;
      }
    }
  }
}

// The code points of texts whose non-ASCII character sits at every
// position of an ASCII run and its tail, with the bits that tell Latin-1
// and the BMP apart, at the edges of each sequence length.
TEST(Utf8, ToCodePointsDecodesEveryWidthAtEveryPosition) {
  const char32_t specials[] = {0x7F, 0x80, 0xFF, 0x100, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF};
  for (std::size_t length = 0; length < 20; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      for (const char32_t special : specials) {
        const std::string text = std::string(at, 'x') + utf8::encode(special) + std::string(length - at, 'y');
        std::vector<char32_t> expected;
        for (std::size_t i = 0; i < text.size();) {
          const utf8::Decoded d = utf8::decode(std::string_view(text).substr(i));
          expected.push_back(d.code_point);
          i += d.length;
        }
        std::vector<char32_t> out(text.size());
        const utf8::Widened wide = utf8::to_code_points(text, out.data());
        out.resize(wide.count);
        EXPECT_EQ(out, expected) << text;
        EXPECT_EQ(wide.bits < 0x100, special < 0x100) << text;
        EXPECT_EQ(wide.bits < 0x10000, special < 0x10000) << text;
      }
    }
  }
  char32_t none[1];
  EXPECT_EQ(utf8::to_code_points("", none).count, 0u);
}

TEST(PodStack, GrowsKeepingItsItemsAndSwaps) {
  PodStack<std::size_t> stack, other;
  for (std::size_t i = 0; i < 100'000; ++i) stack.push_back(i);
  stack.shrink_to(70'000);
  stack.push_back(7);
  ASSERT_EQ(stack.size(), 70'001u);
  for (std::size_t i = 0; i < 70'000; ++i) ASSERT_EQ(stack.data()[i], i);
  EXPECT_EQ(stack.back(), 7u);
  const std::size_t capacity = stack.capacity();
  swap(stack, other);
  EXPECT_TRUE(stack.empty());
  EXPECT_EQ(stack.capacity(), 0u);
  EXPECT_EQ(other.capacity(), capacity);
  other.clear();
  EXPECT_TRUE(other.empty());
  EXPECT_EQ(other.capacity(), capacity);
}

}  // namespace
}  // namespace vardelquin
