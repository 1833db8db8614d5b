// Code points to UTF-8, for the text loads reads: the interpreter hands
// out a str's characters as 32-bit code points cheaply, and its own
// encoder costs about eleven instructions a character, most of a long
// non-ASCII text's reading.
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

namespace detail {
// As from_code_points, with the byte shuffles that the processor may
// offer (see support/simd.h) or without: for tests of both paths.
std::size_t from_code_points(const std::uint32_t* in, std::size_t count, char* out, bool shuffles) noexcept;
}  // namespace detail

}  // namespace vardelquin::utf8
