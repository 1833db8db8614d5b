// The full 128-bit product of two 64-bit numbers, which C++20 has no type
// for. One interface, UInt128 with high_word(), low_word() and
// multiply_wide(), has three shapes behind it:
//  - GCC and clang on 64-bit targets: their unsigned __int128;
//  - MSVC on x64 and ARM64: a pair of words, multiplied by the intrinsics
//    (_umul128 gives both halves on x64, __umulh the high half on ARM64);
//  - any other compiler or target: the same pair of words, its product put
//    together from 32-bit halves in standard C++.
// Defining VARDELQUIN_PORTABLE_WIDE_MULTIPLY=1 (the CMake option of that
// name) forces the last shape, so that GCC and clang build and test the
// pair of words that MSVC uses (tools/test_core.sh --wide=portable). The
// intrinsics themselves cannot be compiled here; they are kept to their
// documented use. Every shape gives the same words for the same operands.
#pragma once

#include <cstdint>

#if !defined(VARDELQUIN_PORTABLE_WIDE_MULTIPLY)
#define VARDELQUIN_PORTABLE_WIDE_MULTIPLY 0
#endif

#if !VARDELQUIN_PORTABLE_WIDE_MULTIPLY && defined(__SIZEOF_INT128__)
#define VARDELQUIN_WIDE_MULTIPLY_INT128 1
#elif !VARDELQUIN_PORTABLE_WIDE_MULTIPLY && defined(_MSC_VER) && defined(_M_X64)
#define VARDELQUIN_WIDE_MULTIPLY_UMUL128 1
#include <intrin.h>  // _umul128
#elif !VARDELQUIN_PORTABLE_WIDE_MULTIPLY && defined(_MSC_VER) && defined(_M_ARM64)
#define VARDELQUIN_WIDE_MULTIPLY_UMULH 1
#include <intrin.h>  // __umulh
#endif

namespace vardelquin {

#if defined(VARDELQUIN_WIDE_MULTIPLY_INT128)
__extension__ typedef unsigned __int128 UInt128;

inline std::uint64_t high_word(UInt128 v) noexcept { return static_cast<std::uint64_t>(v >> 64); }
inline std::uint64_t low_word(UInt128 v) noexcept { return static_cast<std::uint64_t>(v); }

// a * b + addend, which always fits in 128 bits.
inline UInt128 multiply_wide(std::uint64_t a, std::uint64_t b, std::uint64_t addend = 0) noexcept {
  return UInt128{a} * b + addend;
}
#else
struct UInt128 {
  std::uint64_t high;
  std::uint64_t low;
};

inline std::uint64_t high_word(UInt128 v) noexcept { return v.high; }
inline std::uint64_t low_word(UInt128 v) noexcept { return v.low; }

namespace wide_multiply_detail {

inline UInt128 product(std::uint64_t a, std::uint64_t b) noexcept {
#if defined(VARDELQUIN_WIDE_MULTIPLY_UMUL128)
  std::uint64_t high;
  const std::uint64_t low = _umul128(a, b, &high);
  return {high, low};
#elif defined(VARDELQUIN_WIDE_MULTIPLY_UMULH)
  return {__umulh(a, b), a * b};
#else
  // Four 32 x 32-bit products, each exact in 64 bits. The sum of the
  // middle column is at most (2^32 - 1)^2 + 2 (2^32 - 1) = 2^64 - 1, so it
  // cannot overflow either.
  constexpr std::uint64_t half = 0xFFFF'FFFF;
  const std::uint64_t a_low = a & half, a_high = a >> 32;
  const std::uint64_t b_low = b & half, b_high = b >> 32;
  const std::uint64_t low_low = a_low * b_low;
  const std::uint64_t high_low = a_high * b_low;
  const std::uint64_t low_high = a_low * b_high;
  const std::uint64_t middle = (low_low >> 32) + (high_low & half) + low_high;
  return {a_high * b_high + (high_low >> 32) + (middle >> 32), (middle << 32) | (low_low & half)};
#endif
}

}  // namespace wide_multiply_detail

// a * b + addend, which always fits in 128 bits: at most 2^128 - 2^64, so
// the addend's carry into the high word never overflows it.
inline UInt128 multiply_wide(std::uint64_t a, std::uint64_t b, std::uint64_t addend = 0) noexcept {
  UInt128 result = wide_multiply_detail::product(a, b);
  result.low += addend;
  result.high += result.low < addend;
  return result;
}
#endif

}  // namespace vardelquin
