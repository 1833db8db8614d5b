#include "reader/scalar.h"

#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cstddef>
#include <limits>
#include <string>
#include <system_error>
#include <utility>

#include "config/number_characters.h"
#include "reader/nearest_double.h"
#include "support/little_endian.h"
#include "support/simd.h"

namespace vardelquin {
namespace {

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

constexpr unsigned digit_value(char c) noexcept {
  return static_cast<unsigned>(static_cast<unsigned char>(c)) - unsigned{'0'};
}

// Lengths first, then the first byte, and only then the rest: number
// tokens often have a keyword's length.
bool equals(std::string_view token, const std::string& keyword) noexcept {
  return token.size() == keyword.size() && !token.empty() && token.front() == keyword.front() &&
         token == keyword;
}

// `word` is lower case ASCII.
bool equals_ignoring_case(std::string_view text, std::string_view word) noexcept {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c | 0x20);
    if (c != word[i]) return false;
  }
  return true;
}

// Sets the sign bit directly: negation is not guaranteed to touch a NaN's.
double with_sign(double magnitude, bool negative) noexcept {
  if (!negative) return magnitude;
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) | (std::uint64_t{1} << 63));
}

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double quiet_nan = std::bit_cast<double>(std::uint64_t{0x7FF8000000000000});

// Explicit exponents saturate here. No token has this many digits, so a
// saturated exponent is out of range whatever the digits add to it.
constexpr std::int64_t exponent_cap = std::int64_t{1} << 52;

// Beyond these decimal exponents of the leading digit the result is
// settled: 10^309 exceeds every finite double, and anything below 10^-324
// is under half the least subnormal (about 4.9e-324).
constexpr std::int64_t overflow_exponent = 309;
constexpr std::int64_t underflow_exponent = -325;

// The converter saturates long explicit exponents. Past this one, which
// only a huge run of digits can balance, the number is handed over as
// d.ddd...e<lead> instead, whose exponent is small.
constexpr std::int64_t large_exponent = 1'000'000;

// A validated decimal number without its sign:
// digits [. digits] [e [sign] digits], at least one mantissa digit.
struct DecimalNumber {
  std::string_view text;          // the whole unsigned number, exponent included
  std::string_view integer_part;  // digits before the point
  std::string_view fraction;      // digits after the point
  std::int64_t exponent = 0;      // explicit exponent, saturated at exponent_cap
};

std::string_view take_digits(const char*& p, const char* end) noexcept {
  const char* begin = p;
  while (p != end && is_digit(*p)) ++p;
  return {begin, static_cast<std::size_t>(p - begin)};
}

std::optional<DecimalNumber> match_decimal(std::string_view text) noexcept {
  const char* p = text.data();
  const char* const end = p + text.size();
  DecimalNumber number;
  number.text = text;
  number.integer_part = take_digits(p, end);
  if (p != end && *p == '.') {
    ++p;
    number.fraction = take_digits(p, end);
  }
  if (number.integer_part.empty() && number.fraction.empty()) return std::nullopt;
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p == end || !is_digit(*p)) return std::nullopt;
    std::int64_t exponent = 0;
    for (; p != end && is_digit(*p); ++p) {
      if (exponent < exponent_cap) exponent = exponent * 10 + digit_value(*p);
    }
    number.exponent = negative ? -exponent : exponent;
  }
  if (p != end) return std::nullopt;
  return number;
}

// The decimal exponent of the first non-zero digit, or nothing when every
// mantissa digit is zero.
std::optional<std::int64_t> leading_exponent(const DecimalNumber& n) noexcept {
  const auto first = n.integer_part.find_first_not_of('0');
  if (first != std::string_view::npos) {
    return static_cast<std::int64_t>(n.integer_part.size() - first - 1) + n.exponent;
  }
  const auto first_fraction = n.fraction.find_first_not_of('0');
  if (first_fraction == std::string_view::npos) return std::nullopt;
  return n.exponent - static_cast<std::int64_t>(first_fraction) - 1;
}

// d.ddd...e<lead>: the same value with an exponent of at most three digits.
std::string normalised(const DecimalNumber& n, std::int64_t lead) {
  std::string digits;
  digits.reserve(n.integer_part.size() + n.fraction.size() + 8);
  digits.append(n.integer_part).append(n.fraction);
  digits.erase(0, digits.find_first_not_of('0'));
  digits.insert(1, 1, '.');
  digits += 'e';
  digits += std::to_string(lead);
  return digits;
}

double convert(const DecimalNumber& n) {
  const auto lead = leading_exponent(n);
  if (!lead) return 0.0;
  if (*lead >= overflow_exponent) return infinity;
  if (*lead <= underflow_exponent) return 0.0;

  std::string rewritten;
  std::string_view text = n.text;
  if (n.exponent > large_exponent || n.exponent < -large_exponent) {
    rewritten = normalised(n, *lead);
    text = rewritten;
  }
  double value = 0.0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  // Out of range leaves `value` untouched and does not say which way.
  if (result.ec == std::errc::result_out_of_range) return *lead >= 0 ? infinity : 0.0;
  return value;
}

}  // namespace

std::optional<std::int64_t> parse_integer(std::string_view token) noexcept {
  const char* p = token.data();
  const char* const end = p + token.size();
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (p == end) return std::nullopt;

  std::uint64_t magnitude = 0;
  // Eighteen digits stay below 10^18 < 2^63: no overflow test needed.
  if (end - p <= 18) {
    for (; p != end; ++p) {
      const unsigned d = digit_value(*p);
      if (d > 9) return std::nullopt;
      magnitude = magnitude * 10 + d;
    }
  } else {
    const std::uint64_t limit = (std::uint64_t{1} << 63) - (negative ? 0 : 1);
    for (; p != end; ++p) {
      const unsigned d = digit_value(*p);
      if (d > 9 || magnitude > (limit - d) / 10) return std::nullopt;
      magnitude = magnitude * 10 + d;
    }
  }
  // Unsigned negation wraps, and the conversion is modular: -2^63 survives.
  return static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
}

std::optional<double> parse_float(std::string_view token) {
  bool negative = false;
  if (!token.empty() && (token.front() == '+' || token.front() == '-')) {
    negative = token.front() == '-';
    token.remove_prefix(1);
  }
  if (token.empty()) return std::nullopt;

  const char first = token.front();
  if (!is_digit(first) && first != '.') {
    if (equals_ignoring_case(token, "inf") || equals_ignoring_case(token, "infinity")) {
      return with_sign(infinity, negative);
    }
    if (equals_ignoring_case(token, "nan")) return with_sign(quiet_nan, negative);
    return std::nullopt;
  }

  const auto number = match_decimal(token);
  if (!number) return std::nullopt;
  // Only the normalised copy of a huge token allocates. Without memory for
  // it, std::bad_alloc ends the whole read: the token is a number, and
  // reading it as a string instead would change the result.
  return with_sign(convert(*number), negative);
}

namespace {

// 10^0 to 10^22: every one of them is exact in a double.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::int64_t largest_exact_power = 22;
constexpr std::uint64_t largest_exact_mantissa = std::uint64_t{1} << 53;
// Digits that a uint64 holds whatever they are: 19 nines are below 2^64.
constexpr int safe_digits = 19;
// Past this explicit exponent the general converter's work is left to
// parse_float, which settles overflow and underflow first.
constexpr std::int64_t modest_exponent = 10'000;

// Appends the run of digits at p to `mantissa`, counting them in `digits`,
// and returns where the run ends. Past 19 digits the mantissa wraps around,
// and callers look at `digits` before trusting it.
[[gnu::always_inline]] inline const char* take_mantissa_digits(const char* p, const char* const end,
                                                               std::uint64_t& mantissa, int& digits) {
#if VARDELQUIN_SWAR
  // Eight at a time while they fit: each byte minus '0' is a digit when
  // neither it nor it plus 6 carries into the upper half of the byte; the
  // eight are then combined in pairs, fours and the whole in three steps.
  constexpr std::uint64_t zeros = 0x3030303030303030u;
  constexpr std::uint64_t high_halves = 0xF0F0F0F0F0F0F0F0u;
  while (end - p >= 8 && digits <= safe_digits - 8) {
    std::uint64_t word = load_le64(p);  // the first digit in the lowest byte
    if ((word & high_halves) != zeros || ((word + 0x0606060606060606u) & high_halves) != zeros) break;
    word -= zeros;
    word = word * 10 + (word >> 8);  // pairs, in every other byte
    word = ((word & 0x000000FF000000FFu) * (100 + (std::uint64_t{1000000} << 32)) +
            ((word >> 16) & 0x000000FF000000FFu) * (1 + (std::uint64_t{10000} << 32))) >>
           32;
    mantissa = mantissa * 100'000'000 + word;
    digits += 8;
    p += 8;
  }
#endif
  for (; p != end && is_digit(*p); ++p, ++digits) mantissa = mantissa * 10 + digit_value(*p);
  return p;
}

// Whether the token has a point among its second and third bytes and
// another among its last three but one, which no number has: a cheap
// answer for most version numbers (3.10.2, 12.4.99), which would otherwise
// be parsed up to their second point. Most numbers pay two byte tests.
bool looks_like_a_version(std::string_view token) noexcept {
  const std::size_t size = token.size();
  if (size < 5) return false;
  const char* const p = token.data();
  const std::size_t late = p[size - 2] == '.' ? size - 2 : p[size - 3] == '.' ? size - 3 : 0;
  if (late == 0) return false;
  const std::size_t early = p[1] == '.' ? 1 : p[2] == '.' ? 2 : late;
  return early < late;
}

// A token that starts like a number, typed and converted in one pass over
// its bytes: an integer when it is one and fits, else a float when the
// float grammar takes the whole token, else nothing (a string). The
// commonest floats, whose digits and power of ten are both exact doubles,
// come out of one multiplication or division, which rounds once and so
// gives the nearest double; most others of up to 19 digits come out of
// nearest_double; the rest go to std::from_chars, and the unusual (huge
// exponents, words) to parse_float.
std::optional<Value> decode_number(std::string_view token) {
  const char* p = token.data();
  const char* const end = p + token.size();
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  const char* const unsigned_begin = p;

  std::uint64_t mantissa = 0;
  int digits = 0;  // mantissa digits, leading zeros included
  p = take_mantissa_digits(p, end, mantissa, digits);
  if (p == end) {
    if (digits == 0) return std::nullopt;  // a sign alone
    if (digits <= safe_digits) {
      const std::uint64_t limit = (std::uint64_t{1} << 63) - (negative ? 0 : 1);
      if (mantissa <= limit)
        return Value::integer(static_cast<std::int64_t>(negative ? 0 - mantissa : mantissa));
      // Beyond 64 bits: a float, by the general route below.
    } else if (const auto i = parse_integer(token)) {  // leading zeros
      return Value::integer(*i);
    }
  }
  if (digits == 0 && (p == end || *p != '.')) {
    // No digit first: a word (inf, nan), or no number at all.
    if (const auto f = parse_float(token)) return Value::floating(*f);
    return std::nullopt;
  }

  int fraction_digits = 0;
  if (p != end && *p == '.') {
    const int integer_digits = digits;
    p = take_mantissa_digits(p + 1, end, mantissa, digits);
    fraction_digits = digits - integer_digits;
    if (digits == 0) return std::nullopt;  // "." or a sign and "."
  }
  std::int64_t exponent = 0;
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool exponent_negative = false;
    if (p != end && (*p == '+' || *p == '-')) exponent_negative = *p++ == '-';
    if (p == end || !is_digit(*p)) return std::nullopt;
    for (; p != end && is_digit(*p); ++p) {
      if (exponent <= modest_exponent) exponent = exponent * 10 + digit_value(*p);
    }
    if (exponent_negative) exponent = -exponent;
  }
  if (p != end) return std::nullopt;

  // The digits wrapped around past 19 of them; the value is exact below.
  // Only where doubles are computed as doubles: extended intermediates
  // would round twice.
  if (FLT_EVAL_METHOD == 0 && digits <= safe_digits && mantissa <= largest_exact_mantissa) {
    const std::int64_t power = exponent - fraction_digits;
    if (power >= -largest_exact_power && power <= largest_exact_power) {
      const auto m = static_cast<double>(mantissa);
      const double magnitude = power >= 0 ? m * exact_powers_of_ten[power] : m / exact_powers_of_ten[-power];
      return Value::floating(with_sign(magnitude, negative));
    }
  }
  if (digits <= safe_digits) {
    if (const auto magnitude = nearest_double(mantissa, exponent - fraction_digits))
      return Value::floating(with_sign(*magnitude, negative));
  }
  if (exponent > -modest_exponent && exponent < modest_exponent) {
    double magnitude = 0.0;
    const auto [rest, error] = std::from_chars(unsigned_begin, end, magnitude);
    if (error == std::errc() && rest == end) return Value::floating(with_sign(magnitude, negative));
  }
  // Out of range either way, or an exponent too long for the converter.
  if (const auto f = parse_float(token)) return Value::floating(*f);
  return std::nullopt;
}

// The number starts by byte, for a look-up where a search would cost a call.
constexpr std::array<bool, 256> starts_a_number = [] {
  std::array<bool, 256> starts{};
  for (const char c : number_first_characters) starts[static_cast<unsigned char>(c)] = true;
  return starts;
}();

}  // namespace

Value decode_scalar(std::string_view token, const FormatConfig& config) {
  if (token.empty()) return Value::string(token);  // no keyword is empty
  // The keyword tests only where a keyword starts with the token's byte.
  const auto start = config.scalar_starts()[static_cast<unsigned char>(token.front())];
  if (start == FormatConfig::ScalarStart::keyword) {
    if (equals(token, config.null_str())) return Value::null();
    if (equals(token, config.true_str())) return Value::boolean(true);
    if (equals(token, config.false_str())) return Value::boolean(false);
  }
  if (starts_a_number[static_cast<unsigned char>(token.front())] && !looks_like_a_version(token)) {
    if (const auto number = decode_number(token)) return *number;
  }
  return Value::string(token);
}

}  // namespace vardelquin
