#include "config/format_config.h"

#include <array>
#include <optional>
#include <span>

#include "config/number_characters.h"
#include "support/utf8.h"

namespace vardelquin {
namespace {

Failure failure_of(FailureKind kind, std::size_t field, std::size_t other_field = 0, char32_t character = 0) {
  return Failure{.kind = kind,
                 .field = static_cast<std::uint8_t>(field),
                 .other_field = static_cast<std::uint8_t>(other_field),
                 .character = character};
}

std::optional<Failure> check_ascii(const FormatFields& f) {
  for (std::size_t i = 0; i < delimiter_count; ++i) {
    if (f.delimiters[i] > 0x7F) return failure_of(FailureKind::delimiter_not_ascii, i, 0, f.delimiters[i]);
  }
  return std::nullopt;
}

// Runs after check_ascii, so every delimiter indexes a 128-entry table.
std::optional<Failure> check_distinct_delimiters(const FormatFields& f) {
  constexpr std::uint8_t unused = 0xFF;
  std::array<std::uint8_t, 128> first_user;
  first_user.fill(unused);
  for (std::size_t i = 0; i < delimiter_count; ++i) {
    auto& owner = first_user[f.delimiters[i]];
    if (owner != unused) return failure_of(FailureKind::delimiters_equal, owner, i, f.delimiters[i]);
    owner = static_cast<std::uint8_t>(i);
  }
  return std::nullopt;
}

// Keyword i is field delimiter_count + i.
std::optional<Failure> check_keywords_not_empty(const FormatFields& f) {
  for (std::size_t i = 0; i < keyword_count; ++i) {
    if (f.keywords[i].empty()) return failure_of(FailureKind::keyword_empty, delimiter_count + i);
  }
  return std::nullopt;
}

std::optional<Failure> check_keywords_distinct(const FormatFields& f) {
  for (std::size_t i = 0; i < keyword_count; ++i) {
    for (std::size_t j = i + 1; j < keyword_count; ++j) {
      if (f.keywords[i] == f.keywords[j]) {
        return failure_of(FailureKind::keywords_equal, delimiter_count + i, delimiter_count + j);
      }
    }
  }
  return std::nullopt;
}

std::optional<Failure> check_keywords_free_of_delimiters(const FormatFields& f) {
  for (std::size_t i = 0; i < keyword_count; ++i) {
    std::string_view text = f.keywords[i];
    while (!text.empty()) {
      const auto [cp, length] = utf8::decode(text);
      for (char32_t d : f.delimiters) {
        if (cp == d) return failure_of(FailureKind::keyword_contains_delimiter, delimiter_count + i, 0, cp);
      }
      text.remove_prefix(length);
    }
  }
  return std::nullopt;
}

}  // namespace

FormatFields FormatFields::default_values() {
  return FormatFields{{U';', U'=', U'[', U']', U'|', U'{', U'}', U'\\'}, {"null", "true", "false"}};
}

namespace {

std::uint8_t byte_of(const FormatFields& f, Delimiter d) {
  return static_cast<std::uint8_t>(f.delimiters[static_cast<std::size_t>(d)]);
}

// The roles that end each kind of token the reader cuts: a top-level key,
// a key inside an object, a scalar value.
constexpr std::array top_key_ends{Delimiter::kv_sep};
constexpr std::array object_key_ends{Delimiter::kv_sep, Delimiter::obj_close};
constexpr std::array scalar_ends{Delimiter::field_sep, Delimiter::kv_sep, Delimiter::list_sep,
                                 Delimiter::list_close, Delimiter::obj_close};

// A token's stops and then the escape, for its scan set.
FormatConfig::TokenScan token_scan(const FormatFields& f, std::span<const Delimiter> stops) {
  std::array<std::uint8_t, FormatConfig::most_token_stops> bytes{};
  std::size_t count = 0;
  for (const Delimiter d : stops) bytes[count++] = byte_of(f, d);
  bytes[count++] = byte_of(f, Delimiter::escape);
  return FormatConfig::TokenScan(std::span<const std::uint8_t>(bytes.data(), count));
}

FormatConfig::DelimiterScan delimiter_scan_of(const FormatFields& f) {
  std::array<std::uint8_t, delimiter_count> bytes{};
  for (std::size_t i = 0; i < delimiter_count; ++i) bytes[i] = static_cast<std::uint8_t>(f.delimiters[i]);
  return FormatConfig::DelimiterScan(bytes);
}

}  // namespace

FormatConfig::FormatConfig(FormatFields fields)
    : fields_(std::move(fields)),
      top_key_scan_(token_scan(fields_, top_key_ends)),
      object_key_scan_(token_scan(fields_, object_key_ends)),
      scalar_scan_(token_scan(fields_, scalar_ends)),
      delimiter_scan_(delimiter_scan_of(fields_)),
      escape_scan_(std::array{byte_of(fields_, Delimiter::escape)}) {
  for (char32_t d : fields_.delimiters) special_table_[d] = 1;
  static_assert(scalar_ends.size() == std::tuple_size_v<decltype(scalar_terminators_)>);
  for (std::size_t i = 0; i < scalar_ends.size(); ++i)
    scalar_terminators_[i] = byte_of(fields_, scalar_ends[i]);
  const auto mark_stops = [this](TokenTable& table, std::span<const Delimiter> ends) {
    for (const Delimiter d : ends) table[byte_of(fields_, d)] = token_stop;
    table[byte_of(fields_, Delimiter::escape)] = token_escape;
  };
  mark_stops(top_key_stops_, top_key_ends);
  mark_stops(object_key_stops_, object_key_ends);
  mark_stops(scalar_stops_, scalar_ends);
  for (const char c : number_characters) {
    if (is_special(static_cast<unsigned char>(c))) numbers_need_escaping_ = true;
  }
  for (const char c : number_first_characters)
    scalar_starts_[static_cast<unsigned char>(c)] = ScalarStart::number;
  for (const std::string& keyword : fields_.keywords) {
    if (!keyword.empty()) scalar_starts_[static_cast<unsigned char>(keyword.front())] = ScalarStart::keyword;
  }
}

Expected<FormatConfig, Failure> FormatConfig::create(FormatFields fields) {
  using Check = std::optional<Failure> (*)(const FormatFields&);
  static constexpr Check checks[] = {
      check_ascii,
      check_distinct_delimiters,
      check_keywords_not_empty,
      check_keywords_distinct,
      check_keywords_free_of_delimiters,
  };
  for (Check check : checks) {
    if (auto failure = check(fields)) return Unexpected{*failure};
  }
  return FormatConfig(std::move(fields));
}

Expected<FormatConfig, Failure> FormatConfig::defaults() { return create(FormatFields::default_values()); }

}  // namespace vardelquin
