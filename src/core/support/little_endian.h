// Fixed-size loads of unaligned bytes as little-endian (or big-endian)
// numbers, on any host: code that shifts the loaded words to pick out
// bytes then means the same bytes everywhere.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "support/byte_swap.h"

namespace vardelquin {

inline std::uint32_t load_le32(const char* p) noexcept {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = byte_swap32(v);
  return v;
}

inline std::uint64_t load_le64(const char* p) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = byte_swap64(v);
  return v;
}

// As a big-endian number: the first byte is the most significant, so such
// numbers compare as the bytes do.
inline std::uint64_t load_be64(const char* p) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = byte_swap64(v);
  return v;
}

}  // namespace vardelquin
