#include "support/transcode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "support/simd.h"
#include "support/utf8.h"

namespace vardelquin::utf8 {
namespace {

constexpr bool is_surrogate(std::uint32_t c) noexcept { return (c & 0xFFFFF800u) == 0xD800u; }

// One code point at `out`; returns the byte after it, or null at a surrogate.
[[gnu::always_inline]] inline char* put(std::uint32_t c, char* out) noexcept {
  if (c < 0x80) {
    *out = static_cast<char>(c);
    return out + 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return out + 2;
  }
  if (c < 0x10000) {
    if (is_surrogate(c)) [[unlikely]]
      return nullptr;
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return out + 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return out + 4;
}

char* put_each(const std::uint32_t* in, std::size_t count, char* out) noexcept {
  for (std::size_t i = 0; i < count && out != nullptr; ++i) out = put(in[i], out);
  return out;
}

#if VARDELQUIN_SSSE3_AT_RUN_TIME
// How to pack four 32-bit lanes of one to three bytes each (the lead
// byte lowest) into consecutive bytes: by the lanes' two-byte flags (bits
// 0-3) and three-byte flags (bits 4-7), the shuffle and the bytes kept.
struct Packing {
  alignas(16) std::uint8_t shuffle[16];
  std::uint8_t length;
};
constexpr auto packings = [] {
  std::array<Packing, 256> table{};
  for (unsigned index = 0; index < 256; ++index) {
    Packing& packing = table[index];
    std::uint8_t at = 0;
    for (unsigned lane = 0; lane < 4; ++lane) {
      const unsigned length = 1 + ((index >> lane) & 1) + ((index >> (lane + 4)) & 1);
      for (unsigned byte = 0; byte < length; ++byte)
        packing.shuffle[at++] = static_cast<std::uint8_t>(4 * lane + byte);
    }
    packing.length = at;
    for (; at < 16; ++at) packing.shuffle[at] = 0x80;  // zero
  }
  return table;
}();

// The bytes of `v` that `shuffle` picks, in its order (0x80: a zero): the
// one step every packing below takes.
[[gnu::target("ssse3"), gnu::always_inline]] inline __m128i shuffled(
    __m128i v, const std::uint8_t (&shuffle)[16]) noexcept {
  return _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i*>(shuffle)));
}

// Those bytes stored at `out`.
[[gnu::target("ssse3"), gnu::always_inline]] inline void store_shuffled(
    void* out, __m128i v, const std::uint8_t (&shuffle)[16]) noexcept {
  _mm_storeu_si128(static_cast<__m128i*>(out), shuffled(v, shuffle));
}

const bool has_byte_shuffles = __builtin_cpu_supports("ssse3");
#else
constexpr bool has_byte_shuffles = false;
#endif

#if VARDELQUIN_SSE2
// Eight code points at a time where all eight are in the Basic
// Multilingual Plane: all ASCII, all of two bytes (Greek, Cyrillic,
// Arabic...), of one or two bytes (Latin with diacritics; the others
// with their spaces and punctuation), or of one to three (Asian scripts).
// A block with a character beyond goes one code point at a time. Null at
// a surrogate. SSE2 targets are little-endian, so a lane's bytes are in
// memory order from its lowest.
//
// Where a block mixes lengths, its characters are packed by a PutMixed:
// put_two(bytes, two, out) for eight characters of one or two bytes
// (their bytes, the lead lowest, in 16-bit lanes; `two` set in the lanes
// of two), put_three(low, high, two, three, out) for eight of up to three
// (their bytes in the 32-bit lanes of `low` and `high`; `two` and `three`
// set in the lanes of two bytes or more and of three). Each returns the
// byte after them.
template <class PutMixed>
char* put_blocks(const std::uint32_t* in, std::size_t count, char* out, PutMixed put_mixed) noexcept {
  const __m128i plane_end = _mm_set1_epi32(0xFFFF);
  const __m128i bias32 = _mm_set1_epi32(0x8000), bias16 = _mm_set1_epi16(static_cast<short>(0x8000));
  // Unsigned 16-bit comparisons, as signed ones of the values minus 0x8000.
  const __m128i above_one_byte = _mm_set1_epi16(0x7F - 0x8000),
                above_two_bytes = _mm_set1_epi16(0x7FF - 0x8000);
  const __m128i low6 = _mm_set1_epi16(0x3F), continuation = _mm_set1_epi16(0x80);
  std::size_t i = 0;
  while (count - i >= 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 4));
    if (_mm_movemask_epi8(_mm_or_si128(_mm_cmpgt_epi32(a, plane_end), _mm_cmpgt_epi32(b, plane_end))) != 0) {
      out = put_each(in + i, 8, out);
      if (out == nullptr) return nullptr;
      i += 8;
      continue;
    }
    // Eight 16-bit code points, packed with signed saturation from their
    // values minus 0x8000, which all fit.
    const __m128i biased = _mm_packs_epi32(_mm_sub_epi32(a, bias32), _mm_sub_epi32(b, bias32));
    const __m128i w = _mm_xor_si128(biased, bias16);
    const __m128i two = _mm_cmpgt_epi16(biased, above_one_byte);     // two bytes or more
    const __m128i three = _mm_cmpgt_epi16(biased, above_two_bytes);  // three bytes
    const unsigned two_mask = static_cast<unsigned>(_mm_movemask_epi8(two));
    i += 8;
    if (two_mask == 0) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(w, w));
      out += 8;
      continue;
    }
    // The last byte of every character beyond ASCII: 10xxxxxx.
    const __m128i last = _mm_or_si128(_mm_and_si128(w, low6), continuation);
    if (_mm_movemask_epi8(three) == 0) {
      // 110xxxxx then the last byte, or the ASCII byte alone.
      const __m128i lead = _mm_or_si128(_mm_srli_epi16(w, 6), _mm_set1_epi16(0xC0));
      const __m128i pairs = _mm_or_si128(lead, _mm_slli_epi16(last, 8));
      if (two_mask == 0xFFFF) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pairs);
        out += 16;
        continue;
      }
      out = put_mixed.put_two(_mm_or_si128(_mm_and_si128(two, pairs), _mm_andnot_si128(two, w)), two, out);
      continue;
    }
    const __m128i surrogate = _mm_cmpeq_epi16(_mm_and_si128(w, _mm_set1_epi16(static_cast<short>(0xF800))),
                                              _mm_set1_epi16(static_cast<short>(0xD800)));
    if (_mm_movemask_epi8(surrogate) != 0) return nullptr;
    // Up to three bytes a lane, as a 32-bit word: the lead byte
    // (1110xxxx, 110xxxxx or ASCII), the middle one of three, the last.
    const __m128i lead =
        _mm_or_si128(_mm_or_si128(_mm_andnot_si128(two, w),
                                  _mm_and_si128(_mm_andnot_si128(three, two),
                                                _mm_or_si128(_mm_srli_epi16(w, 6), _mm_set1_epi16(0xC0)))),
                     _mm_and_si128(three, _mm_or_si128(_mm_srli_epi16(w, 12), _mm_set1_epi16(0xE0))));
    const __m128i middle = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(w, 6), low6), continuation);
    // The byte after the lead: the middle one of three, the last of two.
    const __m128i second =
        _mm_and_si128(two, _mm_or_si128(_mm_and_si128(three, middle), _mm_andnot_si128(three, last)));
    const __m128i third = _mm_and_si128(three, last);
    const __m128i front = _mm_or_si128(lead, _mm_slli_epi16(second, 8));
    out = put_mixed.put_three(_mm_unpacklo_epi16(front, third), _mm_unpackhi_epi16(front, third), two, three,
                              out);
  }
  return put_each(in + i, count - i, out);
}

// Packs mixed blocks for put_blocks with SSE2 only: every character is
// stored, and the next overwrites what it does not keep.
struct ScatterMixed {
  static char* put_two(__m128i pairs, __m128i two, char* out) noexcept {
    alignas(16) std::uint16_t words[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(words), pairs);
    const auto two_mask = static_cast<unsigned>(_mm_movemask_epi8(two));
    for (int k = 0; k < 8; ++k) {
      std::memcpy(out, &words[k], 2);
      out += 1 + ((two_mask >> (2 * k)) & 1);
    }
    return out;
  }
  static char* put_three(__m128i low, __m128i high, __m128i two, __m128i three, char* out) noexcept {
    alignas(16) std::uint32_t words[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(words), low);
    _mm_store_si128(reinterpret_cast<__m128i*>(words + 4), high);
    alignas(16) std::uint16_t lengths[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(lengths),
                    _mm_sub_epi16(_mm_sub_epi16(_mm_set1_epi16(1), two), three));
    for (int k = 0; k < 8; ++k) {
      std::memcpy(out, &words[k], 4);
      out += lengths[k];
    }
    return out;
  }
};

#if VARDELQUIN_SSSE3_AT_RUN_TIME
// As ScatterMixed, four characters packed by each shuffle.
struct ShuffleMixed {
  // `flags` holds the two-byte flags of the eight lanes in bits 0-7 and
  // their three-byte flags in bits 8-15.
  [[gnu::target("ssse3")]] static char* put_packed(__m128i low, __m128i high, unsigned flags,
                                                   char* out) noexcept {
    const Packing& first = packings[(flags & 0x0F) | ((flags >> 4) & 0xF0)];
    const Packing& second = packings[((flags >> 4) & 0x0F) | ((flags >> 8) & 0xF0)];
    store_shuffled(out, low, first.shuffle);
    out += first.length;
    store_shuffled(out, high, second.shuffle);
    return out + second.length;
  }
  [[gnu::target("ssse3")]] static char* put_two(__m128i pairs, __m128i two, char* out) noexcept {
    const __m128i zero = _mm_setzero_si128();
    return put_packed(_mm_unpacklo_epi16(pairs, zero), _mm_unpackhi_epi16(pairs, zero),
                      static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(two, zero))), out);
  }
  [[gnu::target("ssse3")]] static char* put_three(__m128i low, __m128i high, __m128i two, __m128i three,
                                                  char* out) noexcept {
    return put_packed(low, high, static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(two, three))), out);
  }
};

// Flattened, so that the shuffles are inlined here, where they may be.
[[gnu::target("ssse3"), gnu::flatten]] char* put_blocks_shuffled(const std::uint32_t* in, std::size_t count,
                                                                 char* out) noexcept {
  return put_blocks(in, count, out, ShuffleMixed{});
}
#endif
#endif

// --- UTF-8 to UTF-16 ---------------------------------------------------------

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

#if VARDELQUIN_SSE2
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

#endif

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
struct ScatterUnits {
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

#if VARDELQUIN_SSSE3_AT_RUN_TIME
// As ScatterUnits, each half packed by one shuffle.
struct ShuffleUnits {
  [[gnu::target("ssse3")]] char16_t* operator()(__m128i low, __m128i high, unsigned keep, unsigned,
                                                char16_t* out) const noexcept {
    const LanePacking& first = lane_packings[keep & 0xFF];
    const LanePacking& second = lane_packings[keep >> 8];
    store_shuffled(out, low, first.shuffle);
    out += first.count;
    store_shuffled(out, high, second.shuffle);
    return out + second.count;
  }
};
#endif

// Sixteen bytes at a time: an ASCII block widened whole; a block of one-
// to three-byte characters decoded in every lane at once, the lanes of
// lead bytes then kept; a block with a four-byte character one character
// at a time. A character whose lead is one of the block's last two bytes
// may go on past it, so it starts the next block instead. SSE2 targets
// are little-endian, as the units are stored.
template <class PutKept>
char16_t* put_unit_blocks(const unsigned char* in, const unsigned char* const end, char16_t* out,
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

#if VARDELQUIN_SSSE3_AT_RUN_TIME
// Flattened, so that the shuffles are inlined here, where they may be.
[[gnu::target("ssse3"), gnu::flatten]] char16_t* put_unit_blocks_shuffled(const unsigned char* in,
                                                                          const unsigned char* const end,
                                                                          char16_t* out) noexcept {
  return put_unit_blocks(in, end, out, ShuffleUnits{});
}
#endif
#endif

// --- UTF-8 to UTF-32 ---------------------------------------------------------

unsigned char* take_code_points(const unsigned char* in, const unsigned char* end,
                                unsigned char* out) noexcept {
  while (in < end) {
    const char32_t c = take_code_point(in);
    std::memcpy(out, &c, 4);
    out += 4;
  }
  return out;
}

#if VARDELQUIN_SSE2
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
struct ScatterKept {
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

#if VARDELQUIN_SSSE3_AT_RUN_TIME
constexpr auto wide_lane_packings = lane_packings_of<4>();

// As ScatterKept, a vector of kept lanes at a time. The 16-bit lanes are
// packed before they are widened: two shuffles where the 32-bit ones take
// four.
struct ShuffleKept {
  [[gnu::target("ssse3")]] unsigned char* operator()(const __m128i (&lanes)[4], unsigned keep, unsigned,
                                                     unsigned char* out) const noexcept {
    for (int k = 0; k < 4; ++k, keep >>= 4) {
      const LanePacking& packing = wide_lane_packings[keep & 0xF];
      store_shuffled(out, lanes[k], packing.shuffle);
      out += 4 * packing.count;
    }
    return out;
  }
  [[gnu::target("ssse3")]] unsigned char* operator()(__m128i low, __m128i high, unsigned keep, unsigned,
                                                     unsigned char* out) const noexcept {
    const __m128i zero = _mm_setzero_si128();
    for (const auto& [half, bits] : {std::pair{low, keep & 0xFF}, std::pair{high, keep >> 8}}) {
      const LanePacking& packing = lane_packings[bits];
      const __m128i packed = shuffled(half, packing.shuffle);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(packed, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(packed, zero));
      out += 4 * packing.count;
    }
    return out;
  }
};
#endif

// Sixteen bytes at a time, as put_unit_blocks, with characters of four
// bytes too: one whose lead is one of the block's last three bytes may go
// on past it, so it starts the next block instead.
template <class PutKept>
unsigned char* put_code_point_blocks(const unsigned char* in, const unsigned char* const end,
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
// Flattened, so that the shuffles are inlined here, where they may be.
[[gnu::target("ssse3"), gnu::flatten]] unsigned char* put_code_point_blocks_shuffled(
    const unsigned char* in, const unsigned char* const end, unsigned char* out) noexcept {
  return put_code_point_blocks(in, end, out, ShuffleKept{});
}
#endif
#endif

}  // namespace

std::size_t from_code_points(const std::uint32_t* in, std::size_t count, char* out) noexcept {
  return detail::from_code_points(in, count, out, has_byte_shuffles);
}

std::size_t detail::from_code_points(const std::uint32_t* in, std::size_t count, char* out,
                                     [[maybe_unused]] bool shuffles) noexcept {
#if VARDELQUIN_SSE2
#if VARDELQUIN_SSSE3_AT_RUN_TIME
  const char* end = shuffles && has_byte_shuffles ? put_blocks_shuffled(in, count, out)
                                                  : put_blocks(in, count, out, ScatterMixed{});
#else
  const char* end = put_blocks(in, count, out, ScatterMixed{});
#endif
#else
  const char* end = put_each(in, count, out);
#endif
  return end == nullptr ? surrogate_found : static_cast<std::size_t>(end - out);
}

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

// An ASCII character puts two bytes of units in the place of one byte; one
// of two or four bytes as many as it takes, one of three bytes two. So at
// any character's start the units written are ahead of the bytes read by
// at most the ASCII bytes read. With the text that far in, the block
// stores (up to 32 bytes ahead, after reading 16 bytes of which the last
// two are read again) never reach a byte before it is read.
InPlaceLayout in_place_layout(const char* in, std::size_t size) noexcept {
  const auto* const p = reinterpret_cast<const unsigned char*>(in);
  const Mix mix = mix_of(p, p + size);
  constexpr std::size_t stored_ahead = 32, margin = 16;
  const std::size_t offset = (size - mix.high + stored_ahead + margin + 15) & ~std::size_t{15};
  const std::size_t characters = size - mix.continuations;
  return {offset, characters + mix.fours, characters, route_of(mix, size)};
}

std::size_t to_utf16(const char* in, std::size_t size, char16_t* out) noexcept {
  return detail::to_utf16(in, size, out, has_byte_shuffles);
}

std::size_t detail::to_utf16(const char* in, std::size_t size, char16_t* out,
                             [[maybe_unused]] bool shuffles) noexcept {
  const auto* const bytes = reinterpret_cast<const unsigned char*>(in);
#if VARDELQUIN_SSE2
#if VARDELQUIN_SSSE3_AT_RUN_TIME
  if (shuffles && has_byte_shuffles)
    return static_cast<std::size_t>(put_unit_blocks_shuffled(bytes, bytes + size, out) - out);
#endif
  const char16_t* const end = put_unit_blocks(bytes, bytes + size, out, ScatterUnits{});
#else
  const char16_t* const end = take_each(bytes, bytes + size, out);
#endif
  return static_cast<std::size_t>(end - out);
}

std::size_t detail::to_utf32(const char* in, std::size_t size, unsigned char* out,
                             [[maybe_unused]] bool shuffles) noexcept {
  const auto* const bytes = reinterpret_cast<const unsigned char*>(in);
#if VARDELQUIN_SSE2
#if VARDELQUIN_SSSE3_AT_RUN_TIME
  if (shuffles && has_byte_shuffles)
    return static_cast<std::size_t>(put_code_point_blocks_shuffled(bytes, bytes + size, out) - out) / 4;
#endif
  const unsigned char* const end = put_code_point_blocks(bytes, bytes + size, out, ScatterKept{});
#else
  const unsigned char* const end = take_code_points(bytes, bytes + size, out);
#endif
  return static_cast<std::size_t>(end - out) / 4;
}

}  // namespace vardelquin::utf8
