// A second, independent reading of the scalar typing rules: the grammars
// checked by hand, the values computed by the C library (strtoll, and
// strtod in the "C" locale, which rounds correctly for any number of
// digits). Slow and plain on purpose.
#pragma once

#include <algorithm>
#include <bit>
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <optional>
#include <string>
#include <string_view>

#include "config/format_config.h"
#include "value/value.h"

namespace vardelquin::fuzz {

inline bool ascii_digit(char c) { return c >= '0' && c <= '9'; }

inline std::string lower_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

inline std::optional<std::int64_t> reference_integer(std::string_view t) {
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  if (i == t.size()) return std::nullopt;
  for (std::size_t j = i; j < t.size(); ++j) {
    if (!ascii_digit(t[j])) return std::nullopt;
  }
  const std::string copy(t);
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(copy.c_str(), &end, 10);
  if (errno == ERANGE || end != copy.c_str() + copy.size()) return std::nullopt;
  return static_cast<std::int64_t>(v);
}

inline double signed_value(double magnitude, bool negative) {
  const auto bits = std::bit_cast<std::uint64_t>(magnitude);
  return std::bit_cast<double>(negative ? bits | (std::uint64_t{1} << 63) : bits);
}

#if defined(_WIN32)
// The same number as `token`, a float the grammar accepts, written as
// 0.DIGITS e EXPONENT with DIGITS starting at the first nonzero digit: the
// exponent is then within a few hundred of zero unless the value is 0 or
// out of range, however many digits balance a huge written exponent.
inline std::string with_small_exponent(std::string_view token) {
  std::string out;
  std::size_t i = 0;
  if (token[i] == '+' || token[i] == '-') out += token[i++];
  std::string digits;
  long long exponent = 0;
  bool fraction = false;
  for (; i < token.size() && token[i] != 'e' && token[i] != 'E'; ++i) {
    if (token[i] == '.') {
      fraction = true;
    } else if (digits.empty() && token[i] == '0') {
      exponent -= fraction;
    } else {
      digits += token[i];
      exponent += !fraction;
    }
  }
  if (digits.empty()) return out + "0";
  if (i < token.size()) {
    ++i;
    const bool negative = token[i] == '-';
    if (token[i] == '+' || token[i] == '-') ++i;
    long long written = 0;  // saturated: past 10^15 the value is 0 or infinite anyway
    for (; i < token.size(); ++i) written = std::min(written * 10 + (token[i] - '0'), 1'000'000'000'000'000LL);
    exponent += negative ? -written : written;
  }
  return out + "0." + digits + "e" + std::to_string(exponent);
}
#endif

// The C library's reading of `token`, a float the grammar accepts, in the
// "C" locale; ERANGE still rounds right.
inline double reference_strtod(const std::string& token) {
#if defined(_WIN32)
  // Windows has no newlocale, and the tests never leave the "C" locale.
  // mingw-w64's own strtod rounds correctly, as the system library's does
  // not always, but it caps a written exponent at 19999 before counting the
  // digits, so the token is first rewritten with a small one.
  return std::strtod(with_small_exponent(token).c_str(), nullptr);
#else
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
  return strtod_l(token.c_str(), nullptr, c_locale);
#endif
}

inline std::optional<double> reference_float(std::string_view t) {
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  const std::string word = lower_ascii(t.substr(i));
  if (word == "inf" || word == "infinity") {
    return signed_value(std::numeric_limits<double>::infinity(), negative);
  }
  if (word == "nan") return signed_value(std::bit_cast<double>(std::uint64_t{0x7FF8000000000000}), negative);

  std::size_t digits = 0;
  while (i < t.size() && ascii_digit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && ascii_digit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    while (i < t.size() && ascii_digit(t[i])) ++i, ++exponent_digits;
    if (exponent_digits == 0) return std::nullopt;
  }
  if (i != t.size()) return std::nullopt;

  return reference_strtod(std::string(t));
}

// What a token means: keywords, then integer, then float, else the text.
inline Value reference_decode(std::string_view token, const FormatConfig& config) {
  if (token == config.null_str()) return Value::null();
  if (token == config.true_str()) return Value::boolean(true);
  if (token == config.false_str()) return Value::boolean(false);
  if (auto i = reference_integer(token)) return Value::integer(*i);
  if (auto f = reference_float(token)) return Value::floating(*f);
  return Value::string(token);
}

}  // namespace vardelquin::fuzz
