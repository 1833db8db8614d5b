// A small set of bytes that text is scanned for: the reader looks for the
// bytes that end a token, the writer for those that need escaping. Both
// scans are the same routine: sixteen bytes at a time where SSE2 is on
// (see simd.h), a lookup table otherwise and for the tail.
//
// N, the number of bytes compared per block, is fixed at compile time so
// that the comparisons unroll; a set of fewer distinct bytes repeats one.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "support/byte_block.h"
#include "support/page_read.h"
#include "support/simd.h"

namespace vardelquin {

template <std::size_t N>
class ByteSet {
 public:
  // `bytes` holds one to N bytes; repeats are allowed.
  explicit ByteSet(std::span<const std::uint8_t> bytes) noexcept {
    for (std::size_t i = 0; i < N; ++i) {
      const std::uint8_t b = bytes[i < bytes.size() ? i : 0];
      member_[b] = 1;
#if VARDELQUIN_SSE2
      needles_[i] = _mm_set1_epi8(static_cast<char>(b));
#endif
    }
  }

  // 1 for a member, 0 otherwise, to add to a cursor without a branch.
  std::uint8_t operator[](unsigned char c) const noexcept { return member_[c]; }

#if VARDELQUIN_SSE2
  static constexpr std::size_t block = 16;
  // Bit i is set when p[i] is a member; p must have 16 readable bytes.
  unsigned block_mask(const char* p) const noexcept { return chunk_mask(load_block(p)); }
  unsigned chunk_mask(ByteBlock chunk) const noexcept {
    __m128i hits = _mm_cmpeq_epi8(chunk, needles_[0]);
    for (std::size_t i = 1; i < N; ++i) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(chunk, needles_[i]));
    return static_cast<unsigned>(_mm_movemask_epi8(hits));
  }

  // For a text of n < 16 bytes at p with no member in it: stores its
  // bytes at out, which has room for 16, and returns true. One 16-byte read
  // tests and copies it whole, when that read stays within the page that
  // holds p (see page_read.h); the bytes past the text are ignored (and
  // stored past the n kept). False, storing nothing that counts, otherwise.
  bool copy_if_clear(const char* p, std::size_t n, char* out) const noexcept {
    if (!within_one_page(p)) return false;
    const ByteBlock chunk = load_16_within_page(p);
    if ((chunk_mask(chunk) & ((1u << n) - 1)) != 0) return false;
    store_block(out, chunk);
    return true;
  }
#endif

  // The first member in [p, end), else end. Without a branch per byte
  // where SSE2 is on: members turn up at unpredictable places, and a byte
  // loop pays for that at every one.
  const char* find(const char* p, const char* const end) const noexcept {
#if VARDELQUIN_SSE2
    while (end - p >= static_cast<std::ptrdiff_t>(block)) {
      if (const unsigned mask = block_mask(p); mask != 0) return p + std::countr_zero(mask);
      p += block;
    }
#endif
    while (p != end && member_[static_cast<unsigned char>(*p)] == 0) ++p;
    return p;
  }

 private:
  std::array<std::uint8_t, 256> member_{};
#if VARDELQUIN_SSE2
  __m128i needles_[N];
#endif
};

}  // namespace vardelquin
