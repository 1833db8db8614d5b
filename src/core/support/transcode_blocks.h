// What the block transcoders of both directions share (transcode_encode.cpp
// and transcode_decode.cpp; private to them): the byte shuffles, found at
// run time, and the one choice of which loop a transcoder runs.
//
// Each transcoder is a Loop: a portable `each` that takes one character at
// a time, and, where SSE2 is built, `blocks`, which takes sixteen bytes or
// eight characters at a time and packs what it keeps with a packer it is
// given: `Scatter`, with SSE2 alone, or `Shuffle`, with the processor's
// byte shuffles where the build can use them (see simd.h).
#pragma once

#include <cstdint>

#include "support/simd.h"

namespace vardelquin::utf8::transcoding {

#if VARDELQUIN_SSSE3_AT_RUN_TIME
inline const bool has_byte_shuffles = __builtin_cpu_supports("ssse3");

// The bytes of `v` that `shuffle` picks, in its order (0x80: a zero): the
// one step every packing takes.
[[gnu::target("ssse3"), gnu::always_inline]] inline __m128i shuffled(
    __m128i v, const std::uint8_t (&shuffle)[16]) noexcept {
  return _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i*>(shuffle)));
}

// Those bytes stored at `out`.
[[gnu::target("ssse3"), gnu::always_inline]] inline void store_shuffled(
    void* out, __m128i v, const std::uint8_t (&shuffle)[16]) noexcept {
  _mm_storeu_si128(static_cast<__m128i*>(out), shuffled(v, shuffle));
}

// The loop with the shuffling packer, flattened so that the shuffles are
// inlined into it, where the target attribute lets them be.
template <class Loop, class... Args>
[[gnu::target("ssse3"), gnu::flatten]] auto shuffled_blocks(Args... args) noexcept {
  return Loop::blocks(args..., typename Loop::Shuffle{});
}
#else
inline constexpr bool has_byte_shuffles = false;
#endif

// Runs Loop on `args` the fastest way the build and the processor offer;
// with `shuffles` false, without the byte shuffles even where the
// processor has them (for tests of both paths).
template <class Loop, class... Args>
[[gnu::always_inline]] inline auto run(bool shuffles, Args... args) noexcept {
#if VARDELQUIN_SSE2
#if VARDELQUIN_SSSE3_AT_RUN_TIME
  if (shuffles && has_byte_shuffles) return shuffled_blocks<Loop>(args...);
#endif
  (void)shuffles;
  return Loop::blocks(args..., typename Loop::Scatter{});
#else
  (void)shuffles;
  return Loop::each(args...);
#endif
}

}  // namespace vardelquin::utf8::transcoding
