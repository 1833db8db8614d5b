#include "support/little_endian.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/key_words.h"

namespace vardelquin {
namespace {

// The cross-built runs (s390x is big-endian) check the swap.
TEST(LittleEndianTest, FirstByteIsLeastSignificantOnEveryHost) {
  const char bytes[] = "\x01\x02\x03\x04\x05\x06\x07\x08\x09";
  EXPECT_EQ(load_le32(bytes), 0x04030201u);
  EXPECT_EQ(load_le32(bytes + 1), 0x05040302u);  // unaligned
  EXPECT_EQ(load_le64(bytes), 0x0807060504030201u);
  EXPECT_EQ(load_le64(bytes + 1), 0x0908070605040302u);
}

// Every pair of a set of short strings built around the eight-byte word:
// where order words differ they order as the bytes do (unsigned, a prefix
// first), and up to sixteen bytes equal words are equal strings.
TEST(KeyWordsTest, WordsAgreeWithTheBytes) {
  using namespace std::literals;
  std::vector<std::string> strings;
  for (const std::string_view stem : {"abcdefghijklmnopq"sv,
                                      "\x00\xff\x80"
                                      "a\x00\x00\x01\x7f\xfe"sv}) {
    for (std::size_t n = 0; n <= stem.size(); ++n) strings.emplace_back(stem.substr(0, n));
  }
  for (std::string s : std::vector<std::string>(strings)) {
    for (const char last : {'\0', '\x01', '\xff'}) {
      if (!s.empty()) strings.push_back(s.substr(0, s.size() - 1) + last);
      strings.push_back(s + last);
    }
  }
  for (const std::string& a : strings) {
    for (const std::string& b : strings) {
      const int bytes = std::string_view(a).compare(b);
      const std::uint64_t wa = order_word(a), wb = order_word(b);
      if (wa != wb) {
        EXPECT_EQ(wa < wb, bytes < 0) << a << " / " << b;
      }
      if (a.size() <= 16 && b.size() <= 16) {
        EXPECT_EQ(words_of(a) == words_of(b), a == b) << a << " / " << b;
      }
    }
  }
}

}  // namespace
}  // namespace vardelquin
