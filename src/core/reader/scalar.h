// Typing of scalar tokens: the text format has no quotes and no type
// markers, so a token's characters decide what it is, by the first test
// that matches: null_str, true_str, false_str, a signed 64-bit decimal
// integer, a decimal float (or inf, infinity, nan in any case), else the
// token itself as a string.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/format_config.h"
#include "value/value.h"

namespace vardelquin {

// Every token is at least a string, so the only failure is std::bad_alloc
// (from a float token with a huge exponent, which is rewritten before it
// is converted). A string result is a view of `token`.
Value decode_scalar(std::string_view token, const FormatConfig& config);

// decode_scalar with its commonest answer first: a token whose first byte
// starts no number and none of the config's keywords is a string, which
// is then known without a call. The config must outlive the typer.
class ScalarTyper {
 public:
  explicit ScalarTyper(const FormatConfig& config) noexcept
      : config_(config), starts_(config.scalar_starts()) {}

  Value operator()(std::string_view token) const {
    if (!token.empty() && starts_[static_cast<unsigned char>(token.front())] ==
                              FormatConfig::ScalarStart::string_only) [[likely]]
      return Value::string(token);
    return decode_scalar(token, config_);
  }

 private:
  const FormatConfig& config_;
  const FormatConfig::FirstByteTable& starts_;
};

// The two number grammars, exposed for tests and fuzzers. parse_float may
// throw std::bad_alloc, as decode_scalar.
std::optional<std::int64_t> parse_integer(std::string_view token) noexcept;
std::optional<double> parse_float(std::string_view token);

}  // namespace vardelquin
