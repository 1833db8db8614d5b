#include <gtest/gtest.h>

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "reader/text_reader.h"

namespace vardelquin {
namespace {

// A sink that asks to be polled every 64 bytes; it counts the values
// completed, and notes that count at every poll.
struct PollingSink {
  static constexpr std::size_t poll_interval = 64;
  std::size_t values = 0;
  std::vector<std::size_t> polled_after;
  std::size_t stop_at_poll = std::numeric_limits<std::size_t>::max();

  bool entry_key(Token) { return true; }
  bool member_key(Token) { return true; }
  bool scalar(Value, bool) { return ++values, true; }
  bool open_list() { return true; }
  bool close_list() { return ++values, true; }
  bool open_object() { return true; }
  bool close_object() { return ++values, true; }
  bool poll() {
    polled_after.push_back(values);
    return polled_after.size() != stop_at_poll;
  }
};

std::string repeated(std::string_view piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// Every shape of text has a test for its end after each value (top-level
// entries, list items, object members, containers closing), and so is
// polled once per interval, however its values nest.
TEST(TextReaderPolls, OncePerIntervalBetweenValues) {
  const FormatConfig config = *FormatConfig::defaults();
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"entries", repeated("key=12345;", 100)},
      {"list items", "a=[" + repeated("12345|", 100) + "0];"},
      {"members", "a={" + repeated("k=null;", 100) + "z=1};"},
      {"nested", "a=[" + repeated("{k=[1|[]]}|", 50) + "{}];"},
      {"shorter than one interval", "a=[1|2|{b=3}];"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PollingSink sink;
    std::string scratch;
    TextReader reader(c.text, config, sink, scratch);
    ASSERT_EQ(reader.read(), ReadEnd::complete);
    // No value is longer than 16 bytes here, so a poll comes within 16
    // bytes of being due.
    const std::size_t size = c.text.size();
    EXPECT_LE(sink.polled_after.size(), size / PollingSink::poll_interval);
    EXPECT_GE(sink.polled_after.size() + 1, size / (PollingSink::poll_interval + 16));
  }
}

TEST(TextReaderPolls, AFalsePollStopsTheRead) {
  const FormatConfig config = *FormatConfig::defaults();
  const std::string text = "a=[" + repeated("{k=[1|2]}|", 100) + "0];";
  PollingSink sink;
  sink.stop_at_poll = 3;
  std::string scratch;
  TextReader reader(text, config, sink, scratch);
  EXPECT_EQ(reader.read(), ReadEnd::stopped);
  ASSERT_EQ(sink.polled_after.size(), 3u);
  EXPECT_EQ(sink.values, sink.polled_after.back());  // nothing read after it
}

}  // namespace
}  // namespace vardelquin
