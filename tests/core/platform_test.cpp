// The compiler-specific helpers of src/core/support, checked with each
// compiler the suite builds with (and, cross-built, on each target).
#include <gtest/gtest.h>

#include <cstdint>
#include <type_traits>

#include "support/byte_swap.h"
#include "support/page_read.h"
#include "support/wide_multiply.h"

namespace vardelquin {
namespace {

TEST(ByteSwap, ReversesTheBytes) {
  EXPECT_EQ(byte_swap32(0x01020304u), 0x04030201u);
  EXPECT_EQ(byte_swap32(0xFF000080u), 0x800000FFu);
  EXPECT_EQ(byte_swap64(0x0102030405060708u), 0x0807060504030201u);
  EXPECT_EQ(byte_swap64(0xFF00000000000080u), 0x80000000000000FFu);
}

// The build option must reach the code: a forced portable build that
// still used the compiler's 128-bit integer would test nothing new.
static_assert(!VARDELQUIN_PORTABLE_WIDE_MULTIPLY || std::is_class_v<UInt128>);

TEST(MultiplyWide, GivesBothHalvesAndCarriesTheAddend) {
  constexpr std::uint64_t max = UINT64_MAX;
  struct Case {
    std::uint64_t a, b, addend, high, low;
  };
  const Case cases[] = {
      {0, max, 0, 0, 0},
      {3, 5, 7, 0, 22},
      {max, 2, 0, 1, max - 1},
      {max, max, 0, max - 1, 1},
      {max, max, max, max, 0},       // the largest result: 2^128 - 2^64
      {1ull << 32, 1ull << 32, max, 1, max},
      {max, 1, 1, 1, 0},  // the addend's carry alone makes the high word
      // Products of 32-bit halves: low by low, high by high, crossed, and
      // middle columns that carry into the high word.
      {0xFFFFFFFF, 0xFFFFFFFF, 0, 0, 0xFFFFFFFE00000001},
      {0xFFFFFFFF00000000, 0xFFFFFFFF00000000, 0, 0xFFFFFFFE00000001, 0},
      {0xFFFFFFFF, 0xFFFFFFFF00000000, max, 0xFFFFFFFF, 0xFFFFFFFF},
      {0x8000000080000000, 0x8000000080000000, 0, 0x4000000080000000, 0x4000000000000000},
      {0x9e19db92b4e31ba9, 0x6c07a2c26a8346d2, 0, 0x42b79fdb53a5c568, 0xb773bd8b9d57e6a2},
  };
  for (const Case& c : cases) {
    const UInt128 product = multiply_wide(c.a, c.b, c.addend);
    EXPECT_EQ(high_word(product), c.high) << c.a << " * " << c.b << " + " << c.addend;
    EXPECT_EQ(low_word(product), c.low) << c.a << " * " << c.b << " + " << c.addend;
  }
}

TEST(PageRead, StaysWithinThePage) {
  alignas(4096) static const char page[2 * 4096] = {};
  EXPECT_TRUE(within_one_page(page));
  EXPECT_TRUE(within_one_page(page + 4096 - 16));
  EXPECT_FALSE(within_one_page(page + 4096 - 15));
  EXPECT_FALSE(within_one_page(page + 4096 - 1));
  EXPECT_TRUE(within_one_page(page + 4096));
}

}  // namespace
}  // namespace vardelquin
