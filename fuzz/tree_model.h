// What the format promises for a written tree when it is read back, stated
// independently of the reader: every scalar is typed again from the text it
// was written as (keywords and numbers win over strings), NaN loses its
// sign and payload, and a list whose only item is the empty string reads
// back as the empty list. Also a printer for failure reports.
#pragma once

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/format_config.h"
#include "fuzz_support.h"
#include "scalar_oracle.h"
#include "tree/document.h"
#include "tree/tree_reader.h"
#include "tree/tree_writer.h"

namespace vardelquin::fuzz {

inline std::string show(const Value& v) {
  std::string out;
  switch (v.tag()) {
    case ValueTag::Null: return "Null";
    case ValueTag::Bool: return v.as_bool() ? "True" : "False";
    case ValueTag::Int: return std::to_string(v.as_int());
    case ValueTag::Float: {
      char buffer[64];
      const auto bits = std::bit_cast<std::uint64_t>(v.as_float());
      const auto end = std::to_chars(buffer, buffer + sizeof buffer, bits, 16).ptr;
      return "f0x" + std::string(buffer, end);
    }
    case ValueTag::Str: return "'" + std::string(v.as_str()) + "'";
    case ValueTag::List:
      for (const Value& item : v.as_list()) out += (out.empty() ? "" : ", ") + show(item);
      return "[" + out + "]";
    case ValueTag::Object:
      for (const auto& [key, value] : v.as_object()) {
        out += (out.empty() ? "'" : ", '") + std::string(key) + "': " + show(value);
      }
      return "{" + out + "}";
  }
  return "?";
}

inline std::string show(const Document& d) {
  std::string out;
  for (const auto& [key, value] : d)
    out += (out.empty() ? "'" : ", '") + std::string(key) + "': " + show(value);
  return "{" + out + "}";
}

// Containers around the deepest value, counting this one.
inline std::size_t depth_of(const Value& v) {
  std::size_t deepest = 0;
  if (v.tag() == ValueTag::List) {
    for (const Value& item : v.as_list()) deepest = std::max(deepest, depth_of(item));
    return deepest + 1;
  }
  if (v.tag() == ValueTag::Object) {
    for (const auto& member : v.as_object()) deepest = std::max(deepest, depth_of(member.value));
    return deepest + 1;
  }
  return 0;
}

// The value that reading back the text of `v` must give. New lists and
// objects go to `arena`; strings stay views of `v`'s.
inline Value expected_after_reading(const Value& v, const FormatConfig& config, Arena& arena) {
  const auto retyped = [&](std::string_view spelling, Value otherwise) {
    const Value typed = reference_decode(spelling, config);
    return typed.tag() == ValueTag::Str ? otherwise : typed;
  };
  switch (v.tag()) {
    case ValueTag::Null:
    case ValueTag::Bool: return v;
    case ValueTag::Int: return reference_decode(std::to_string(v.as_int()), config);
    case ValueTag::Float: {
      double x = v.as_float();
      if (x != x) x = std::bit_cast<double>(std::uint64_t{0x7FF8000000000000});
      // The spelling of a float is never an integer, only maybe a keyword.
      return retyped(format_float(v.as_float()), Value::floating(x));
    }
    case ValueTag::Str: {
      const Value typed = reference_decode(v.as_str(), config);
      return typed.tag() == ValueTag::Str ? v : typed;
    }
    case ValueTag::List: {
      const auto items = v.as_list();
      if (items.size() == 1 && items[0].tag() == ValueTag::Str && items[0].as_str().empty()) {
        return Value::list({});
      }
      std::vector<Value> out;
      for (const Value& item : items) out.push_back(expected_after_reading(item, config, arena));
      return make_list(arena, out);
    }
    case ValueTag::Object: {
      std::vector<Member> out;
      for (const auto& [key, value] : v.as_object()) {
        out.push_back(Member{key, expected_after_reading(value, config, arena)});
      }
      return make_object(arena, out);
    }
  }
  return v;
}

// Top-level entries keep their order, their keys and their repeats.
inline void expected_after_reading(const Document& d, const FormatConfig& config, Document& out) {
  for (const auto& [key, value] : d) out.append(key, expected_after_reading(value, config, out.arena()));
}

// Writes, checks that writing is deterministic, reads back and compares
// with the promise above. The tree must be no deeper than the bound.
inline void check_reads_back(const Document& d, const FormatConfig& config) {
  const std::string text(write_document(d, config).view());
  FUZZ_CHECK(write_document(d, config) == text, "writing twice differs");
  FUZZ_CHECK(is_valid_utf8(text), text);
  const auto read = parse_document(text, config);
  FUZZ_CHECK(read.has_value(), "text: " + text + "\nerror: " + failure_message(read.error()));
  Document expected;
  expected_after_reading(d, config, expected);
  FUZZ_CHECK(*read == expected,
             "text: " + text + "\nread:     " + show(*read) + "\nexpected: " + show(expected));
  // A second round keeps the promise too, and then changes nothing.
  const std::string again(write_document(*read, config).view());
  const auto reread = parse_document(again, config);
  FUZZ_CHECK(reread.has_value(), "again: " + again + "\nerror: " + failure_message(reread.error()));
  Document expected_again;
  expected_after_reading(*read, config, expected_again);
  FUZZ_CHECK(*reread == expected_again, "again: " + again + "\nreread: " + show(*reread));
  FUZZ_CHECK(write_document(*reread, config) == again, again);
}

}  // namespace vardelquin::fuzz
