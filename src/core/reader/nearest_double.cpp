#include "reader/nearest_double.h"

#include <bit>
#include <limits>

#include "support/wide_multiply.h"

namespace vardelquin {
namespace {

// The writer's table: g(e) = floor(10^e * 2^(127 - floor(log2 10^e))) + 1.
#include "writer/pow10_table.inc"

// 10^e * 2^(127 - L) is an integer, and g(e) - 1 exact, while 5^e fits in
// 128 bits.
constexpr std::int64_t largest_exact_power = 55;
// Beyond 10^308 every mantissa overflows; leave it to the full conversion.
constexpr std::int64_t largest_power = 308;

constexpr int mantissa_bits = 52;
constexpr int exponent_bias = 1023;
constexpr int infinite_exponent = 2047;

}  // namespace

// With w the mantissa shifted up to its top bit and T = g(e) - 1 (the
// power's 128 bits, rounded down), the exact product w * 10^e, scaled by a
// power of two, lies in [w * T, w * T + w), or is w * T where T is exact.
// Its top 54 bits (the double's 53 and a rounding bit) and whether any
// bit below them is set decide the rounding; where adding w could change
// either, nothing is returned.
std::optional<double> nearest_double(std::uint64_t mantissa, std::int64_t power) noexcept {
  if (mantissa == 0) return 0.0;
  if (power < pow10_min_exponent || power > largest_power) return std::nullopt;
  const int zeros = std::countl_zero(mantissa);
  const std::uint64_t w = mantissa << zeros;
  const auto& g = pow10_table[power - pow10_min_exponent];
  // T's words, the borrow of the low word's subtraction taken from the high.
  const std::uint64_t t_high = g[0] - (g[1] == 0);
  const std::uint64_t t_low = g[1] - 1;
  const bool exact = power >= 0 && power <= largest_exact_power;

  // The 192-bit product: high, middle, low words. The upper two are
  // w * t_high plus the high word of w * t_low, which fits in 128 bits.
  const UInt128 lower = multiply_wide(w, t_low);
  const UInt128 upper = multiply_wide(w, t_high, high_word(lower));
  const std::uint64_t low = low_word(lower);
  const std::uint64_t middle = low_word(upper);
  const std::uint64_t high = high_word(upper);

  // high's top bit is bit 63 or 62: keep 54 bits from it.
  const int top = static_cast<int>(high >> 63);
  const int shift = 62 + top - (mantissa_bits + 1);
  const std::uint64_t below_mask = (std::uint64_t{1} << shift) - 1;
  const std::uint64_t kept = high >> shift;
  const bool below_zero = (high & below_mask) == 0 && middle == 0 && low == 0;
  if (!exact) {
    // A carry out of the bits below the rounding bit would change the
    // kept bits; below bits all zero may hide an exact tie.
    const bool may_carry = (high & below_mask) == below_mask && middle == ~std::uint64_t{0} &&
                           low > ~w;  // low + w - 1 overflows, within one
    if (may_carry || ((kept & 1) != 0 && below_zero)) return std::nullopt;
  }
  // x = w * 10^e = high * 2^(L - zeros - 64), L = floor(log2 10^e),
  // whose top bit is 2^(63 + top + L - zeros).
  const std::int64_t log2_power = (power * log2_pow10_multiplier) >> log2_pow10_shift;
  std::int64_t exponent = 63 + top + log2_power - zeros + exponent_bias;
  if (exponent <= 0) return std::nullopt;  // subnormal

  std::uint64_t significand = kept >> 1;
  const bool round_up = (kept & 1) != 0 && (!below_zero || (significand & 1) != 0);
  significand += round_up;
  if (significand >> (mantissa_bits + 1) != 0) {
    significand >>= 1;
    ++exponent;
  }
  if (exponent >= infinite_exponent) return std::numeric_limits<double>::infinity();
  const std::uint64_t fraction = significand & ((std::uint64_t{1} << mantissa_bits) - 1);
  return std::bit_cast<double>((static_cast<std::uint64_t>(exponent) << mantissa_bits) | fraction);
}

}  // namespace vardelquin
