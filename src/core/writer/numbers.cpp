#include "writer/numbers.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "support/byte_swap.h"
#include "support/simd.h"
#include "support/sixteen_digits.h"
#include "writer/shortest_digits.h"

namespace vardelquin {
namespace {

// Decimal digits of `value` ending at `end`, two at a time from a table;
// returns where they start. Integers are the most common scalar, and this
// beats the general conversion by skipping its digit-count search.
char* write_digits_backwards(char* end, std::uint64_t value) noexcept {
  static constexpr char pairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  while (value >= 100) {
    const auto pair = static_cast<std::size_t>(value % 100) * 2;
    value /= 100;
    end -= 2;
    std::memcpy(end, pairs + pair, 2);
  }
  if (value >= 10) {
    end -= 2;
    std::memcpy(end, pairs + value * 2, 2);
  } else {
    *--end = static_cast<char>('0' + value);
  }
  return end;
}

// 10^i for i up to 19, the most that fits 64 bits.
constexpr std::uint64_t e8 = 100000000;
constexpr std::uint64_t e16 = e8 * e8;
constexpr std::uint64_t powers_of_ten[20] = {
    1,   10,       100,       1000,      10000,      100000,      1000000,      10000000,
    e8,  10 * e8,  100 * e8,  1000 * e8, 10000 * e8, 100000 * e8, 1000000 * e8, 10000000 * e8,
    e16, 10 * e16, 100 * e16, 1000 * e16};

// The number of decimal digits of `value`, 1 for zero: bit_width * log10(2),
// rounded down, is the count or one less.
int digit_count(std::uint64_t value) noexcept {
  value |= 1;  // as many digits, unless zero
  const int bound = static_cast<int>(std::bit_width(value)) * 1233 >> 12;
  return bound + (value >= powers_of_ten[bound]);
}

#if VARDELQUIN_SWAR
std::uint64_t eight_digits(std::uint64_t n) noexcept;
void store_eight_digits(char* out, std::uint64_t digits) noexcept;

// The digits of n < 10^8 at `out`, from five on stored as a word of eight
// with the leading zeros shifted out; returns their end.
char* put_up_to_eight_digits(char* out, std::uint64_t n) noexcept {
  const int count = digit_count(n);
  if (n < 10000) {
    write_digits_backwards(out + count, n);
  } else {
    store_eight_digits(out, eight_digits(n) >> (8 * (8 - count)));
  }
  return out + count;
}
#endif

// Writes the digits of `value` at `out`, which has room for 20; returns
// their end. Counting them first lets them go straight to their place,
// with no copy of variable length (a call into the C library); from five
// digits on they go in words of eight, which beats two at a time.
char* write_digits(char* out, std::uint64_t value) noexcept {
#if VARDELQUIN_SWAR
  if (value < e8) return put_up_to_eight_digits(out, value);
  if (value < e16) {
    out = put_up_to_eight_digits(out, value / e8);
  } else {
    out = put_up_to_eight_digits(out, value / e16);
    store_eight_digits(out, eight_digits(value / e8 % e8));
    out += 8;
  }
  store_eight_digits(out, eight_digits(value % e8));
  return out + 8;
#else
  char* const end = out + digit_count(value);
  write_digits_backwards(end, value);
  return end;
#endif
}

// A sign and the 19 digits of the largest magnitude, 2^63.
constexpr std::size_t integer_room = 20;

// The spelling at `out`, which has integer_room bytes; returns its end.
[[gnu::always_inline]] inline char* integer_at(char* out, std::int64_t value) noexcept {
  auto magnitude = static_cast<std::uint64_t>(value);
  if (value < 0) {
    *out++ = '-';
    // Negating as unsigned is defined for the most negative value too.
    magnitude = 0 - magnitude;
  }
  return write_digits(out, magnitude);
}

// The largest finite double has 309 integer digits; a sign and ".0" follow.
constexpr std::size_t integral_float_room = 312;

// A finite value without a fractional part: its exact decimal integer, then
// ".0", at `first`, which has integral_float_room bytes; returns the end.
// The sign comes from the sign bit so that -0.0 keeps its "-".
char* integral_float_at(char* first, double value) {
  constexpr double two_to_64 = 18446744073709551616.0;
  constexpr std::size_t longest = integral_float_room;
  char* last;
  const double magnitude = std::fabs(value);
  if (magnitude < two_to_64) {
    // Every integral double below 2^64 is exactly a 64-bit unsigned value,
    // and integer formatting is far cheaper than the general path.
    char* digits = first;
    if (std::signbit(value)) *digits++ = '-';
    last = write_digits(digits, static_cast<std::uint64_t>(magnitude));
  } else {
    last = std::to_chars(first, first + longest, value, std::chars_format::fixed, 0).ptr;
  }
  *last++ = '.';
  *last++ = '0';
  return last;
}

#if VARDELQUIN_SWAR
// The eight digits of n < 10^8 as ASCII bytes in one word, the leading digit
// in the lowest byte: n is split into 4, then 2, then 1 digit lanes, the
// leading digits in the low lanes, and every per-lane product stays within
// its lane.
std::uint64_t eight_digits(std::uint64_t n) noexcept {
  std::uint64_t lanes = (n / 10000) | (n % 10000) << 32;
  std::uint64_t high = (lanes * 5243) >> 19 & 0x0000007F0000007F;  // x / 100 for x < 10^4
  lanes = high | (lanes - 100 * high) << 16;
  high = (lanes * 103) >> 10 & 0x000F000F000F000F;  // x / 10 for x < 100
  return (high | (lanes - 10 * high) << 8) | 0x3030303030303030;
}

// Stores the word's bytes lowest first, whatever the byte order: a copy of
// the word itself on little-endian targets, reversed on big-endian ones.
void store_eight_digits(char* out, std::uint64_t digits) noexcept {
  if constexpr (std::endian::native == std::endian::big) digits = byte_swap64(digits);
  std::memcpy(out, &digits, 8);
}
#endif

// A significand of `count` digits (at most 17) scaled up to 17, the first
// of them not zero: its leading digit and the 16 after it. Every
// significand then takes the same stores, with no measuring of where its
// digits start.
struct ScaledSignificand {
  std::uint64_t leading;
  std::uint64_t rest;
};

[[gnu::always_inline]] inline ScaledSignificand scale_significand(std::uint64_t significand,
                                                                  int count) noexcept {
  const std::uint64_t scaled = significand * powers_of_ten[17 - count];
  const std::uint64_t leading = scaled / e16;
  return {leading, scaled - leading * e16};
}

// The `count` digits of `significand` (which has that many, at most 17)
// from `out` on; 17 bytes there may be written. Returns how many of them
// there are up to the last that is not zero.
[[gnu::always_inline]] inline int put_significand(char* out, std::uint64_t significand, int count) noexcept {
#if VARDELQUIN_SWAR
  const ScaledSignificand digits = scale_significand(significand, count);
  out[0] = static_cast<char>('0' + digits.leading);
#if VARDELQUIN_SSE2
  // A bit for each digit after the leading one that is not zero (the
  // mask has 16 bits); the leading one never is. A bit set below them
  // keeps bit_width's argument nonzero, which spares it a test.
  const unsigned nonzero = put_sixteen_digits(out + 1, digits.rest);
  return static_cast<int>(std::bit_width(nonzero * 2 + 1));
#else
  store_eight_digits(out + 1, eight_digits(digits.rest / e8));
  store_eight_digits(out + 9, eight_digits(digits.rest % e8));
  return count;
#endif
#else
  write_digits_backwards(out + count, significand);
  return count;
#endif
}

#if VARDELQUIN_SWAR && !VARDELQUIN_SSE2
// `word` (eight digits, the first in the lowest byte) with a point at
// byte k < 8: the bytes below it kept, those above it taken from `moved`
// (the digits one place on).
std::uint64_t with_point(std::uint64_t word, std::uint64_t moved, int k) noexcept {
  const std::uint64_t below = (std::uint64_t{1} << (8 * k)) - 1;
  return (word & below) | std::uint64_t{'.'} << (8 * k) | (moved & ~below << 8);
}
#endif

// As put_significand(), with a point after the first `point` digits
// (1 <= point <= 16, fewer than the digits up to the last that is not
// zero): 18 bytes from `out` on may be written. The point goes in while
// the digits are in registers: moving those past it once stored would
// reload them straight after the stores, and a load that straddles
// earlier stores waits for them to retire.
[[gnu::always_inline]] inline int put_significand_with_point(char* out, std::uint64_t significand, int count,
                                                             int point) noexcept {
#if VARDELQUIN_SWAR
  const ScaledSignificand digits = scale_significand(significand, count);
  out[0] = static_cast<char>('0' + digits.leading);
#if VARDELQUIN_SSE2
  const unsigned nonzero = put_sixteen_digits_with_point(out + 1, digits.rest, point - 1);
  return static_cast<int>(std::bit_width(nonzero * 2 + 1));
#else
  // The 16 digits after the leading one as two words; the point at byte
  // k of them, and those from k on one byte further, the last of them
  // spilling into a byte of its own.
  const std::uint64_t first = eight_digits(digits.rest / e8);
  const std::uint64_t second = eight_digits(digits.rest % e8);
  const std::uint64_t second_moved = second << 8 | first >> 56;
  const int k = point - 1;
  if (k < 8) {
    store_eight_digits(out + 1, with_point(first, first << 8, k));
    store_eight_digits(out + 9, second_moved);
  } else {
    store_eight_digits(out + 1, first);
    store_eight_digits(out + 9, with_point(second, second_moved, k - 8));
  }
  out[17] = static_cast<char>(second >> 56);
  return count;
#endif
#else
  const auto integer_digits = static_cast<std::size_t>(point);
  write_digits_backwards(out + 1 + count, significand);
  std::memmove(out, out + 1, integer_digits);
  out[integer_digits] = '.';
  return count;
#endif
}

// A finite value with a fractional part: the shortest digits that read back
// to the same double, laid out positionally. Such a value is below 2^52 in
// magnitude. Its digits end past the point: the value is no integer, and
// neither is any decimal reading back as it, all being within half a unit
// in the last place. So there are at most 16 digits before the point and
// 16 after it, or else the value is below 1: "0.", up to 323 zeros, and
// digits ending at most 324 places after the point (the least subnormal,
// 5 * 10^-324, ends there).
// A sign, "0.", and 323 zeros before the 17 bytes put_significand() may
// write; the spelling itself is shorter.
constexpr std::size_t fractional_float_room = 1 + 2 + 323 + 17;

// The spelling at `out`, which has fractional_float_room bytes; returns
// its end.
[[gnu::always_inline]] inline char* fractional_float_at(char* out, double value) {
  *out = '-';
  out += std::signbit(value);
#if VARDELQUIN_SSE2
  // put_significand() finds where the digits end.
  const DecimalDigits decimal = shortest_digits_padded(value);
  constexpr int count = 17;
#else
  const DecimalDigits decimal = shortest_digits(value);
  const int count = digit_count(decimal.significand);
#endif
  const int integer_digits = count + decimal.exponent;
  if (integer_digits > 0) {
    // The bytes past the digits are scratch.
    const int significant = put_significand_with_point(out, decimal.significand, count, integer_digits);
    out += significant + 1;
  } else {
    const auto zeros = static_cast<std::size_t>(-integer_digits);
    std::memcpy(out, "0.0000000000000000", 18);
    if (zeros > 16) std::memset(out + 18, '0', zeros - 16);
    const int significant = put_significand(out + 2 + zeros, decimal.significand, count);
    out += 2 + zeros + static_cast<std::size_t>(significant);
  }
  return out;
}

constexpr std::size_t float_room = std::max(integral_float_room, fractional_float_room);

// Below 2^52 in magnitude a value is fractional or not as a round trip
// through a 64-bit integer says (far cheaper than trunc() without SSE4.1);
// from 2^52 up every finite double is an integer. NaN fails both magnitude
// tests, so a fractional value, the commonest, is told apart in two
// comparisons and a round trip. The spelling goes to `out`, which has
// float_room bytes; returns its end.
[[gnu::always_inline]] inline char* float_at(char* out, double value) {
  constexpr double two_to_52 = 4503599627370496.0;
  const double magnitude = std::fabs(value);
  if (magnitude < two_to_52) {
    if (static_cast<double>(static_cast<std::int64_t>(value)) != value)
      return fractional_float_at(out, value);
    return integral_float_at(out, value);
  }
  if (magnitude <= std::numeric_limits<double>::max()) return integral_float_at(out, value);
  if (std::isnan(value)) {
    std::memcpy(out, "NaN", 3);
    return out + 3;
  }
  if (value < 0) {
    std::memcpy(out, "-inf", 4);
    return out + 4;
  }
  std::memcpy(out, "inf", 3);
  return out + 3;
}

}  // namespace

void put_integer(OutputBuffer& sink, std::int64_t value) {
  sink.commit(integer_at(sink.reserve(integer_room), value));
}

void put_integer(OutputBuffer& sink, std::int64_t value, char after) {
  char* const end = integer_at(sink.reserve(integer_room + 1), value);
  *end = after;
  sink.commit(end + 1);
}

void put_float(OutputBuffer& sink, double value) { sink.commit(float_at(sink.reserve(float_room), value)); }

void put_float(OutputBuffer& sink, double value, char after) {
  char* const end = float_at(sink.reserve(float_room + 1), value);
  *end = after;
  sink.commit(end + 1);
}

}  // namespace vardelquin
