#include "parser/reader.h"

#include <gtest/gtest.h>

#include <charconv>
#include <string>

namespace vardelquin {
namespace {

const FormatConfig& default_config() {
  static const FormatConfig config = *FormatConfig::defaults();
  return config;
}

// Results are shown as Python shows the dict they become, except that
// repeated top-level keys stay visible.
std::string show(std::string_view key, const Value& v);

std::string show(const Value& v) {
  std::string out;
  switch (v.tag()) {
    case ValueTag::Null: return "None";
    case ValueTag::Bool: return v.as_bool() ? "True" : "False";
    case ValueTag::Int: return std::to_string(v.as_int());
    case ValueTag::Float: {
      char buffer[32];
      return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, v.as_float()).ptr);
    }
    case ValueTag::Str: return "'" + std::string(v.as_str()) + "'";
    case ValueTag::List:
      for (const auto& item : v.as_list()) out += (out.empty() ? "" : ", ") + show(item);
      return "[" + out + "]";
    case ValueTag::Object:
      for (const auto& [key, value] : v.as_object()) out += (out.empty() ? "" : ", ") + show(key, value);
      return "{" + out + "}";
  }
  return "?";
}

std::string show(std::string_view key, const Value& v) { return "'" + std::string(key) + "': " + show(v); }

// The document, or "error: " and the message.
std::string read(const std::string& text, const FormatConfig& config = default_config()) {
  const auto result = parse_document(text, config);
  if (!result) return "error: " + result.error().message;
  std::string out;
  for (const auto& [key, value] : *result) out += (out.empty() ? "" : ", ") + show(key, value);
  return "{" + out + "}";
}

struct ReadCase {
  const char* text;
  const char* expected;
};

TEST(ParseDocument, ReadsWhatTheTextSays) {
  const ReadCase cases[] = {
      {"", "{}"}, {";;;", "{}"}, {"a=1;b=2", "{'a': 1, 'b': 2}"},
      {";;a=1;;;b=2;;", "{'a': 1, 'b': 2}"}, {"k=1;k=2;", "{'k': 1, 'k': 2}"},
      // An empty key is a key, at the top level as inside objects.
      {"=1;b=2;", "{'': 1, 'b': 2}"}, {"=", "{'': ''}"},
      {"a=1;=2;b=3;", "{'a': 1, '': 2, 'b': 3}"}, {"a=1=2;b=3;", "{'a': 1, '': 2, 'b': 3}"},
      {"x;y=1;", "{'x;y': 1}"}, {" a = 1 ;", "{' a ': ' 1 '}"}, {"a=", "{'a': ''}"},
      {"a=x\\", "{'a': 'x'}"}, {"k\\=y=1;", "{'k=y': 1}"}, {"a=\\[1\\];", "{'a': '[1]'}"},
      {"a=\\{x\\}", "{'a': '{x}'}"}, {"a=x[1;", "{'a': 'x[1'}"},
      {"a=\\\\;b=\\\\\\;", "{'a': '\\', 'b': '\\;'}"},
      {"a=\\\xC3\xA9\\\xF0\x9F\x98\x80;", "{'a': '\xC3\xA9\xF0\x9F\x98\x80'}"},
      {"a=tr\\ue;b=\\1\\2", "{'a': True, 'b': 12}"},
      {"a=[null|true|false|-1.5|x]", "{'a': [None, True, False, -1.5, 'x']}"},
      {"a=[1|2]b=3;", "{'a': [1, 2], 'b': 3}"}, {"a=[]", "{'a': []}"},
      {"a=[|]", "{'a': ['', '']}"}, {"a=[x|]", "{'a': ['x', '']}"},
      {"a=[[]|{}]", "{'a': [[], {}]}"}, {"a={=1}", "{'a': {'': 1}}"},
      {"a={x=1;x=2}", "{'a': {'x': 2}}"}, {"a={;x=1}", "{'a': {';x': 1}}"},
      {"a={b=1;a=[2];b=3}", "{'a': {'a': [2], 'b': 3}}"},
      {"a={x={y=[1|{z=}]}}", "{'a': {'x': {'y': [1, {'z': ''}]}}}"},
  };
  for (const auto& c : cases) EXPECT_EQ(read(c.text), c.expected) << "text: " << c.text;
}

TEST(ParseDocument, ReportsTheFirstError) {
  const ReadCase cases[] = {
      {"a", "Expected '=' but got EOF"}, {"a={x", "Expected '=' but got EOF"},
      {"a={", "Expected '=' but got EOF"}, {"a=1;\\", "Expected '=' but got EOF"},
      {"\\", "Expected '=' but got EOF"}, {"a=[1|2", "Unterminated list"},
      {"a=[", "Unterminated list"}, {"a={x=1", "Unterminated object"},
      {"a={x=", "Unterminated object"}, {"a={b}", "Expected '=' but got '}' at pos 4"},
      {"a={x=1;}", "Expected '=' but got '}' at pos 7"},
      {"a=[1}2]", "Unexpected '}' in list at pos 4"},
      {"a={x=1]", "Unexpected ']' in object at pos 6"},
      {"a=[[1]\n]", "Unexpected '\\n' in list at pos 6"},
      {"a=[{}']", "Unexpected '\\'' in list at pos 5"},
      {"a={x={}\t}", "Unexpected '\\t' in object at pos 7"},
      // Positions count bytes; a lead byte shows as the character of its number.
      {"a=[[1]\xC3\xA9]", "Unexpected '\xC3\x83' in list at pos 6"},
      {"\xC3\xA9={x}", "Expected '=' but got '}' at pos 5"},
      {"\xC3\xBC\xE2\x82\xAC=[1}", "Unexpected '}' in list at pos 8"},
      {"\xF0\x9F\x98\x80=[[]\xF0\x9F\x98\x80]", "Unexpected '\xC3\xB0' in list at pos 8"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read(c.text), "error: " + std::string(c.expected)) << "text: " << c.text;
  }
}

TEST(ParseDocument, FollowsTheConfiguredDelimiters) {
  FormatFields fields = FormatFields::default_values();
  fields.delimiters = {U',', U':', U'(', U')', U'/', U'<', U'>', U'~'};
  const FormatConfig config = *FormatConfig::create(fields);
  EXPECT_EQ(read("a:(1/2),b:<x:~,>,c:x;y=z[|]", config),
            "{'a': [1, 2], 'b': {'x': ','}, 'c': 'x;y=z[|]'}");
  EXPECT_EQ(read("a", config), "error: Expected ':' but got EOF");
  EXPECT_EQ(read("a:<b>", config), "error: Expected ':' but got '>' at pos 4");
  EXPECT_EQ(read("a:(1>", config), "error: Unexpected '>' in list at pos 4");
}

// Runs of ordinary bytes are copied in bulk; an escape at any offset within
// or around such a run must still land where it stood.
TEST(ParseDocument, EscapesAtEveryOffsetOfARun) {
  for (std::size_t length = 1; length <= 40; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      std::string token(length, 'x');
      token[at] = ';';
      std::string text = "k=" + token + ";";
      text.insert(2 + at, 1, '\\');
      EXPECT_EQ(read(text), "{'k': '" + token + "'}") << text;
    }
  }
}

std::string nested_lists(std::size_t depth) {
  return "a=" + std::string(depth, '[') + "1" + std::string(depth, ']');
}

TEST(ParseDocument, BoundsTheNestingDepth) {
  const std::string deepest = read(nested_lists(1000));
  EXPECT_EQ(deepest, "{'a': " + std::string(1000, '[') + "1" + std::string(1000, ']') + "}");
  EXPECT_EQ(read(nested_lists(1001)), "error: Maximum nesting depth of 1000 exceeded at pos 1002");
  EXPECT_EQ(read("a=" + std::string(1'000'000, '[')),
            "error: Maximum nesting depth of 1000 exceeded at pos 1002");
  std::string objects = "a=";
  for (int i = 0; i < 1001; ++i) objects += "{k=";
  EXPECT_EQ(read(objects), "error: Maximum nesting depth of 1000 exceeded at pos 3002");
}

}  // namespace
}  // namespace vardelquin
