// Byte order reversal of fixed-size words: the one compiler-specific piece
// of the byte-order code. C++23's std::byteswap would serve everywhere,
// but the project is C++20, so each compiler's intrinsic stands in for it.
// The MSVC branch is not compiled by the test suite, which has GCC and
// clang only; it is kept to the intrinsics' documented names.
#pragma once

#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#include <stdlib.h>  // _byteswap_ulong, _byteswap_uint64
#endif

namespace vardelquin {

inline std::uint32_t byte_swap32(std::uint32_t v) noexcept {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_bswap32(v);
#elif defined(_MSC_VER)
  return _byteswap_ulong(v);  // unsigned long is 32 bits on Windows
#else
#error "byte_swap.h: no byte swap for this compiler"
#endif
}

inline std::uint64_t byte_swap64(std::uint64_t v) noexcept {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_bswap64(v);
#elif defined(_MSC_VER)
  return _byteswap_uint64(v);
#else
#error "byte_swap.h: no byte swap for this compiler"
#endif
}

}  // namespace vardelquin
