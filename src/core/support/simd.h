// The one place that decides which vectorised and word-at-a-time paths are
// compiled in. Code with such a path tests the macros below, never the
// compiler's target macros, so that building with VARDELQUIN_SIMD=0 (the
// CMake option VARDELQUIN_SIMD=OFF) turns every one of them off and the
// portable loops that other targets run get built and tested here too.
// A new vectorised path adds its macro here, defined 0 unless the switch
// is on and the target offers what it needs.
#pragma once

#if !defined(VARDELQUIN_SIMD)
#define VARDELQUIN_SIMD 1
#endif

// Scans that compare 16 bytes at a time with SSE2, which every x86-64
// processor has (MSVC says so by _M_X64 alone: it never defines __SSE2__).
#if VARDELQUIN_SIMD && (defined(__SSE2__) || defined(_M_X64))
#define VARDELQUIN_SSE2 1
#include <emmintrin.h>
#else
#define VARDELQUIN_SSE2 0
#endif

// Byte shuffles (SSSE3) where the processor is found to have them when
// the code runs: the x86-64 baseline is SSE2, so the paths that use them
// keep an SSE2 twin.
#if VARDELQUIN_SSE2 && defined(__x86_64__) && defined(__GNUC__)
#define VARDELQUIN_SSSE3_AT_RUN_TIME 1
#include <tmmintrin.h>
#else
#define VARDELQUIN_SSSE3_AT_RUN_TIME 0
#endif

// Arithmetic on several decimal digits packed into one 64-bit word. It
// needs no instruction set of its own, only the switch.
#if VARDELQUIN_SIMD
#define VARDELQUIN_SWAR 1
#else
#define VARDELQUIN_SWAR 0
#endif
