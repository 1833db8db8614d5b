// The dialect of the text format, checked once when it is made so that
// the reader and the writer can rely on it without checking again: they
// treat every delimiter as one byte (hence ASCII only), find a role from a
// byte (hence no two delimiters alike), and tell keywords from strings and
// from each other by their text alone (hence keyword texts that are
// non-empty, distinct and free of delimiters). A record can only be made
// by FormatConfig::create, so no unchecked record exists.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "failure.h"
#include "support/byte_set.h"
#include "support/expected.h"

namespace vardelquin {

// The delimiters in their canonical order, which is also the order of the
// constructor's parameters, of validation and of special_chars().
enum class Delimiter : std::uint8_t {
  field_sep,
  kv_sep,
  list_open,
  list_close,
  list_sep,
  obj_open,
  obj_close,
  escape,
};
inline constexpr std::size_t delimiter_count = 8;

enum class Keyword : std::uint8_t { null_str, true_str, false_str };
inline constexpr std::size_t keyword_count = 3;

// The eleven user-visible fields in canonical order.
inline constexpr std::size_t field_count = delimiter_count + keyword_count;
inline constexpr std::array<std::string_view, field_count> field_names = {
    "field_sep", "kv_sep", "list_open", "list_close", "list_sep",  "obj_open",
    "obj_close", "escape", "null_str",  "true_str",   "false_str",
};

// The user-visible part of a record, before validation.
struct FormatFields {
  std::array<char32_t, delimiter_count> delimiters{};
  std::array<std::string, keyword_count> keywords;

  char32_t& operator[](Delimiter d) { return delimiters[static_cast<std::size_t>(d)]; }
  std::string& operator[](Keyword k) { return keywords[static_cast<std::size_t>(k)]; }

  static FormatFields default_values();
};

class FormatConfig {
 public:
  // Validates the fields, reporting only the first rule they break.
  static Expected<FormatConfig, Failure> create(FormatFields fields);
  // The default dialect: ; = [ ] | { } \ null true false.
  static Expected<FormatConfig, Failure> defaults();

  const FormatFields& fields() const noexcept { return fields_; }

  char32_t delimiter(Delimiter d) const noexcept { return fields_.delimiters[static_cast<std::size_t>(d)]; }
  const std::string& keyword(Keyword k) const noexcept {
    return fields_.keywords[static_cast<std::size_t>(k)];
  }

  // Delimiters are ASCII in every record, so one byte holds each of them.
  char byte(Delimiter d) const noexcept { return static_cast<char>(delimiter(d)); }

  const std::string& null_str() const noexcept { return keyword(Keyword::null_str); }
  const std::string& true_str() const noexcept { return keyword(Keyword::true_str); }
  const std::string& false_str() const noexcept { return keyword(Keyword::false_str); }

  // 1 at the code point of each delimiter, escape included.
  const std::array<std::uint8_t, 256>& special_table() const noexcept { return special_table_; }
  bool is_special(unsigned char c) const noexcept { return special_table_[c] != 0; }

  // The bytes at which a scalar value ends: field_sep, kv_sep, list_sep,
  // list_close, obj_close.
  const std::array<std::uint8_t, 5>& scalar_terminators() const noexcept { return scalar_terminators_; }

  // What each byte does inside a token the reader cuts: nothing, escape the
  // next byte, or end the token. One table per kind of token: a top-level
  // key ends at kv_sep; a key in an object also at obj_close; a scalar at
  // any of scalar_terminators(). Built with the record, so a call that
  // reads text finds them ready.
  static constexpr std::uint8_t token_byte = 0;
  static constexpr std::uint8_t token_escape = 1;
  static constexpr std::uint8_t token_stop = 2;
  using TokenTable = std::array<std::uint8_t, 256>;
  const TokenTable& top_key_stops() const noexcept { return top_key_stops_; }
  const TokenTable& object_key_stops() const noexcept { return object_key_stops_; }
  const TokenTable& scalar_stops() const noexcept { return scalar_stops_; }

  // The same stops, and the escape, as the sets that the reader's scan
  // looks for; and the eight delimiters as the set the writer escapes.
  // Each holds a table and the vectors the scan compares against, made
  // here once rather than by every call.
  static constexpr std::size_t most_token_stops = 6;  // five stops and the escape
  using TokenScan = ByteSet<most_token_stops>;
  using DelimiterScan = ByteSet<delimiter_count>;
  const TokenScan& top_key_scan() const noexcept { return top_key_scan_; }
  const TokenScan& object_key_scan() const noexcept { return object_key_scan_; }
  const TokenScan& scalar_scan() const noexcept { return scalar_scan_; }
  const DelimiterScan& delimiter_scan() const noexcept { return delimiter_scan_; }
  // The escape alone, for the reader to tell it from the stops in a block.
  using EscapeScan = ByteSet<1>;
  const EscapeScan& escape_scan() const noexcept { return escape_scan_; }

  // Whether a delimiter is one of the characters that numbers are written
  // with (the digits, '-', '.', and the letters of NaN and inf). Only then
  // must the writer escape inside numbers; decided once, here, so that the
  // usual configurations keep writing numbers without looking at them.
  bool numbers_need_escaping() const noexcept { return numbers_need_escaping_; }

  // By first byte: what a scalar token might be besides a string. Only a
  // token whose first byte starts a keyword needs the keyword tests, which
  // come before the number tests; the other typed ones can go straight to
  // the number tests.
  enum class ScalarStart : std::uint8_t { string_only, number, keyword };
  using FirstByteTable = std::array<ScalarStart, 256>;
  const FirstByteTable& scalar_starts() const noexcept { return scalar_starts_; }

 private:
  explicit FormatConfig(FormatFields fields);

  FormatFields fields_;
  // Made from fields_, so declared after it.
  TokenScan top_key_scan_;
  TokenScan object_key_scan_;
  TokenScan scalar_scan_;
  DelimiterScan delimiter_scan_;
  EscapeScan escape_scan_;
  std::array<std::uint8_t, 256> special_table_{};
  std::array<std::uint8_t, 5> scalar_terminators_{};
  TokenTable top_key_stops_{};
  TokenTable object_key_stops_{};
  TokenTable scalar_stops_{};
  FirstByteTable scalar_starts_{};
  bool numbers_need_escaping_ = false;
};

// The eight delimiters as bytes, copied once for the inner loops of the
// reader and the writer. Every delimiter is ASCII, so one byte holds each.
struct DelimiterBytes {
  explicit DelimiterBytes(const FormatConfig& config) noexcept
      : field_sep(config.byte(Delimiter::field_sep)),
        kv_sep(config.byte(Delimiter::kv_sep)),
        list_open(config.byte(Delimiter::list_open)),
        list_close(config.byte(Delimiter::list_close)),
        list_sep(config.byte(Delimiter::list_sep)),
        obj_open(config.byte(Delimiter::obj_open)),
        obj_close(config.byte(Delimiter::obj_close)),
        escape(config.byte(Delimiter::escape)) {}

  char field_sep, kv_sep, list_open, list_close, list_sep, obj_open, obj_close, escape;
};

}  // namespace vardelquin
