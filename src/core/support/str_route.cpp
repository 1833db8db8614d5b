#include "support/str_route.h"

#include <algorithm>
#include <cstdint>

#include "support/simd.h"
#include "support/transcode.h"

namespace vardelquin::utf8 {
namespace {

// What [p, end) holds: bytes of multi-byte characters (at or above 0x80),
// of which continuation bytes (10xxxxxx) and lead bytes of four.
struct Mix {
  std::size_t high = 0, continuations = 0, fours = 0;
};
Mix mix_of(const unsigned char* p, const unsigned char* const end) noexcept {
  Mix mix;
#if VARDELQUIN_SSE2
  const __m128i zero = _mm_setzero_si128();
  const auto sum = [&](__m128i counts) {
    alignas(16) std::uint64_t halves[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(halves), _mm_sad_epu8(counts, zero));
    return static_cast<std::size_t>(halves[0] + halves[1]);
  };
  // Counts a byte each, of at most 255 blocks at a time: a true compare is
  // -1, so subtracting it counts one.
  while (end - p >= 16) {
    const auto blocks = std::min<std::size_t>(static_cast<std::size_t>(end - p) / 16, 255);
    __m128i highs = zero, continuations = zero, below_fours = zero;
    for (std::size_t i = 0; i < blocks; ++i, p += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      highs = _mm_sub_epi8(highs, _mm_cmplt_epi8(x, zero));
      continuations =
          _mm_sub_epi8(continuations, _mm_cmpeq_epi8(_mm_and_si128(x, _mm_set1_epi8(static_cast<char>(0xC0))),
                                                     _mm_set1_epi8(static_cast<char>(0x80))));
      below_fours = _mm_sub_epi8(
          below_fours, _mm_cmpeq_epi8(_mm_subs_epu8(x, _mm_set1_epi8(static_cast<char>(0xEF))), zero));
    }
    mix.high += sum(highs);
    mix.continuations += sum(continuations);
    mix.fours += 16 * blocks - sum(below_fours);
  }
#endif
  for (; p != end; ++p) {
    mix.high += *p >> 7;
    mix.continuations += (*p & 0xC0) == 0x80;
    mix.fours += *p >= 0xF0;
  }
  return mix;
}

StrRoute route_of(const Mix& mix, std::size_t size) noexcept {
  if (2 * mix.high < size) return StrRoute::utf8;
  return mix.fours != 0 ? StrRoute::utf32 : StrRoute::utf16;
}

}  // namespace

StrRoute str_route(const char* in, std::size_t size) noexcept {
  const auto* const p = reinterpret_cast<const unsigned char*>(in);
  const std::size_t start = std::min(size, str_route_glance);
  const StrRoute glanced = route_of(mix_of(p, p + start), start);
  if (glanced == StrRoute::utf8 || size == start) return glanced;
  return route_of(mix_of(p, p + size), size);
}

InPlaceLayout in_place_layout(const char* in, std::size_t size) noexcept {
  const auto* const p = reinterpret_cast<const unsigned char*>(in);
  const Mix mix = mix_of(p, p + size);
  const std::size_t characters = size - mix.continuations;
  return {utf16_in_place_offset(size - mix.high), characters + mix.fours, characters, route_of(mix, size)};
}

}  // namespace vardelquin::utf8
