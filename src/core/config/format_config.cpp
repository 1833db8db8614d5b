#include "config/format_config.h"

#include <initializer_list>
#include <optional>

#include "config/literal_form.h"
#include "support/utf8.h"

namespace vardelquin {
namespace {

std::string_view delimiter_name(std::size_t index) { return field_names[index]; }
std::string_view keyword_name(std::size_t index) { return field_names[delimiter_count + index]; }

Unexpected<ConfigError> fail(std::string message) { return Unexpected{ConfigError{std::move(message)}}; }

// Appending parts avoids operator+ on a literal and a temporary, which one
// compiler release misreads as an overlapping copy and warns about.
ConfigError error_of(std::initializer_list<std::string_view> parts) {
  ConfigError error;
  for (std::string_view part : parts) error.message += part;
  return error;
}

std::optional<ConfigError> check_ascii(const FormatFields& f) {
  for (std::size_t i = 0; i < delimiter_count; ++i) {
    if (f.delimiters[i] > 0x7F) {
      return error_of({"'", delimiter_name(i), "' must be an ASCII character, got ",
                       char_literal(f.delimiters[i])});
    }
  }
  return std::nullopt;
}

// Runs after check_ascii, so every delimiter indexes a 128-entry table.
std::optional<ConfigError> check_distinct_delimiters(const FormatFields& f) {
  constexpr std::uint8_t unused = 0xFF;
  std::array<std::uint8_t, 128> first_user;
  first_user.fill(unused);
  for (std::size_t i = 0; i < delimiter_count; ++i) {
    auto& owner = first_user[f.delimiters[i]];
    if (owner != unused) {
      return error_of({"Delimiter conflict: '", delimiter_name(owner), "' and '", delimiter_name(i),
                       "' are both ", char_literal(f.delimiters[i])});
    }
    owner = static_cast<std::uint8_t>(i);
  }
  return std::nullopt;
}

std::optional<ConfigError> check_keywords_not_empty(const FormatFields& f) {
  for (std::size_t i = 0; i < keyword_count; ++i) {
    if (f.keywords[i].empty()) {
      return error_of({"'", keyword_name(i), "' must not be empty"});
    }
  }
  return std::nullopt;
}

std::optional<ConfigError> check_keywords_distinct(const FormatFields& f) {
  for (std::size_t i = 0; i < keyword_count; ++i) {
    for (std::size_t j = i + 1; j < keyword_count; ++j) {
      if (f.keywords[i] == f.keywords[j]) {
        return error_of({keyword_name(i), " and ", keyword_name(j), " must be different"});
      }
    }
  }
  return std::nullopt;
}

std::optional<ConfigError> check_keywords_free_of_delimiters(const FormatFields& f) {
  for (std::size_t i = 0; i < keyword_count; ++i) {
    std::string_view text = f.keywords[i];
    while (!text.empty()) {
      const auto [cp, length] = utf8::decode(text);
      for (char32_t d : f.delimiters) {
        if (cp == d) {
          return error_of({"'", keyword_name(i), "' contains delimiter character ", char_literal(cp)});
        }
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

FormatConfig::FormatConfig(FormatFields fields) : fields_(std::move(fields)) {
  for (char32_t d : fields_.delimiters) special_table_[d] = 1;
  scalar_terminators_ = {
      static_cast<std::uint8_t>(delimiter(Delimiter::field_sep)),
      static_cast<std::uint8_t>(delimiter(Delimiter::kv_sep)),
      static_cast<std::uint8_t>(delimiter(Delimiter::list_sep)),
      static_cast<std::uint8_t>(delimiter(Delimiter::list_close)),
      static_cast<std::uint8_t>(delimiter(Delimiter::obj_close)),
  };
  const auto escape = static_cast<std::uint8_t>(delimiter(Delimiter::escape));
  const auto kv_sep = static_cast<std::uint8_t>(delimiter(Delimiter::kv_sep));
  top_key_stops_[kv_sep] = token_stop;
  object_key_stops_[kv_sep] = token_stop;
  object_key_stops_[static_cast<std::uint8_t>(delimiter(Delimiter::obj_close))] = token_stop;
  for (const std::uint8_t b : scalar_terminators_) scalar_stops_[b] = token_stop;
  for (TokenTable* table : {&top_key_stops_, &object_key_stops_, &scalar_stops_}) (*table)[escape] = token_escape;
  for (const char c : std::string_view("0123456789-.Nainf")) {
    if (is_special(static_cast<unsigned char>(c))) numbers_need_escaping_ = true;
  }
}

Expected<FormatConfig, ConfigError> FormatConfig::create(FormatFields fields) {
  using Check = std::optional<ConfigError> (*)(const FormatFields&);
  static constexpr Check checks[] = {
      check_ascii,
      check_distinct_delimiters,
      check_keywords_not_empty,
      check_keywords_distinct,
      check_keywords_free_of_delimiters,
  };
  for (Check check : checks) {
    if (auto error = check(fields)) return fail(std::move(error->message));
  }
  return FormatConfig(std::move(fields));
}

Expected<FormatConfig, ConfigError> FormatConfig::defaults() {
  return create(FormatFields::default_values());
}

}  // namespace vardelquin
