#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reader/escape_runs.h"
#include "reader/text_reader.h"

namespace vardelquin {
namespace {

// Every block of escapes, with and without an escape carried in, against a
// walk through its bytes.
TEST(EscapedInBlock, AgreesWithAByteWalk) {
  for (std::uint32_t carried = 0; carried <= 1; ++carried) {
    for (std::uint32_t escapes = 0; escapes < (1u << 16); ++escapes) {
      std::uint32_t expected = 0;
      bool escaped = carried != 0;
      for (unsigned i = 0; i < 16; ++i) {
        if (escaped) expected |= 1u << i;
        escaped = !escaped && (escapes >> i & 1) != 0;
      }
      if (escaped) expected |= 1u << 16;
      ASSERT_EQ(reading::escaped_in_block(escapes, carried), expected) << escapes << " " << carried;
    }
  }
}

// The top-level keys and scalars of a document, as "key:" or "value:" and
// the token's bytes, with a '+' after a lasting one.
struct TokenSink {
  std::vector<std::string> tokens;

  bool entry_key(Token key) { return note("key:", key.text, key.lasting); }
  bool member_key(Token) { return false; }
  bool scalar(Value value, bool lasting) {
    return note("value:", value.tag() == ValueTag::Str ? value.as_str() : "(typed)", lasting);
  }
  bool open_list() { return false; }
  bool close_list() { return false; }
  bool open_object() { return false; }
  bool close_object() { return false; }

  bool note(std::string_view what, std::string_view text, bool lasting) {
    tokens.push_back(std::string(what).append(text).append(lasting ? "+" : ""));
    return true;
  }
};

// The same for a document of keys and strings in the default dialect, read
// one byte at a time; "error" where a key runs to the end.
std::vector<std::string> walk_tokens(std::string_view text) {
  std::vector<std::string> tokens;
  std::size_t p = 0;
  const auto token = [&](std::string_view stops) {
    std::string out;
    bool lasting = true;
    while (p < text.size() && stops.find(text[p]) == std::string_view::npos) {
      if (text[p] == '\\') {
        lasting = false;
        if (++p == text.size()) break;
      }
      out += text[p++];
    }
    return out + (lasting ? "+" : "");
  };
  for (;;) {
    while (p < text.size() && text[p] == ';') ++p;
    if (p == text.size()) return tokens;
    const std::string key = token("=");
    if (p++ == text.size()) {
      tokens.push_back("error");
      return tokens;
    }
    tokens.push_back("key:" + key);
    tokens.push_back("value:" + token(";=|]}"));
    if (p < text.size() && text[p] == ';') ++p;
  }
}

std::vector<std::string> read_tokens(std::string_view text, std::string& scratch) {
  static const FormatConfig config = *FormatConfig::defaults();
  TokenSink sink;
  TextReader reader(text, config, sink, scratch);
  const ReadEnd end = reader.read();
  if (end == ReadEnd::malformed) sink.tokens.push_back("error");
  EXPECT_NE(end, ReadEnd::stopped);
  return sink.tokens;
}

// A run of escapes of each length, at each offset from a token's first
// escape past two blocks of the vectorised scan, before each kind of byte
// (a stop, ASCII, a multi-byte character, the end of the text), among
// ASCII or multi-byte characters, with a rest of the token too short for
// another block or long enough for several.
TEST(EscapedTokens, RunsOfEscapesAtEveryOffset) {
  const std::string fills[] = {"a", "\xC3\xA9", "\xE6\x97\xA5"};
  const std::string befores[] = {";", "|", "=", "x", "\xC3\xA9", "\xF0\x9F\x98\x80", ""};
  std::string scratch;
  for (const std::string& fill : fills) {
    for (std::size_t at = 0; at < 70; ++at) {
      std::string lead = "\\=";  // the first escape
      while (lead.size() < 2 + at) lead += lead.size() + fill.size() <= 2 + at ? fill : "b";
      for (std::size_t run = 1; run <= 5; ++run) {
        for (const std::string& before : befores) {
          for (const std::size_t rest : {0u, 7u, 40u}) {
            std::string text = "k=" + lead + std::string(run, '\\') + before;
            if (!before.empty()) {
              for (std::size_t i = 0; i < rest; ++i) text += fill;
              text += ";z=1\\;";
            }
            const std::size_t had = scratch.size();
            EXPECT_EQ(read_tokens(text, scratch), walk_tokens(text)) << text;
            EXPECT_GE(scratch.size(), had);
          }
        }
      }
    }
  }
}

// Escapes packed densely, as in text where most characters are delimiters:
// mixes of escaped delimiters, escaped escapes and letters, made by a
// fixed generator, shifted across block boundaries, and ended by a stop,
// an escape or the end of the text.
TEST(EscapedTokens, DenseEscapes) {
  const std::string pieces[] = {"\\;", "\\\\", "x", "\\|", "\xC3\xA9", "\\x"};
  std::string scratch;
  for (std::size_t shift = 0; shift < 20; ++shift) {
    for (std::uint32_t pattern = 0; pattern < 1000; ++pattern) {
      std::string token = "\\]" + std::string(shift, 'q');
      for (std::uint32_t state = pattern, i = 0; i < 16; ++i) {
        state = state * 1103515245u + 12345u;
        token += pieces[(state >> 16) % 6];
      }
      // The next token, right after the stop, is in the stop's block.
      for (const std::string& end : {";j=" + token, "|" + token, std::string("\\"), std::string()}) {
        const std::string text = "k=" + token + end;
        EXPECT_EQ(read_tokens(text, scratch), walk_tokens(text)) << text;
      }
    }
  }
}

// A token without an escape is a view of the text; one with an escape
// only in the scan's tail, or in its first block, is not.
TEST(EscapedTokens, OnlyEscapedTokensAreCopied) {
  std::string scratch;
  const std::string plain(100, 'p');
  EXPECT_EQ(read_tokens("k=" + plain + ";", scratch),
            (std::vector<std::string>{"key:k+", "value:" + plain + "+"}));
  EXPECT_EQ(read_tokens("k=" + plain + "\\", scratch),
            (std::vector<std::string>{"key:k+", "value:" + plain}));
  EXPECT_EQ(read_tokens("k=\\" + plain, scratch), (std::vector<std::string>{"key:k+", "value:" + plain}));
}

}  // namespace
}  // namespace vardelquin
