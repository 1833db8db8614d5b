// Any text under any valid configuration: the first bytes choose the
// configuration, the rest (made well-formed UTF-8, the reader's
// precondition) is read. The reader must return a document whose shape
// holds the tree's invariants and that reads back from its own text, or
// a failure with a true position and character.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "failure.h"
#include "fuzz_support.h"
#include "tree/tree_reader.h"
#include "tree_model.h"

namespace vardelquin::fuzz {
namespace {

// `depth` counts the containers around `v`.
// Strings are well formed and never spell a keyword or a number (those
// were typed), object keys ascend strictly, nesting stays in the bound.
void check_value(const Value& v, const FormatConfig& config, std::size_t depth) {
  if (v.tag() == ValueTag::List || v.tag() == ValueTag::Object) FUZZ_CHECK(depth < max_nesting_depth);
  switch (v.tag()) {
    case ValueTag::Str:
      FUZZ_CHECK(is_valid_utf8(v.as_str()), v.as_str());
      FUZZ_CHECK(reference_decode(v.as_str(), config).tag() == ValueTag::Str, v.as_str());
      return;
    case ValueTag::List:
      for (const Value& item : v.as_list()) check_value(item, config, depth + 1);
      return;
    case ValueTag::Object: {
      const Member* previous = nullptr;
      for (const Member& m : v.as_object()) {
        FUZZ_CHECK(is_valid_utf8(m.key), m.key);
        FUZZ_CHECK(previous == nullptr || previous->key < m.key, m.key);
        previous = &m;
        check_value(m.value, config, depth + 1);
      }
      return;
    }
    default: return;
  }
}

// The failure is true to the text: the failures about running out of text
// are at its end; the others name a byte inside it, show that byte, and
// the byte is one they can be about. The message ends with the offset
// wherever the byte is shown.
void check_failure(const Failure& f, std::string_view text, const FormatConfig& config) {
  const std::string message = failure_message(f);
  const char32_t kv_sep = config.delimiter(Delimiter::kv_sep);
  const auto is = [&](unsigned char b, Delimiter d) {
    return b == static_cast<unsigned char>(config.byte(d));
  };
  FUZZ_CHECK(f.has_offset(), message);
  if (f.kind == FailureKind::key_runs_to_end || f.kind == FailureKind::list_unterminated ||
      f.kind == FailureKind::object_unterminated) {
    FUZZ_CHECK(f.offset == text.size(), message);
    FUZZ_CHECK(f.kind != FailureKind::key_runs_to_end || f.expected == kv_sep, message);
    return;
  }
  FUZZ_CHECK(f.offset < text.size(), message);
  const std::string at_pos = " at pos " + std::to_string(f.offset);
  FUZZ_CHECK(message.ends_with(at_pos), message);
  const auto b = static_cast<unsigned char>(text[f.offset]);
  switch (f.kind) {
    case FailureKind::key_ends_without_kv_sep:
      FUZZ_CHECK(f.character == b && f.expected == kv_sep && is(b, Delimiter::obj_close), message);
      return;
    case FailureKind::list_unexpected_byte:
      FUZZ_CHECK(f.character == b && !is(b, Delimiter::list_sep) && !is(b, Delimiter::list_close), message);
      return;
    case FailureKind::object_unexpected_byte:
      FUZZ_CHECK(f.character == b && !is(b, Delimiter::field_sep) && !is(b, Delimiter::obj_close), message);
      return;
    case FailureKind::nesting_too_deep_to_read:
      FUZZ_CHECK(is(b, Delimiter::list_open) || is(b, Delimiter::obj_open), message);
      return;
    default: fail("not a reader failure", message);
  }
}

}  // namespace
}  // namespace vardelquin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vardelquin;
  fuzz::ByteSource in(data, size);
  const FormatConfig config = fuzz::config_from(in);
  const std::string_view raw = in.rest();
  const std::string text = fuzz::is_valid_utf8(raw) ? std::string(raw) : fuzz::repair_utf8(raw);
  const auto document = parse_document(text, config);
  if (!document) {
    fuzz::check_failure(document.error(), text, config);
    return 0;
  }
  for (const auto& [key, value] : *document) {
    FUZZ_CHECK(fuzz::is_valid_utf8(key), key);
    fuzz::check_value(value, config, 0);
  }
  fuzz::check_reads_back(*document, config);
  return 0;
}
