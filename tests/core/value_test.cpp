#include "tree/document.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "tree_builder.h"

namespace vardelquin {
namespace {

using namespace testing;  // the tree builders

// Against a map ordered by unsigned bytes, later values replacing earlier
// ones. Keys share long prefixes (the sort compares eight bytes at once), end
// in NUL bytes, or have their top bit set; larger objects sort on the heap.
TEST(ObjectTest, SortsByUnsignedBytesAndKeepsTheLastOfEqualKeys) {
  const std::string pieces[] = {"",         "a",        "B",    "_",   std::string(1, '\0'),
                                "\xC3\xA9", "abcdefgh", "\x7F", "\x80"};
  std::mt19937 random(11);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<Member> m;
    std::map<std::string, std::int64_t> model;
    for (std::int64_t i = 0, n = static_cast<std::int64_t>(random() % (trial % 2 ? 100u : 8u)); i < n; ++i) {
      std::string key;
      for (auto k = random() % 4; k > 0; --k) key += pieces[random() % std::size(pieces)];
      m.push_back(Member{arena().copy(key), Value::integer(i)});
      model[key] = i;
    }
    std::vector<decltype(model)::value_type> got;
    for (const auto& [key, value] : make_object(arena(), m).as_object())
      got.emplace_back(key, value.as_int());
    EXPECT_EQ(got, std::vector(model.begin(), model.end()));
  }
}

TEST(ObjectTest, EmptyKeysWithoutStorageSortFirstAndMerge) {
  // The arena gives an empty key no storage: its data is null. Under the
  // sanitizers this once stopped the sort (a null pointer given to memcpy).
  std::vector<Member> m = members({{"b", Value::integer(1)}, {"a", Value::integer(2)}});
  m.push_back(Member{std::string_view(), Value::integer(3)});
  m.push_back(Member{arena().copy(""), Value::integer(4)});
  ASSERT_EQ(m.back().key.data(), nullptr);
  const Value o = make_object(arena(), m);
  ASSERT_EQ(o.as_object().size(), 3u);
  EXPECT_EQ(o.as_object()[0], (Member{"", Value::integer(4)}));
}

TEST(ValueTest, EqualityDistinguishesWhatTheTextDistinguishes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Value one = Value::integer(1);
  const std::tuple<Value, Value, bool> cases[] = {
      {Value::floating(nan), Value::floating(nan), true},
      {Value::floating(0.0), Value::floating(-0.0), false},
      {one, Value::floating(1.0), false},
      {Value::boolean(true), one, false},
      {str(""), Value::null(), false},
      {Value::integer(std::numeric_limits<std::int64_t>::min()), Value::integer(0), false},
      {str(std::string("a\0b", 3)), str(std::string("a\0c", 3)), false},
      {list({one}), list({one}), true},
      {list({one}), list({one, Value::null()}), false},
      {object({{"a", {}}}), object({{"b", {}}}), false},
  };
  int index = 0;
  for (const auto& [a, b, equal] : cases) EXPECT_EQ(a == b, equal) << "case " << index++;
}

TEST(ArenaTest, LargeAndManyAllocationsStayIntact) {
  Arena own;
  std::vector<std::string_view> kept;
  for (std::size_t n : {1u, 5000u, 3u, 1u << 20, 7u}) kept.push_back(own.copy(std::string(n, 'x')));
  for (const std::string_view text : kept) EXPECT_EQ(text, std::string(text.size(), 'x'));
}

// Storage passes from a document that goes to the next one made on the
// same thread: documents alive at once, moved, made one after another and
// on other threads must each keep their own contents.
TEST(DocumentTest, DocumentsThatReuseStorageKeepTheirOwnContents) {
  const auto fill = [](Document& document, char c, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      const std::string text(i % 7 + 1, c);
      document.append(document.arena().copy(text), make_string(document.arena(), text));
    }
  };
  const auto intact = [](const Document& document, char c, std::size_t n) {
    if (document.size() != n) return false;
    std::size_t i = 0;
    for (const Member& member : document) {
      const std::string text(i++ % 7 + 1, c);
      if (member.key != text || member.value.as_str() != text) return false;
    }
    return true;
  };
  const auto rounds = [&](char c) {
    for (std::size_t n : {3u, 200u, 1u, 5000u, 2u}) {
      Document outer;
      fill(outer, c, n);
      {
        Document inner;  // made while outer is alive: storage of its own
        fill(inner, static_cast<char>(c + 1), n + 1);
        if (!intact(inner, static_cast<char>(c + 1), n + 1)) return false;
      }
      Document moved = std::move(outer);
      Document next;
      fill(next, static_cast<char>(c + 2), 4);
      if (!intact(moved, c, n) || !intact(next, static_cast<char>(c + 2), 4)) return false;
    }
    return true;
  };
  bool other_thread = false;
  std::thread thread([&] { other_thread = rounds('k'); });
  const bool this_thread = rounds('a');
  thread.join();
  EXPECT_TRUE(this_thread);
  EXPECT_TRUE(other_thread);
}

}  // namespace
}  // namespace vardelquin
