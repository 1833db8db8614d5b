// A 16-byte read that may run past the end of the object it starts in,
// for scans of short texts that would rather test one block than loop
// byte by byte. Memory is mapped a page at a time, so a read that stays
// within the page holding its first byte cannot fault, whatever lies past
// the text. The read itself is compiler-specific; the MSVC branch is not
// compiled by the test suite, which has GCC and clang only.
#pragma once

#include <cstdint>

#include "support/simd.h"

namespace vardelquin {

// Pages are 4 KiB on every x86-64 system the project builds for.
inline constexpr std::uintptr_t smallest_page = 4096;

// Whether the 16 bytes from p lie within the page that holds p.
inline bool within_one_page(const char* p) noexcept {
  return reinterpret_cast<std::uintptr_t>(p) % smallest_page <= smallest_page - 16;
}

#if VARDELQUIN_SSE2

// The 16 bytes at p, for a p within_one_page. The read is an instruction of
// its own, not an access to a C++ object, since it may reach past p's
// object; neither the compiler nor an address checker then takes it for
// an overrun.
#if defined(__GNUC__) || defined(__clang__)
inline __m128i load_16_within_page(const char* p) noexcept {
  __m128i chunk;
  asm("movdqu (%1), %0" : "=x"(chunk) : "r"(p) : "memory");
  return chunk;
}
#elif defined(_MSC_VER)
// MSVC has no inline assembly on x64. Its optimiser does not reason about
// object bounds through the intrinsic; its address checker would, and is
// kept out of this one function.
__declspec(no_sanitize_address) inline __m128i load_16_within_page(const char* p) noexcept {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#else
#error "page_read.h: no unchecked 16-byte read for this compiler"
#endif
#endif

}  // namespace vardelquin
