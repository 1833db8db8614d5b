// What can go wrong in the core, as data: a closed set of kinds, each with
// the few facts its message needs. Failures travel this way until the
// binding raises them; failure_message (messages.cpp) is the one place that
// spells them out, so a caller that wants the offset or the field reads it
// here instead of parsing it out of a text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vardelquin {

enum class FailureKind : std::uint8_t {
  // FormatConfig::create, one kind per rule, in the order they are checked.
  // `field` and `other_field` index field_names.
  delimiter_not_ascii,         ///< field, character
  delimiters_equal,            ///< field (the earlier one), other_field, character
  keyword_empty,               ///< field
  keywords_equal,              ///< field, other_field
  keyword_contains_delimiter,  ///< field, character
  // parse_document; `offset` is a byte offset into the text, from 0.
  key_runs_to_end,           ///< expected (kv_sep), offset (the end of the text)
  key_ends_without_kv_sep,   ///< expected (kv_sep), character (the byte found), offset
  list_unterminated,         ///< offset (the end of the text)
  list_unexpected_byte,      ///< character (the byte found), offset
  object_unterminated,       ///< offset (the end of the text)
  object_unexpected_byte,    ///< character (the byte found), offset
  nesting_too_deep_to_read,  ///< offset (the opening bracket)
  // The walk of the caller's objects for dumps.
  nesting_too_deep_to_write,
};

struct Failure {
  FailureKind kind;
  std::uint8_t field = 0;
  std::uint8_t other_field = 0;
  // A byte found by the reader is stored as the character of the same
  // number, which is how its message shows it.
  char32_t character = 0;
  char32_t expected = 0;
  std::size_t offset = 0;

  // Whether `offset` means something: true for every reader failure.
  bool has_offset() const noexcept {
    return kind >= FailureKind::key_runs_to_end && kind <= FailureKind::nesting_too_deep_to_read;
  }
};

// The exact text of the failure's message.
std::string failure_message(const Failure& failure);

}  // namespace vardelquin
