// Between the interpreter's fixed-width forms of a str and UTF-8, at
// block speed, for long non-ASCII texts.
//
// Code points to UTF-8, for the text loads reads: the interpreter hands
// out a str's characters as 32-bit code points cheaply, and its own
// encoder costs about eleven instructions a character, most of a long
// non-ASCII text's reading.
//
// UTF-8 to UTF-16 or to code points, for the strs made from such text
// (the text dumps writes, long strings loads reads): the interpreter's
// UTF-16 decoder and wide-character constructor take these for a few
// instructions a character, while its UTF-8 decoder takes ten to twenty
// and branches on every character where scripts mix, which costs more
// time than the instructions say.
//
// One source file per direction: transcode_encode.cpp to UTF-8,
// transcode_decode.cpp from it. Which of these routes a text takes to
// become a str is str_route.h's to say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace vardelquin::utf8 {

// The output room that transcoding `count` code points needs: four bytes
// each at most, and the transcoder may write a few bytes past its last
// character, never past this.
constexpr std::size_t max_bytes(std::size_t count) noexcept { return 4 * count; }

inline constexpr std::size_t surrogate_found = std::numeric_limits<std::size_t>::max();

// Writes the UTF-8 of the code points [in, in + count), each below
// 0x110000, to `out`, which has max_bytes(count) bytes of room, and
// returns the bytes written; or surrogate_found at the first code point
// in D800..DFFF, which UTF-8 cannot hold (the output is then unspecified).
std::size_t from_code_points(const std::uint32_t* in, std::size_t count, char* out) noexcept;

// The room, in UTF-16 code units, that transcoding `size` bytes of UTF-8
// needs: a unit a byte at most (a four-byte character takes two), and
// the block stores may write up to 16 units past the last one kept.
constexpr std::size_t max_utf16_units(std::size_t size) noexcept { return size + 16; }

// Writes the UTF-16 code units, in the machine's byte order, of the
// well-formed UTF-8 text [in, in + size) to `out`, which has
// max_utf16_units(size) units of room, and returns the units written.
// `out` is either apart from the text or as utf16_in_place_offset says.
std::size_t to_utf16(const char* in, std::size_t size, char16_t* out) noexcept;

// Where a UTF-8 text with `ascii` bytes of ASCII must lie in a buffer for
// to_utf16 to write its units over it from the buffer's start. An ASCII
// character puts two bytes of units in the place of one byte; one of two
// or four bytes as many as it takes, one of three bytes two. So at any
// character's start the units written are ahead of the bytes read by at
// most the ASCII bytes read. With the text that far in, and the block
// stores' reach beyond (up to 32 bytes ahead, after reading 16 bytes of
// which the last two are read again), no unit reaches a byte before it is
// read. The buffer then needs room for max(offset + size, 2 * units + 32)
// bytes: little more than the text itself, where a room of its own would
// take as much again.
constexpr std::size_t utf16_in_place_offset(std::size_t ascii) noexcept {
  constexpr std::size_t stored_ahead = 32, margin = 16;
  return (ascii + stored_ahead + margin + 15) & ~std::size_t{15};
}

namespace detail {
std::size_t to_utf32(const char* in, std::size_t size, unsigned char* out, bool shuffles) noexcept;
}  // namespace detail

// Writes the code points of the well-formed UTF-8 text [in, in + size) to
// `out`, four bytes each in the machine's byte order, and returns how
// many. `Unit` is any four-byte type (the platform's wchar_t where it is
// four bytes, for the interpreter's wide-character constructor, which
// takes them for a few instructions each); `out` has room for `size`
// units, or for the text's characters and 16 more. With `shuffles` false
// the byte shuffles are not used even where the processor has them: for
// tests of both paths.
template <class Unit>
std::size_t to_utf32(const char* in, std::size_t size, Unit* out, bool shuffles = true) noexcept {
  static_assert(sizeof(Unit) == 4, "a code point takes four bytes");
  // Written as bytes, which may be stored into units of any type.
  return detail::to_utf32(in, size, reinterpret_cast<unsigned char*>(out), shuffles);
}

namespace detail {
// As to_utf16, with the byte shuffles or without: for tests of both paths.
std::size_t to_utf16(const char* in, std::size_t size, char16_t* out, bool shuffles) noexcept;

// As from_code_points, with the byte shuffles that the processor may
// offer (see support/simd.h) or without: for tests of both paths.
std::size_t from_code_points(const std::uint32_t* in, std::size_t count, char* out, bool shuffles) noexcept;
}  // namespace detail

}  // namespace vardelquin::utf8
