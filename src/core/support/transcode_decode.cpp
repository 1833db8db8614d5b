// UTF-8 to UTF-16 and to code points, for the strs made from long texts
// (see transcode.h): one character at a time, or sixteen bytes at a time
// where SSE2 is built, decoded in every lane at once and the lanes of lead
// bytes kept, by SSE2 alone or by the processor's byte shuffles (see
// transcode_blocks.h).
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "support/transcode.h"
#include "support/transcode_blocks.h"
#include "support/utf8.h"

namespace vardelquin::utf8 {
namespace {

// --- One character at a time -------------------------------------------------

// One character of well-formed UTF-8 at `in`, as one unit at `out`, or
// two (a surrogate pair) beyond the Basic Multilingual Plane.
[[gnu::always_inline]] inline void take(const unsigned char*& in, char16_t*& out) noexcept {
  const char32_t c = take_code_point(in);
  if (c < 0x10000) {
    *out++ = static_cast<char16_t>(c);
    return;
  }
  out[0] = static_cast<char16_t>(0xD800 | ((c - 0x10000) >> 10));
  out[1] = static_cast<char16_t>(0xDC00 | (c & 0x3FF));
  out += 2;
}

char16_t* take_each(const unsigned char* in, const unsigned char* end, char16_t* out) noexcept {
  while (in < end) take(in, out);
  return out;
}

// Each character as its code point, four bytes in the machine's order.
unsigned char* take_code_points(const unsigned char* in, const unsigned char* end,
                                unsigned char* out) noexcept {
  while (in < end) {
    const char32_t c = take_code_point(in);
    std::memcpy(out, &c, 4);
    out += 4;
  }
  return out;
}

// UTF-8 to UTF-16 and UTF-8 to code points (four bytes each, in the
// machine's byte order), the loops that transcoding::run runs: each from
// [in, end) to `out`, returning the end of what it wrote.
struct PutUtf16 {
  static char16_t* each(const unsigned char* in, const unsigned char* end, char16_t* out) noexcept {
    return take_each(in, end, out);
  }
  template <class PutKept>
  static char16_t* blocks(const unsigned char* in, const unsigned char* end, char16_t* out,
                          PutKept put_kept) noexcept;
  struct Scatter;
  struct Shuffle;
};
struct PutCodePoints {
  static unsigned char* each(const unsigned char* in, const unsigned char* end, unsigned char* out) noexcept {
    return take_code_points(in, end, out);
  }
  template <class PutKept>
  static unsigned char* blocks(const unsigned char* in, const unsigned char* end, unsigned char* out,
                               PutKept put_kept) noexcept;
  struct Scatter;
  struct Shuffle;
};

// --- Sixteen bytes at a time ------------------------------------------------

#if VARDELQUIN_SSE2
// What a block of 16 bytes takes: the bytes up to the first lead byte
// among the `late` places (whose character may go on past the block, so
// it starts the next one instead), and the bits of the lead bytes among
// them, whose lanes are kept.
struct TakenLeads {
  unsigned taken;
  unsigned keep;
};
inline TakenLeads leads_taken(__m128i x, unsigned late) noexcept {
  const __m128i continuation = _mm_cmpeq_epi8(_mm_and_si128(x, _mm_set1_epi8(static_cast<char>(0xC0))),
                                              _mm_set1_epi8(static_cast<char>(0x80)));
  const unsigned leads = ~static_cast<unsigned>(_mm_movemask_epi8(continuation)) & 0xFFFF;
  const unsigned late_leads = leads & late;
  const unsigned taken = late_leads != 0 ? static_cast<unsigned>(std::countr_zero(late_leads)) : 16;
  return {taken, leads & ((1u << taken) - 1)};
}

// Sixteen 16-bit lanes, one a byte of the block `x`, in `low` (bytes 0-7)
// and `high` (8-15): the unit of the character whose lead byte that byte
// is, were it one, from the two bytes after it. The units' low and high
// bytes are made a whole block at a time, then interleaved. SSE2 has no
// byte shifts: 16-bit ones, then a mask, do for them. Lanes of
// continuation bytes hold what is not kept.
inline void units_of_leads(__m128i x, __m128i& low, __m128i& high) noexcept {
  const auto bytes = [](int c) { return _mm_set1_epi8(static_cast<char>(c)); };
  const __m128i b1 = _mm_srli_si128(x, 1), b2 = _mm_srli_si128(x, 2);
  // 110aaaaa 10bbbbbb: aaa, aabbbbbb. 1110aaaa 10bbbbbb 10cccccc: aaaabbbb, bbcccccc.
  const __m128i two = _mm_cmpeq_epi8(_mm_and_si128(x, bytes(0xC0)), bytes(0xC0));  // or three
  const __m128i three = _mm_cmpeq_epi8(_mm_and_si128(x, bytes(0xF0)), bytes(0xE0));
  const __m128i low_of_two =
      _mm_or_si128(_mm_and_si128(_mm_slli_epi16(x, 6), bytes(0xC0)), _mm_and_si128(b1, bytes(0x3F)));
  const __m128i low_of_three =
      _mm_or_si128(_mm_and_si128(_mm_slli_epi16(b1, 6), bytes(0xC0)), _mm_and_si128(b2, bytes(0x3F)));
  const __m128i high_of_two = _mm_and_si128(_mm_srli_epi16(x, 2), bytes(0x07));
  const __m128i high_of_three = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(x, 4), bytes(0xF0)),
                                             _mm_and_si128(_mm_srli_epi16(b1, 2), bytes(0x0F)));
  const __m128i low_bytes = _mm_or_si128(
      _mm_and_si128(three, low_of_three),
      _mm_andnot_si128(three, _mm_or_si128(_mm_and_si128(two, low_of_two), _mm_andnot_si128(two, x))));
  const __m128i high_bytes = _mm_or_si128(_mm_and_si128(three, high_of_three),
                                          _mm_andnot_si128(three, _mm_and_si128(two, high_of_two)));
  low = _mm_unpacklo_epi8(low_bytes, high_bytes);
  high = _mm_unpackhi_epi8(low_bytes, high_bytes);
}

// Stores the kept units of a block, the lanes of `low` and then of `high`
// whose bits of `keep` (0-7 and 8-15) are set, one after another; returns
// the unit after them. This twin needs SSE2 only: every lane is stored,
// and the next overwrites it unless it is kept.
struct PutUtf16::Scatter {
  char16_t* operator()(__m128i low, __m128i high, unsigned keep, unsigned taken,
                       char16_t* out) const noexcept {
    alignas(16) std::uint16_t lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), low);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 8), high);
    for (unsigned i = 0; i < taken; ++i) {
      *out = static_cast<char16_t>(lanes[i]);
      out += (keep >> i) & 1;
    }
    return out;
  }
};

// Sixteen bytes at a time: an ASCII block widened whole; a block of one-
// to three-byte characters decoded in every lane at once, the lanes of
// lead bytes then kept; a block with a four-byte character one character
// at a time. A character whose lead is one of the block's last two bytes
// may go on past it, so it starts the next block instead. SSE2 targets
// are little-endian, as the units are stored.
template <class PutKept>
char16_t* PutUtf16::blocks(const unsigned char* in, const unsigned char* const end, char16_t* out,
                           PutKept put_kept) noexcept {
  const __m128i zero = _mm_setzero_si128();
  while (end - in >= 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    if (_mm_movemask_epi8(x) == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(x, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(x, zero));
      in += 16;
      out += 16;
      continue;
    }
    // Any byte above 0xEF leads four bytes.
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(x, _mm_set1_epi8(static_cast<char>(0xEF))), zero)) !=
        0xFFFF) {
      const unsigned char* const stop = in + 16;
      while (in < stop) take(in, out);
      continue;
    }
    const auto [taken, keep] = leads_taken(x, 0xC000);
    __m128i low, high;
    units_of_leads(x, low, high);
    in += taken;
    out = put_kept(low, high, keep, taken, out);
  }
  return take_each(in, end, out);
}

// The code point of the character whose lead byte each byte of the block
// `x` is, were it one, from the three bytes after it, as four 32-bit
// lanes in each of `lanes` (bytes 0-3, 4-7, 8-11, 12-15). Made as three
// byte planes (bits 0-7, 8-15, 16-20) a whole block at a time, then
// interleaved; as in units_of_leads, 16-bit shifts and a mask do for the
// byte shifts SSE2 lacks.
inline void code_points_of_leads(__m128i x, __m128i (&lanes)[4]) noexcept {
  const auto bytes = [](int c) { return _mm_set1_epi8(static_cast<char>(c)); };
  const auto shifted_up = [&](__m128i v, int by, int keep) {
    return _mm_and_si128(_mm_slli_epi16(v, by), bytes(keep));
  };
  const auto shifted_down = [&](__m128i v, int by, int keep) {
    return _mm_and_si128(_mm_srli_epi16(v, by), bytes(keep));
  };
  const auto pick = [](__m128i mask, __m128i chosen, __m128i other) {
    return _mm_or_si128(_mm_and_si128(mask, chosen), _mm_andnot_si128(mask, other));
  };
  const __m128i b1 = _mm_srli_si128(x, 1), b2 = _mm_srli_si128(x, 2), b3 = _mm_srli_si128(x, 3);
  const __m128i two = _mm_cmpeq_epi8(_mm_and_si128(x, bytes(0xC0)), bytes(0xC0));  // or more
  const __m128i three = _mm_cmpeq_epi8(_mm_and_si128(x, bytes(0xF0)), bytes(0xE0));
  const __m128i four = _mm_cmpeq_epi8(_mm_and_si128(x, bytes(0xF8)), bytes(0xF0));
  const __m128i last1 = _mm_and_si128(b1, bytes(0x3F)), last2 = _mm_and_si128(b2, bytes(0x3F)),
                last3 = _mm_and_si128(b3, bytes(0x3F));
  __m128i plane0 = pick(two, _mm_or_si128(shifted_up(x, 6, 0xC0), last1), x);
  plane0 = pick(three, _mm_or_si128(shifted_up(b1, 6, 0xC0), last2), plane0);
  plane0 = pick(four, _mm_or_si128(shifted_up(b2, 6, 0xC0), last3), plane0);
  __m128i plane1 = _mm_and_si128(two, shifted_down(x, 2, 0x07));
  plane1 = pick(three, _mm_or_si128(shifted_up(x, 4, 0xF0), shifted_down(b1, 2, 0x0F)), plane1);
  plane1 = pick(four, _mm_or_si128(shifted_up(b1, 4, 0xF0), shifted_down(b2, 2, 0x0F)), plane1);
  const __m128i plane2 = _mm_and_si128(four, _mm_or_si128(shifted_up(x, 2, 0x1C), shifted_down(b1, 4, 0x03)));
  const __m128i zero = _mm_setzero_si128();
  const __m128i low_first = _mm_unpacklo_epi8(plane0, plane1), low_second = _mm_unpackhi_epi8(plane0, plane1);
  const __m128i high_first = _mm_unpacklo_epi8(plane2, zero), high_second = _mm_unpackhi_epi8(plane2, zero);
  lanes[0] = _mm_unpacklo_epi16(low_first, high_first);
  lanes[1] = _mm_unpackhi_epi16(low_first, high_first);
  lanes[2] = _mm_unpacklo_epi16(low_second, high_second);
  lanes[3] = _mm_unpackhi_epi16(low_second, high_second);
}

// The sixteen 16-bit lanes `low` and `high` widened to 32 bits.
inline void widened(__m128i low, __m128i high, __m128i (&lanes)[4]) noexcept {
  const __m128i zero = _mm_setzero_si128();
  lanes[0] = _mm_unpacklo_epi16(low, zero);
  lanes[1] = _mm_unpackhi_epi16(low, zero);
  lanes[2] = _mm_unpacklo_epi16(high, zero);
  lanes[3] = _mm_unpackhi_epi16(high, zero);
}

// Stores the kept code points of a block, the lanes whose bits of `keep`
// are set, one after another; returns the byte after them. Where a block
// has no character beyond the Basic Multilingual Plane they come as
// sixteen 16-bit lanes, else as 32-bit ones. This twin needs SSE2 only:
// every lane is stored, and the next overwrites it unless it is kept.
struct PutCodePoints::Scatter {
  static unsigned char* put(const __m128i (&lanes)[4], unsigned keep, unsigned taken,
                            unsigned char* out) noexcept {
    alignas(16) unsigned char points[64];
    for (int k = 0; k < 4; ++k) _mm_store_si128(reinterpret_cast<__m128i*>(points + 16 * k), lanes[k]);
    for (unsigned i = 0; i < taken; ++i) {
      std::memcpy(out, points + 4 * i, 4);
      out += 4 * ((keep >> i) & 1);
    }
    return out;
  }
  unsigned char* operator()(const __m128i (&lanes)[4], unsigned keep, unsigned taken,
                            unsigned char* out) const noexcept {
    return put(lanes, keep, taken, out);
  }
  unsigned char* operator()(__m128i low, __m128i high, unsigned keep, unsigned taken,
                            unsigned char* out) const noexcept {
    __m128i lanes[4];
    widened(low, high, lanes);
    return put(lanes, keep, taken, out);
  }
};

// Sixteen bytes at a time, as PutUtf16::blocks, with characters of four
// bytes too: one whose lead is one of the block's last three bytes may go
// on past it, so it starts the next block instead.
template <class PutKept>
unsigned char* PutCodePoints::blocks(const unsigned char* in, const unsigned char* const end,
                                     unsigned char* out, PutKept put_kept) noexcept {
  const __m128i zero = _mm_setzero_si128();
  while (end - in >= 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    if (_mm_movemask_epi8(x) == 0) {
      const __m128i first = _mm_unpacklo_epi8(x, zero), second = _mm_unpackhi_epi8(x, zero);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(first, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(first, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_unpacklo_epi16(second, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm_unpackhi_epi16(second, zero));
      in += 16;
      out += 64;
      continue;
    }
    const auto [taken, keep] = leads_taken(x, 0xE000);
    in += taken;
    // Most blocks hold no character beyond the Basic Multilingual Plane
    // even where others do: their code points are its units.
    const __m128i four = _mm_cmpeq_epi8(_mm_and_si128(x, _mm_set1_epi8(static_cast<char>(0xF8))),
                                        _mm_set1_epi8(static_cast<char>(0xF0)));
    if (_mm_movemask_epi8(four) == 0) {
      __m128i low, high;
      units_of_leads(x, low, high);
      out = put_kept(low, high, keep, taken, out);
    } else {
      __m128i lanes[4];
      code_points_of_leads(x, lanes);
      out = put_kept(lanes, keep, taken, out);
    }
  }
  return take_code_points(in, end, out);
}

#if VARDELQUIN_SSSE3_AT_RUN_TIME
// How to move the kept ones of a vector's lanes of `width` bytes to the
// front, by the kept lanes' bits: the shuffle and how many they are.
struct LanePacking {
  alignas(16) std::uint8_t shuffle[16];
  std::uint8_t count;
};
template <unsigned width>
constexpr auto lane_packings_of() {
  constexpr unsigned lanes = 16 / width;
  std::array<LanePacking, std::size_t{1} << lanes> table{};
  for (unsigned index = 0; index < table.size(); ++index) {
    LanePacking& packing = table[index];
    std::uint8_t at = 0;
    for (unsigned lane = 0; lane < lanes; ++lane) {
      if (((index >> lane) & 1) == 0) continue;
      for (unsigned byte = 0; byte < width; ++byte)
        packing.shuffle[width * at + byte] = static_cast<std::uint8_t>(width * lane + byte);
      ++at;
    }
    packing.count = at;
    for (unsigned byte = width * at; byte < 16; ++byte) packing.shuffle[byte] = 0x80;  // zero
  }
  return table;
}
constexpr auto lane_packings = lane_packings_of<2>();
constexpr auto wide_lane_packings = lane_packings_of<4>();

// As Scatter, each half packed by one shuffle.
struct PutUtf16::Shuffle {
  [[gnu::target("ssse3")]] char16_t* operator()(__m128i low, __m128i high, unsigned keep, unsigned,
                                                char16_t* out) const noexcept {
    const LanePacking& first = lane_packings[keep & 0xFF];
    const LanePacking& second = lane_packings[keep >> 8];
    transcoding::store_shuffled(out, low, first.shuffle);
    out += first.count;
    transcoding::store_shuffled(out, high, second.shuffle);
    return out + second.count;
  }
};

// As Scatter, a vector of kept lanes at a time. The 16-bit lanes are
// packed before they are widened: two shuffles where the 32-bit ones take
// four.
struct PutCodePoints::Shuffle {
  [[gnu::target("ssse3")]] unsigned char* operator()(const __m128i (&lanes)[4], unsigned keep, unsigned,
                                                     unsigned char* out) const noexcept {
    for (int k = 0; k < 4; ++k, keep >>= 4) {
      const LanePacking& packing = wide_lane_packings[keep & 0xF];
      transcoding::store_shuffled(out, lanes[k], packing.shuffle);
      out += 4 * packing.count;
    }
    return out;
  }
  [[gnu::target("ssse3")]] unsigned char* operator()(__m128i low, __m128i high, unsigned keep, unsigned,
                                                     unsigned char* out) const noexcept {
    const __m128i zero = _mm_setzero_si128();
    for (const auto& [half, bits] : {std::pair{low, keep & 0xFF}, std::pair{high, keep >> 8}}) {
      const LanePacking& packing = lane_packings[bits];
      const __m128i packed = transcoding::shuffled(half, packing.shuffle);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(packed, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(packed, zero));
      out += 4 * packing.count;
    }
    return out;
  }
};
#endif
#endif

}  // namespace

std::size_t to_utf16(const char* in, std::size_t size, char16_t* out) noexcept {
  return detail::to_utf16(in, size, out, transcoding::has_byte_shuffles);
}

std::size_t detail::to_utf16(const char* in, std::size_t size, char16_t* out, bool shuffles) noexcept {
  const auto* const bytes = reinterpret_cast<const unsigned char*>(in);
  const char16_t* const end = transcoding::run<PutUtf16>(shuffles, bytes, bytes + size, out);
  return static_cast<std::size_t>(end - out);
}

std::size_t detail::to_utf32(const char* in, std::size_t size, unsigned char* out, bool shuffles) noexcept {
  const auto* const bytes = reinterpret_cast<const unsigned char*>(in);
  const unsigned char* const end = transcoding::run<PutCodePoints>(shuffles, bytes, bytes + size, out);
  return static_cast<std::size_t>(end - out) / 4;
}

}  // namespace vardelquin::utf8
