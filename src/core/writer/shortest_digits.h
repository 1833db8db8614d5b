// The shortest decimal digits that read back as a given double.
//
// Shortest round-trip digits after Raffaello Giulietti, "The Schubfach way to
// render doubles" (2020).
//
// A finite positive double is v = c * 2^q with an integer c < 2^53. The reals
// that read back as v form its rounding interval R, bounded halfway to the
// neighbouring doubles. Any decimal in R spells v; we want the one with the
// fewest digits and, among those, the one nearest to v. Let 10^k be the
// largest power of ten no wider than R. Then R holds at least one multiple
// of 10^k and at most one multiple of 10^(k+1), and the answer is either
// that multiple of 10^(k+1) or one of the two multiples of 10^k around v.
// Deciding which takes only comparisons of R's bounds, scaled by 10^-k, with
// a few even integers; a 128-bit approximation of 10^-k does those scalings
// exactly enough, as tools/gen_pow10_table.py proves.
//
// The routine is defined here so that the writer, its one hot caller,
// has it inlined.
#pragma once

#include <bit>
#include <cstdint>

#include "support/wide_multiply.h"

namespace vardelquin {

// The decimal significand * 10^exponent.
struct DecimalDigits {
  std::uint64_t significand;
  int exponent;

  friend bool operator==(const DecimalDigits&, const DecimalDigits&) = default;
};

// For a finite nonzero value: the decimal with the fewest significant digits
// that reads back as |value| under round-to-nearest-even; among several with
// that many digits, the one nearest to |value|, and of two equally near
// ones, the one whose last digit is even. The sign is ignored. Its
// significand has at most 17 digits and no trailing zeros (they move into
// the exponent), so each decimal has exactly one representation. Zero, the
// infinities and NaN give {0, 0}.
DecimalDigits shortest_digits(double value);

namespace shortest_digits_detail {

#include "writer/pow10_table.inc"

// floor(log10(2^q)), floor(log10(3/4 * 2^q)) and floor(log2(10^e)), exact
// over the doubles' exponents (the generator checks each formula). Right
// shifts of negative values round down in C++20.
inline int floor_log10_pow2(int q) { return (q * log10_pow2_multiplier) >> log10_pow2_shift; }

inline int floor_log10_three_quarters_pow2(int q) {
  return (q * log10_three_quarters_pow2_multiplier + log10_three_quarters_pow2_addend) >>
         log10_three_quarters_pow2_shift;
}

inline int floor_log2_pow10(int e) { return (e * log2_pow10_multiplier) >> log2_pow10_shift; }

// For x = cp * g / 2^128 with g over-approximating the exact scale factor by
// at most one unit, so that x exceeds the exact product x* by at most
// cp / 2^128: floor(x*) if x* is an integer, otherwise floor(x*) with its
// lowest bit set. Either way the result compares with every even integer as
// x* does. This relies on x* being an integer or further than cp / 2^128
// from every integer, which the table's generator proves.
inline std::uint64_t scale(const std::uint64_t (&g)[2], std::uint64_t cp) {
  const UInt128 low = multiply_wide(g[1], cp);
  const UInt128 high = multiply_wide(g[0], cp, high_word(low));  // below 2^124
  const std::uint64_t integer = high_word(high);
  // The fraction, in units of 2^-128, is high's low word then low's.
  const bool inexact = low_word(high) != 0 || low_word(low) > cp;
  return integer | static_cast<std::uint64_t>(inexact);
}

}  // namespace shortest_digits_detail

// The same decimal, but with its significand padded with zeros to exactly
// 17 digits (the exponent being that much less): the writer stores 17
// digits whatever their count and finds the last that is not zero among
// them, so neither the count nor the trailing zeros are searched for here.
// Only for a finite nonzero value: the writer has told those apart already.
[[gnu::always_inline]] inline DecimalDigits shortest_digits_padded(double value) {
  using namespace shortest_digits_detail;
  constexpr std::uint64_t hidden_bit = std::uint64_t{1} << 52;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value) & ~(std::uint64_t{1} << 63);
  const std::uint64_t fraction = bits & (hidden_bit - 1);
  const auto biased_exponent = static_cast<int>(bits >> 52);
  const std::uint64_t c = biased_exponent != 0 ? fraction | hidden_bit : fraction;
  const int q = (biased_exponent != 0 ? biased_exponent : 1) - 1075;

  // R's bounds are (c - 1/2) 2^q and (c + 1/2) 2^q, except at a power of two
  // above the least exponent, whose lower neighbour is twice as near:
  // there the lower bound is (c - 1/4) 2^q. Reading rounds ties to the even
  // significand, so the bounds belong to R when c is even.
  const bool regular = fraction != 0 || biased_exponent <= 1;
  const std::uint64_t open = c & 1;
  // R is 2^q wide, or 3/4 * 2^q at a power of two.
  const int k = regular ? floor_log10_pow2(q) : floor_log10_three_quarters_pow2(q);

  // With cp = 4 * (bound / 2^q) << h, scale() gives 4 * bound / 10^k; h is
  // 1 to 4 and cp below 2^60. s = floor(v / 10^k), at least 1.
  const int h = q + floor_log2_pow10(-k) + 1;
  const auto& g = pow10_table[-k - pow10_min_exponent];
  const std::uint64_t cb = c << 2;
  const std::uint64_t vb = scale(g, cb << h);
  const std::uint64_t vb_lower = scale(g, (cb - (regular ? std::uint64_t{2} : std::uint64_t{1})) << h);
  const std::uint64_t vb_upper = scale(g, (cb + 2) << h);
  const std::uint64_t s = vb >> 2;

  // The multiples of 10^(k+1) around v, if one of them is in R: it is the
  // only one, and every other decimal in R is longer, unless it is 10^(k+1)
  // itself, where 9 * 10^k may be as short and nearer. That takes s < 10,
  // which only the two least subnormals have; every candidate below has a
  // single digit there.
  const std::uint64_t s10 = s / 10;
  const bool lower10_in = vb_lower + open <= 40 * s10;
  const bool upper10_in = 40 * s10 + 40 + open <= vb_upper;
  const bool shorter = (lower10_in != upper10_in) & (s >= 10);

  // Otherwise the multiples of 10^k: all in R are equally long, so the
  // nearest in R of s * 10^k and (s + 1) * 10^k, the even one on a tie. At
  // least one is in R.
  const bool lower_in = vb_lower + open <= 4 * s;
  const bool upper_in = 4 * s + 4 + open <= vb_upper;
  const std::uint64_t midpoint = 4 * s + 2;
  const bool upper_nearer = vb > midpoint || (vb == midpoint && (s & 1) != 0);
  const bool upper = (!lower_in) | (upper_in & upper_nearer);

  // Both ways are computed and one is selected without a branch: for
  // values of 16 or 17 digits either is as likely. Both are taken as
  // multiples of 10^k, which for a normal value have 16 or 17 digits: s is
  // at least c (at least 4/3 c at a power of two), and below 10c.
  const std::uint64_t select = 0 - static_cast<std::uint64_t>(shorter);
  std::uint64_t significand = ((10 * (s10 + !lower10_in)) & select) | ((s + upper) & ~select);
  int exponent = k;
  constexpr std::uint64_t e16 = 10'000'000'000'000'000;
  const bool sixteen_digits = significand < e16;
  significand = sixteen_digits ? significand * 10 : significand;
  exponent -= sixteen_digits;
  // A subnormal value's may be shorter.
  for (; significand < e16; --exponent) significand *= 10;
  return {significand, exponent};
}

}  // namespace vardelquin
