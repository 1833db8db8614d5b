// The sixteen decimal digits of a number at once, with SSE2 (see
// simd.h): the float writer's significands, in about half the
// instructions of two word-at-a-time conversions of eight, with or
// without a point among them.
#pragma once

#include <cstdint>

#include "support/simd.h"

namespace vardelquin {

#if VARDELQUIN_SSE2
namespace sixteen_digits_detail {

// Each group of four 16-bit lanes holding 4 * x for one x < 10^4 becomes
// x's four digits: the lanes are divided by 1000, 100, 10 and 1 (a high
// product, then a high product by a power of two to finish the shift),
// which leaves x's prefixes of one to four digits, and each prefix less
// ten times the one before it is a digit.
[[gnu::always_inline]] inline __m128i four_digit_lanes(__m128i quadrupled) noexcept {
  const __m128i divisors = _mm_setr_epi16(8389, 5243, 13108, -32768, 8389, 5243, 13108, -32768);
  const __m128i shifts = _mm_setr_epi16(1 << 7, 1 << 11, 1 << 13, -32768, 1 << 7, 1 << 11, 1 << 13, -32768);
  const __m128i prefixes = _mm_mulhi_epu16(_mm_mulhi_epu16(quadrupled, divisors), shifts);
  return _mm_sub_epi16(prefixes, _mm_slli_epi64(_mm_mullo_epi16(prefixes, _mm_set1_epi16(10)), 16));
}

}  // namespace sixteen_digits_detail

// The 16 digits of n < 10^16, zeros in front, as ASCII bytes in order.
// The two halves of eight digits are split into four quarters of four,
// each spread over four 16-bit lanes; both halves go at once.
[[gnu::always_inline]] inline __m128i sixteen_digits(std::uint64_t n) noexcept {
  using sixteen_digits_detail::four_digit_lanes;
  constexpr std::uint64_t e8 = 100000000;
  const __m128i halves = _mm_set_epi64x(static_cast<long long>(n % e8), static_cast<long long>(n / e8));
  // x / 10^4 = x * ceil(2^45 / 10^4) >> 45 for x < 10^8.
  const __m128i high =
      _mm_srli_epi64(_mm_mul_epu32(halves, _mm_set1_epi32(static_cast<int>(0xD1B71759))), 45);
  const __m128i low = _mm_sub_epi32(halves, _mm_mul_epu32(high, _mm_set1_epi32(10000)));
  const __m128i quarters = _mm_or_si128(high, _mm_slli_epi64(low, 32));
  const __m128i quadrupled = _mm_slli_epi16(_mm_packs_epi32(quarters, quarters), 2);
  const __m128i doubled = _mm_unpacklo_epi16(quadrupled, quadrupled);
  const __m128i first = four_digit_lanes(_mm_unpacklo_epi32(doubled, doubled));
  const __m128i second = four_digit_lanes(_mm_unpackhi_epi32(doubled, doubled));
  return _mm_add_epi8(_mm_packus_epi16(first, second), _mm_set1_epi8('0'));
}

// A bit for each of the digits that is not zero (bit i for byte i).
[[gnu::always_inline]] inline unsigned nonzero_digits(__m128i digits) noexcept {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(digits, _mm_set1_epi8('0')))) ^ 0xFFFFu;
}

// Stores the 16 digits of n < 10^16 at `out` and returns
// nonzero_digits() of them.
[[gnu::always_inline]] inline unsigned put_sixteen_digits(char* out, std::uint64_t n) noexcept {
  const __m128i digits = sixteen_digits(n);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), digits);
  return nonzero_digits(digits);
}

// As put_sixteen_digits(), with a point before digit `at` (0 <= at < 16):
// 17 bytes at `out`. The point goes in while the digits are in a
// register; storing them and then reloading the part past the point to
// move it would wait for the store to retire, as a load that straddles
// an earlier store cannot be forwarded from it. Both stores here are
// whole: the digits one place on (of which the last stays), then the
// spelling up to it.
[[gnu::always_inline]] inline unsigned put_sixteen_digits_with_point(char* out, std::uint64_t n,
                                                                     int at) noexcept {
  const __m128i digits = sixteen_digits(n);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 1), digits);
  const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i place = _mm_set1_epi8(static_cast<char>(at));
  const __m128i before = _mm_cmplt_epi8(index, place);
  const __m128i point = _mm_cmpeq_epi8(index, place);
  const __m128i moved = _mm_slli_si128(digits, 1);
  const __m128i kept = _mm_or_si128(_mm_and_si128(before, digits), _mm_and_si128(point, _mm_set1_epi8('.')));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_or_si128(kept, _mm_andnot_si128(_mm_or_si128(before, point), moved)));
  return nonzero_digits(digits);
}
#endif

}  // namespace vardelquin
