// Sixteen bytes of text held in one vector register: the loads, stores
// and copies of the scans that test a block against several byte sets
// (ByteSet::chunk_mask) before they keep it, named here so that the
// intrinsics stay in this folder. Built where SSE2 is (see simd.h).
#pragma once

#include "support/simd.h"

namespace vardelquin {

#if VARDELQUIN_SSE2
using ByteBlock = __m128i;

// The 16 bytes at `p`, which must all be readable.
[[gnu::always_inline]] inline ByteBlock load_block(const char* p) noexcept {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// `block` stored at `out`, which has room for 16 bytes.
[[gnu::always_inline]] inline void store_block(char* out, ByteBlock block) noexcept {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
}

// The 16 bytes at `from` stored at `to`, through a register: the two may
// overlap.
[[gnu::always_inline]] inline void copy_block(char* to, const char* from) noexcept {
  store_block(to, load_block(from));
}
#endif

}  // namespace vardelquin
