// Helpers shared by the fuzz targets: reading structured choices from the
// fuzzer's bytes, making bytes into well-formed UTF-8, deriving a valid
// configuration, and failing loudly (abort, so that libFuzzer keeps the
// input) when a property does not hold.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "config/format_config.h"
#include "failure.h"

namespace vardelquin::fuzz {

[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "property violated: %s\n", what);
  if (!detail.empty()) std::fprintf(stderr, "  %.*s\n", static_cast<int>(detail.size()), detail.data());
  std::abort();
}

#define FUZZ_CHECK(condition, ...) \
  do {                             \
    if (!(condition)) ::vardelquin::fuzz::fail(#condition __VA_OPT__(, ) __VA_ARGS__); \
  } while (0)

// Consumes the fuzzer's bytes front to back; past the end every read is 0.
class ByteSource {
 public:
  ByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const noexcept { return pos_ >= size_; }
  std::size_t remaining() const noexcept { return empty() ? 0 : size_ - pos_; }

  std::uint8_t byte() noexcept { return empty() ? 0 : data_[pos_++]; }

  std::uint64_t u64() noexcept {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | byte();
    return v;
  }

  std::string_view bytes(std::size_t n) noexcept {
    if (n > remaining()) n = remaining();
    const std::string_view out(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return out;
  }

  std::string_view rest() noexcept { return bytes(remaining()); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0.
inline std::size_t valid_sequence(std::string_view s) noexcept {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = b(0);
  if (lead < 0x80) return 1;
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < n || b(1) < lo || b(1) > hi) return 0;
  for (std::size_t i = 2; i < n; ++i) {
    if (b(i) < 0x80 || b(i) > 0xBF) return 0;
  }
  return n;
}

inline bool is_valid_utf8(std::string_view s) noexcept {
  while (!s.empty()) {
    const std::size_t n = valid_sequence(s);
    if (n == 0) return false;
    s.remove_prefix(n);
  }
  return true;
}

// Keeps well-formed sequences and replaces each other byte by the
// character of the same number below 0x80 or by U+FFFD, so that every
// input gives some text.
inline std::string repair_utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  while (!s.empty()) {
    const std::size_t n = valid_sequence(s);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      s.remove_prefix(1);
    } else {
      out.append(s.substr(0, n));
      s.remove_prefix(n);
    }
  }
  return out;
}

// One of the failures of FormatConfig::create.
inline bool is_validation_failure(const Failure& f) {
  return f.kind <= FailureKind::keyword_contains_delimiter;
}

inline std::string keyword_from(ByteSource& in) {
  static constexpr std::array<std::string_view, 24> pool = {
      "null", "true", "false", "None", "nil", "yes", "no", "0",   "1",   "-1",   "1.5",  "nan",
      "inf",  "NaN",  "-inf",  "x",    "é",   "空",  "T",  "F",  "1e5", "+0", ".5", "\xF0\x9F\x99\x82"};
  const std::uint8_t choice = in.byte();
  if (choice < 200) return std::string(pool[choice % pool.size()]);
  return repair_utf8(in.bytes(1 + choice % 4));
}

// A configuration taken from the first bytes of the input: the defaults
// for a quarter of the inputs, else eight distinct ASCII delimiters (often
// punctuation, sometimes any byte below 0x80, digits and letters
// included) and keywords from a pool or from the input. Only records that
// FormatConfig::create accepts come out; a rejected choice falls back to
// its default keywords and then to the defaults.
inline FormatConfig config_from(ByteSource& in) {
  const std::uint8_t mode = in.byte();
  if (mode < 64) return *FormatConfig::defaults();
  static constexpr std::string_view punctuation = ";=[]|{}\\,:()<>/%#&!@^~$*'\"`?\t\n -_+.";
  FormatFields fields = FormatFields::default_values();
  std::array<bool, 128> used{};
  for (std::size_t i = 0; i < delimiter_count; ++i) {
    const std::uint8_t b = in.byte();
    unsigned c = (b & 0x80) ? static_cast<unsigned char>(punctuation[b % punctuation.size()]) : b;
    while (used[c]) c = (c + 1) % 128;
    used[c] = true;
    fields.delimiters[i] = static_cast<char32_t>(c);
  }
  const FormatFields with_default_keywords = fields;
  if (mode >= 128) {
    for (auto& keyword : fields.keywords) keyword = keyword_from(in);
  }
  auto config = FormatConfig::create(fields);
  if (config) return std::move(*config);
  FUZZ_CHECK(is_validation_failure(config.error()), failure_message(config.error()));
  auto fallback = FormatConfig::create(with_default_keywords);
  if (fallback) return std::move(*fallback);
  FUZZ_CHECK(is_validation_failure(fallback.error()), failure_message(fallback.error()));
  return *FormatConfig::defaults();
}

}  // namespace vardelquin::fuzz
