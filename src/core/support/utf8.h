// UTF-8 helpers for text that is known to be well formed: it comes from the
// interpreter's strict encoder or from this code base's own writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vardelquin::utf8 {

// Length of the sequence that starts with `lead`; 1 for ASCII and for a
// stray continuation byte, so that a scan always advances.
constexpr std::size_t sequence_length(unsigned char lead) noexcept {
  if (lead < 0xC0) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

struct Decoded {
  char32_t code_point;
  std::size_t length;
};

// Decodes the sequence at the start of `text`, which must not be empty.
// A sequence cut short by the end of the text decodes from the bytes there.
constexpr Decoded decode(std::string_view text) noexcept {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = sequence_length(lead);
  if (length > text.size()) length = text.size();
  if (length == 1) return {lead, 1};
  char32_t cp = lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) {
    cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3Fu);
  }
  return {cp, length};
}

// Whether every byte is below 0x80, eight at a time. Byte order does not
// matter to a test of every byte's top bit.
inline bool is_ascii(std::string_view text) noexcept {
  constexpr std::uint64_t top_bits = 0x8080808080808080u;
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t seen = 0;
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    seen |= word;
  }
  for (; n > 0; ++p, --n) seen |= static_cast<unsigned char>(*p);
  return (seen & top_bits) == 0;
}

// The number of characters: of bytes that do not continue a sequence
// (10xxxxxx), eight at a time. A byte's bit 6, shifted up one, lands on its
// own bit 7, so neither byte order nor the bits shifted across bytes
// matter under the mask. Each byte of a word then counts its own
// continuations, with no population count (a library call on the x86-64
// baseline), and the counts are added up before any can pass 255.
inline std::size_t count_characters(std::string_view text) noexcept {
  constexpr std::uint64_t top_bits = 0x8080808080808080u;
  constexpr std::uint64_t low_bytes = 0x00FF00FF00FF00FFu;
  constexpr std::size_t most_words = 255;
  const char* p = text.data();
  std::size_t n = text.size();
  std::size_t continuations = 0;
  while (n >= 8) {
    const std::size_t words = n / 8 < most_words ? n / 8 : most_words;
    std::uint64_t counts = 0;  // eight of them, a byte each
    for (const char* const stop = p + 8 * words; p != stop; p += 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      counts += (word & ~(word << 1) & top_bits) >> 7;
    }
    n -= 8 * words;
    // Into four 16-bit counts of at most 510; the multiply adds them up
    // into the top 16 bits.
    const std::uint64_t pairs = (counts & low_bytes) + (counts >> 8 & low_bytes);
    continuations += static_cast<std::size_t>(pairs * 0x0001000100010001u >> 48);
  }
  for (; n > 0; ++p, --n) continuations += (static_cast<unsigned char>(*p) & 0xC0) == 0x80;
  return text.size() - continuations;
}

// Whether any character takes four bytes (lead byte 11110xxx): whether a
// str of these characters needs four bytes a character.
inline bool has_four_byte_characters(std::string_view text) noexcept {
  constexpr std::uint64_t top_bits = 0x8080808080808080u;
  const char* p = text.data();
  std::size_t n = text.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    // Bit 7 of each byte ends up set only where its bits 7 to 4 all are.
    if ((word & (word << 1) & (word << 2) & (word << 3) & top_bits) != 0) return true;
  }
  for (; n > 0; ++p, --n) {
    if ((static_cast<unsigned char>(*p) & 0xF0) == 0xF0) return true;
  }
  return false;
}

// The character of well-formed UTF-8 (no sequence cut short) at `p`,
// which moves past it.
[[gnu::always_inline]] inline char32_t take_code_point(const unsigned char*& p) noexcept {
  const char32_t lead = p[0];
  char32_t cp;
  if (lead < 0x80) {
    cp = lead;
    p += 1;
  } else if (lead < 0xE0) {
    cp = (lead & 0x1Fu) << 6 | (p[1] & 0x3Fu);
    p += 2;
  } else if (lead < 0xF0) {
    cp = (lead & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
    p += 3;
  } else {
    cp = (lead & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu);
    p += 4;
  }
  return cp;
}

// The code points of `text` and what they add up to.
struct Widened {
  std::size_t count;
  // The bitwise OR of every code point: below 0x100 exactly when every
  // character is Latin-1, below 0x10000 when every one is in the BMP.
  char32_t bits;
};

// Writes the code points of `text` (well formed, no sequence cut short) to
// `out`, which has room for text.size() of them. `Unit` is any four-byte
// integer type (the platform's wchar_t where it is four bytes). Runs of
// ASCII go eight bytes at a time, as most non-ASCII strings are mostly
// ASCII.
template <class Unit>
Widened to_code_points(std::string_view text, Unit* out) noexcept {
  static_assert(sizeof(Unit) == 4, "a code point takes four bytes");
  constexpr std::uint64_t top_bits = 0x8080808080808080u;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = p + text.size();
  Unit* o = out;
  char32_t bits = 0;
  while (p != end) {
    const char32_t lead = *p;
    if (lead < 0x80) {
      for (; end - p >= 8; p += 8, o += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if ((word & top_bits) != 0) break;
        for (int i = 0; i < 8; ++i) o[i] = static_cast<Unit>(p[i]);
      }
      for (; p != end && *p < 0x80; ++p) *o++ = static_cast<Unit>(*p);
      continue;
    }
    const char32_t cp = take_code_point(p);
    bits |= cp;
    *o++ = static_cast<Unit>(cp);
  }
  return {static_cast<std::size_t>(o - out), bits};
}

inline void append(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

inline std::string encode(char32_t cp) {
  std::string out;
  append(out, cp);
  return out;
}

}  // namespace vardelquin::utf8
