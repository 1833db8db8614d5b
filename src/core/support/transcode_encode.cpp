// Code points to UTF-8, for the text loads reads (see transcode.h): one
// code point at a time, or eight at a time where SSE2 is built, packed by
// SSE2 alone or by the processor's byte shuffles (see transcode_blocks.h).
#include <array>
#include <cstring>

#include "support/transcode.h"
#include "support/transcode_blocks.h"

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

// Code points to UTF-8, the loop that transcoding::run runs.
struct PutUtf8 {
  static char* each(const std::uint32_t* in, std::size_t count, char* out) noexcept {
    return put_each(in, count, out);
  }
  template <class PutMixed>
  static char* blocks(const std::uint32_t* in, std::size_t count, char* out, PutMixed put_mixed) noexcept;
  struct Scatter;
  struct Shuffle;
};

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
char* PutUtf8::blocks(const std::uint32_t* in, std::size_t count, char* out, PutMixed put_mixed) noexcept {
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

// Packs mixed blocks for `blocks` with SSE2 only: every character is
// stored, and the next overwrites what it does not keep.
struct PutUtf8::Scatter {
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

// As Scatter, four characters packed by each shuffle.
struct PutUtf8::Shuffle {
  // `flags` holds the two-byte flags of the eight lanes in bits 0-7 and
  // their three-byte flags in bits 8-15.
  [[gnu::target("ssse3")]] static char* put_packed(__m128i low, __m128i high, unsigned flags,
                                                   char* out) noexcept {
    const Packing& first = packings[(flags & 0x0F) | ((flags >> 4) & 0xF0)];
    const Packing& second = packings[((flags >> 4) & 0x0F) | ((flags >> 8) & 0xF0)];
    transcoding::store_shuffled(out, low, first.shuffle);
    out += first.length;
    transcoding::store_shuffled(out, high, second.shuffle);
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
#endif
#endif

}  // namespace

std::size_t from_code_points(const std::uint32_t* in, std::size_t count, char* out) noexcept {
  return detail::from_code_points(in, count, out, transcoding::has_byte_shuffles);
}

std::size_t detail::from_code_points(const std::uint32_t* in, std::size_t count, char* out,
                                     bool shuffles) noexcept {
  const char* const end = transcoding::run<PutUtf8>(shuffles, in, count, out);
  return end == nullptr ? surrogate_found : static_cast<std::size_t>(end - out);
}

}  // namespace vardelquin::utf8
