// The full 128-bit product of two 64-bit numbers, which C++20 has no type
// for. GCC and clang have one, unsigned __int128, on 64-bit targets; MSVC
// has an intrinsic for the product's high half (on x64 and ARM64 alike),
// and a pair of words stands in for the type. The MSVC branch is not
// compiled by the test suite, which has GCC and clang only; it is kept to
// the intrinsic's documented use.
#pragma once

#include <cstdint>

#if !defined(__SIZEOF_INT128__) && defined(_MSC_VER)
#include <intrin.h>  // __umulh
#endif

namespace vardelquin {

#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 UInt128;

inline std::uint64_t high_word(UInt128 v) noexcept { return static_cast<std::uint64_t>(v >> 64); }
inline std::uint64_t low_word(UInt128 v) noexcept { return static_cast<std::uint64_t>(v); }

// a * b + addend, which always fits in 128 bits.
inline UInt128 multiply_wide(std::uint64_t a, std::uint64_t b, std::uint64_t addend = 0) noexcept {
  return UInt128{a} * b + addend;
}
#elif defined(_MSC_VER)
struct UInt128 {
  std::uint64_t high;
  std::uint64_t low;
};

inline std::uint64_t high_word(UInt128 v) noexcept { return v.high; }
inline std::uint64_t low_word(UInt128 v) noexcept { return v.low; }

inline UInt128 multiply_wide(std::uint64_t a, std::uint64_t b, std::uint64_t addend = 0) noexcept {
  const std::uint64_t low = a * b + addend;
  return {__umulh(a, b) + (low < addend), low};
}
#else
#error "wide_multiply.h: no 64 x 64 -> 128-bit multiplication for this compiler or target"
#endif

}  // namespace vardelquin
