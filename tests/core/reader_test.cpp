#include "tree/tree_reader.h"

#include <gtest/gtest.h>

#include <charconv>
#include <string>

namespace vardelquin {
namespace {

const FormatConfig& default_config() {
  static const FormatConfig config = *FormatConfig::defaults();
  return config;
}

std::string show(const Value& v);

// Members as Python shows the dict they become, except that repeated
// top-level keys stay visible.
std::string show_members(const auto& m) {
  std::string out;
  for (const auto& [key, value] : m)
    out += (out.empty() ? "'" : ", '") + std::string(key) + "': " + show(value);
  return "{" + out + "}";
}

std::string show(const Value& v) {
  char number[32];
  std::string items;
  switch (v.tag()) {
    case ValueTag::Null: return "None";
    case ValueTag::Bool: return v.as_bool() ? "True" : "False";
    case ValueTag::Int: return std::to_string(v.as_int());
    case ValueTag::Float: return {number, std::to_chars(number, number + sizeof number, v.as_float()).ptr};
    case ValueTag::Str: return "'" + std::string(v.as_str()) + "'";
    case ValueTag::List:
      for (const auto& item : v.as_list()) items += (items.empty() ? "" : ", ") + show(item);
      return "[" + items + "]";
    case ValueTag::Object: return show_members(v.as_object());
  }
  return "?";
}

// The document, or "error: " and the message.
std::string read(const std::string& text, const FormatConfig& config = default_config()) {
  const auto result = parse_document(text, config);
  return result ? show_members(*result) : "error: " + failure_message(result.error());
}

TEST(ParseDocument, ReadsWhatTheTextSays) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"", "{}"},
      {";;a=1;;;b=2;;", "{'a': 1, 'b': 2}"},
      {"k=1;k=2;", "{'k': 1, 'k': 2}"},
      // An empty key is a key, at the top level as inside objects.
      {"=", "{'': ''}"},
      {"a=1=2;b=3;", "{'a': 1, '': 2, 'b': 3}"},
      {"a={=1}", "{'a': {'': 1}}"},
      {"x;y=1;", "{'x;y': 1}"},
      {" a = 1 ;", "{' a ': ' 1 '}"},
      {"a=x\\", "{'a': 'x'}"},
      {"a=", "{'a': ''}"},
      {"k\\=y=1;", "{'k=y': 1}"},
      {"a=\\[1\\];", "{'a': '[1]'}"},
      {"a=x[1;", "{'a': 'x[1'}"},
      {"a=\\\\;b=\\\\\\;", "{'a': '\\', 'b': '\\;'}"},
      {"a=tr\\ue;b=\\1\\2", "{'a': True, 'b': 12}"},
      {"a=\\\xC3\xA9\\\xF0\x9F\x98\x80;", "{'a': '\xC3\xA9\xF0\x9F\x98\x80'}"},
      {"a=[null|true|false|-1.5|x]", "{'a': [None, True, False, -1.5, 'x']}"},
      {"a=[1|2]b=3;", "{'a': [1, 2], 'b': 3}"},
      {"a=[[]|{}|]", "{'a': [[], {}, '']}"},
      {"a=[|]", "{'a': ['', '']}"},
      {"a={;x=1}", "{'a': {';x': 1}}"},
      {"a={b=1;a=[2];b=3}", "{'a': {'a': [2], 'b': 3}}"},
      {"a={x={y=[1|{z=}]}}", "{'a': {'x': {'y': [1, {'z': ''}]}}}"},
  };
  for (const auto& c : cases) EXPECT_EQ(read(c.text), c.expected) << "text: " << c.text;
}

TEST(ParseDocument, ReportsTheFirstError) {
  const FormatConfig other =
      *FormatConfig::create({{U',', U':', U'(', U')', U'/', U'<', U'>', U'~'}, {"null", "true", "false"}});
  const struct {
    const char* text;
    const char* expected;
    const FormatConfig& config = default_config();
  } cases[] = {
      {"a", "Expected '=' but got EOF"},
      {"a={x", "Expected '=' but got EOF"},
      {"a=1;\\", "Expected '=' but got EOF"},
      {"a=[1|2", "Unterminated list"},
      {"a={x=", "Unterminated object"},
      {"a={b}", "Expected '=' but got '}' at pos 4"},
      {"a={x=1;}", "Expected '=' but got '}' at pos 7"},
      {"a=[1}2]", "Unexpected '}' in list at pos 4"},
      {"a={x=1]", "Unexpected ']' in object at pos 6"},
      {"a=[[1]\n]", "Unexpected '\\n' in list at pos 6"},
      {"a={x={}\t}", "Unexpected '\\t' in object at pos 7"},
      {"a=[{}']", "Unexpected '\\'' in list at pos 5"},
      {"a:(1>", "Unexpected '>' in list at pos 4", other},
      // Positions count bytes; a lead byte shows as the character of its number.
      {"a=[[1]\xC3\xA9]", "Unexpected '\xC3\x83' in list at pos 6"},
      {"\xC3\xA9={x}", "Expected '=' but got '}' at pos 5"},
      {"\xF0\x9F\x98\x80=[[]\xF0\x9F\x98\x80]", "Unexpected '\xC3\xB0' in list at pos 8"},
      {"a", "Expected ':' but got EOF", other},
      {"a:<b>", "Expected ':' but got '>' at pos 4", other},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read(c.text, c.config), "error: " + std::string(c.expected)) << "text: " << c.text;
  }
  EXPECT_EQ(read("a:(1/2),b:<x:~,>,c:x;y=z[|]", other), "{'a': [1, 2], 'b': {'x': ','}, 'c': 'x;y=z[|]'}");
}

// Runs of ordinary bytes are scanned in bulk; an escape at any offset within
// or around such a run must still take effect where it stands. Long runs
// after an escape outgrow the first scratch buffer.
TEST(ParseDocument, EscapesAtEveryOffsetOfARun) {
  for (std::size_t length = 1; length <= 80; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      const std::string token = std::string(at, 'x') + ";" + std::string(length - at - 1, 'x');
      EXPECT_EQ(read("k=" + token.substr(0, at) + "\\" + token.substr(at) + ";"), "{'k': '" + token + "'}");
    }
  }
}

TEST(ParseDocument, BoundsTheNestingDepth) {
  const auto lists = [](std::size_t depth) {
    return std::string(depth, '[') + "1" + std::string(depth, ']');
  };
  EXPECT_EQ(read("a=" + lists(1000)), "{'a': " + lists(1000) + "}");
  EXPECT_EQ(read("a=" + lists(1001)), "error: Maximum nesting depth of 1000 exceeded at pos 1002");
  EXPECT_EQ(read("a=" + std::string(1'000'000, '[')),
            "error: Maximum nesting depth of 1000 exceeded at pos 1002");
  std::string objects = "a=";
  for (int i = 0; i < 1001; ++i) objects += "{k=";
  EXPECT_EQ(read(objects), "error: Maximum nesting depth of 1000 exceeded at pos 3002");
}

// Nesting is followed on a heap stack: errors at any depth, and on the way
// back out, are reported as at the top, and the deepest text that reads
// comes back whole.
TEST(ParseDocument, ReadsAndFailsAtDepth) {
  const auto repeat = [](const std::string& piece, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += piece;
    return out;
  };
  const struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {"a=" + repeat("[", 1000) + "1}", "error: Unexpected '}' in list at pos 1003"},
      {"a=" + repeat("{k=", 1000) + "1", "error: Unterminated object"},
      {"a=" + repeat("[{k=", 500) + "1;}", "error: Expected '=' but got '}' at pos 2004"},
      {"a=" + repeat("[", 999) + repeat("]", 998) + "}", "error: Unexpected '}' in list at pos 1999"},
      {"a=" + repeat("{k=[", 500) + repeat("]}", 499) + "]]", "error: Unexpected ']' in object at pos 3001"},
      {"a=" + repeat("[{k=", 500) + "x" + repeat("}]", 500) + "b=" + repeat("[[]|", 2) + "{}]]",
       "{'a': " + repeat("[{'k': ", 500) + "'x'" + repeat("}]", 500) + ", 'b': [[], [[], {}]]}"},
  };
  for (const auto& c : cases) EXPECT_EQ(read(c.text), c.expected) << "text: " << c.text.substr(0, 40);
}

}  // namespace
}  // namespace vardelquin
