// Every message of the core, in one table-like switch, so that their exact
// texts can be read and tested together. Characters are shown in their
// literal form, offsets in plain decimal.
#include <string>
#include <string_view>

#include "config/format_config.h"
#include "config/literal_form.h"
#include "failure.h"
#include "format_limits.h"

namespace vardelquin {
namespace {

// Appending parts avoids operator+ on a literal and a temporary, which one
// compiler release misreads as an overlapping copy and warns about.
std::string join(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (const std::string_view part : parts) out += part;
  return out;
}

}  // namespace

std::string failure_message(const Failure& f) {
  const std::string_view field = field_names[f.field];
  const std::string_view other = field_names[f.other_field];
  const std::string depth = std::to_string(max_nesting_depth);
  const std::string pos = std::to_string(f.offset);
  switch (f.kind) {
    case FailureKind::delimiter_not_ascii:
      return join({"'", field, "' must be an ASCII character, got ", char_literal(f.character)});
    case FailureKind::delimiters_equal:
      return join(
          {"Delimiter conflict: '", field, "' and '", other, "' are both ", char_literal(f.character)});
    case FailureKind::keyword_empty: return join({"'", field, "' must not be empty"});
    case FailureKind::keywords_equal: return join({field, " and ", other, " must be different"});
    case FailureKind::keyword_contains_delimiter:
      return join({"'", field, "' contains delimiter character ", char_literal(f.character)});
    case FailureKind::key_runs_to_end: return join({"Expected ", char_literal(f.expected), " but got EOF"});
    case FailureKind::key_ends_without_kv_sep:
      return join(
          {"Expected ", char_literal(f.expected), " but got ", char_literal(f.character), " at pos ", pos});
    case FailureKind::list_unterminated: return "Unterminated list";
    case FailureKind::list_unexpected_byte:
      return join({"Unexpected ", char_literal(f.character), " in list at pos ", pos});
    case FailureKind::object_unterminated: return "Unterminated object";
    case FailureKind::object_unexpected_byte:
      return join({"Unexpected ", char_literal(f.character), " in object at pos ", pos});
    case FailureKind::nesting_too_deep_to_read:
      return join({"Maximum nesting depth of ", depth, " exceeded at pos ", pos});
    case FailureKind::nesting_too_deep_to_write:
      return join({"Maximum nesting depth of ", depth, " exceeded"});
  }
  return "unknown failure";
}

}  // namespace vardelquin
