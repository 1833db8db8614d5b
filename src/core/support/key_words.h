// A short byte string seen through fixed-width words: its length and its
// first and last eight bytes. Keys are short, and words compare and hash
// in a few instructions where a byte comparison costs a call; loads reads
// every key through them, once to find its str and once to put its object
// in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/byte_swap.h"
#include "support/little_endian.h"

namespace vardelquin {

// For a string of up to sixteen bytes these hold every byte, so equal
// words are equal strings, with no comparison of bytes.
struct KeyWords {
  std::uint64_t head;  // the first eight bytes, little-endian, zero-padded
  std::uint64_t tail;  // the last eight bytes, or head for a shorter string
  std::size_t size;

  friend bool operator==(const KeyWords&, const KeyWords&) noexcept = default;
};

// The bytes of a string shorter than eight as one little-endian number,
// zero-padded, every byte in a place of its own: fixed-size loads that
// overlap, where a copy of the exact length would be slower. An empty
// string's data may be null: never read.
inline std::uint64_t short_string_word(std::string_view s) noexcept {
  const char* const data = s.data();
  const std::size_t n = s.size();
  if (n >= 4) {
    const std::uint32_t first = load_le32(data);
    const std::uint32_t last = load_le32(data + n - 4);
    return first | (std::uint64_t{last} >> (8 * (8 - n))) << 32;
  }
  if (n == 0) return 0;
  const auto at = [&](std::size_t i) {
    return std::uint64_t{static_cast<unsigned char>(data[i])} << (8 * i);
  };
  return at(0) | at(n / 2) | at(n - 1);
}

inline KeyWords words_of(std::string_view s) noexcept {
  const std::size_t n = s.size();
  if (n >= 8) return KeyWords{load_le64(s.data()), load_le64(s.data() + n - 8), n};
  const std::uint64_t word = short_string_word(s);
  return KeyWords{word, word, n};
}

// The first eight bytes, zero-padded, as a number that orders as they do
// (unsigned bytes, the first most significant). Where two strings' numbers
// differ, they order as the strings do, a shorter one before the longer
// one it begins: padding is a zero byte, below every byte but zero. Equal
// numbers leave the order to the bytes.
inline std::uint64_t order_word(std::string_view s) noexcept {
  return byte_swap64(s.size() >= 8 ? load_le64(s.data()) : short_string_word(s));
}

}  // namespace vardelquin
