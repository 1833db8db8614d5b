// Any text under any valid configuration: the first bytes choose the
// configuration, the rest (made well-formed UTF-8, the reader's
// precondition) is read. The reader must return a document whose shape
// holds the tree's invariants and that reads back from its own text, or
// one of its messages with a true position and character.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/literal_form.h"
#include "fuzz_support.h"
#include "reader/reader.h"
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

// `rest` must be decimal digits without leading zeros naming an offset
// inside `text`; returns it.
std::size_t position(std::string_view rest, std::string_view text) {
  FUZZ_CHECK(!rest.empty() && rest.size() <= 20, rest);
  FUZZ_CHECK(rest == "0" || rest.front() != '0', rest);
  std::size_t p = 0;
  for (const char c : rest) {
    FUZZ_CHECK(c >= '0' && c <= '9', rest);
    p = p * 10 + static_cast<std::size_t>(c - '0');
  }
  FUZZ_CHECK(p < text.size(), rest);
  return p;
}

bool consume(std::string_view& s, std::string_view prefix) {
  if (s.substr(0, prefix.size()) != prefix) return false;
  s.remove_prefix(prefix.size());
  return true;
}

// The character shown is the byte at the position, and that byte is one
// that the message can be about.
void check_error(std::string_view m, std::string_view text, const FormatConfig& config) {
  const std::string whole(m);
  const auto byte_at = [&](std::size_t p) { return static_cast<unsigned char>(text[p]); };
  const auto shown_byte = [&](std::string_view& rest, std::string_view tail) {
    // The literal is followed by `tail` and the position.
    const std::size_t at = rest.rfind(tail);
    FUZZ_CHECK(at != std::string_view::npos, whole);
    const std::string_view literal = rest.substr(0, at);
    const std::size_t p = position(rest.substr(at + tail.size()), text);
    FUZZ_CHECK(literal == char_literal(byte_at(p)), whole);
    return byte_at(p);
  };
  const std::string kv = char_literal(config.delimiter(Delimiter::kv_sep));
  const auto is = [&](unsigned char b, Delimiter d) { return b == static_cast<unsigned char>(config.byte(d)); };
  std::string_view rest = m;
  if (m == "Unterminated list" || m == "Unterminated object") return;
  if (consume(rest, "Expected " + kv + " but got ")) {
    if (rest == "EOF") return;
    FUZZ_CHECK(is(shown_byte(rest, " at pos "), Delimiter::obj_close), whole);
    return;
  }
  if (consume(rest, "Unexpected ")) {
    if (rest.find(" in list at pos ") != std::string_view::npos) {
      const unsigned char b = shown_byte(rest, " in list at pos ");
      FUZZ_CHECK(!is(b, Delimiter::list_sep) && !is(b, Delimiter::list_close), whole);
    } else {
      const unsigned char b = shown_byte(rest, " in object at pos ");
      FUZZ_CHECK(!is(b, Delimiter::field_sep) && !is(b, Delimiter::obj_close), whole);
    }
    return;
  }
  if (consume(rest, "Maximum nesting depth of 1000 exceeded at pos ")) {
    const unsigned char b = byte_at(position(rest, text));
    FUZZ_CHECK(is(b, Delimiter::list_open) || is(b, Delimiter::obj_open), whole);
    return;
  }
  fail("unknown message", whole);
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
    fuzz::check_error(document.error().message, text, config);
    return 0;
  }
  for (const auto& [key, value] : *document) {
    FUZZ_CHECK(fuzz::is_valid_utf8(key), key);
    fuzz::check_value(value, config, 0);
  }
  fuzz::check_reads_back(*document, config);
  return 0;
}
