#include "serializer/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tree_builder.h"

namespace vardelquin {
namespace {

using testing::list;
using testing::members;
using testing::object;
using testing::str;

std::vector<std::string> keys_of(const Value& object) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : object.as_object()) keys.emplace_back(key);
  return keys;
}

TEST(ObjectTest, IteratesInByteOrder) {
  // Unsigned bytes: "é" (0xC3 0xA9) comes after every ASCII key, and a
  // prefix before its extensions.
  const Value o = object({{"z", {}}, {"\xC3\xA9", {}}, {"ab", {}}, {"", {}}, {"b", {}}, {"_", {}}, {"a", {}}, {"B", {}}});
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"", "B", "_", "a", "ab", "b", "z", "\xC3\xA9"}));
}

TEST(ObjectTest, EqualKeysKeepTheLastValue) {
  // Both sort paths: the small one and the general one.
  for (const std::size_t filler : {0u, 40u}) {
    std::vector<Member> m = members({{"k", Value::integer(1)}, {"b", Value::integer(7)}, {"k", Value::integer(2)}});
    for (std::size_t i = 0; i < filler; ++i) {
      m.push_back(Member{testing::arena().copy("f" + std::to_string(i)), Value::null()});
    }
    const std::vector<Member> tail = members({{"a", Value::null()}, {"k", str("last")}, {"b", Value::integer(8)}});
    m.insert(m.end(), tail.begin(), tail.end());

    const Value o = make_object(testing::arena(), m);
    ASSERT_EQ(o.as_object().size(), 3 + filler) << filler;
    for (const auto& [key, value] : o.as_object()) {
      if (key == "b") {
        EXPECT_EQ(value, Value::integer(8));
      } else if (key == "k") {
        EXPECT_EQ(value, str("last"));
      }
    }
  }
}

TEST(ObjectTest, EmptyKeysWithoutStorageSortFirstAndMerge) {
  // The arena gives an empty key no storage: its data is null. Under the
  // sanitizers this once stopped the sort (a null pointer given to memcpy).
  std::vector<Member> m = members({{"b", Value::integer(1)}, {"a", Value::integer(2)}});
  m.push_back(Member{std::string_view(), Value::integer(3)});
  m.push_back(Member{testing::arena().copy(""), Value::integer(4)});
  ASSERT_EQ(m.back().key.data(), nullptr);
  const Value o = make_object(testing::arena(), m);
  EXPECT_EQ(keys_of(o), (std::vector<std::string>{"", "a", "b"}));
  EXPECT_EQ(o.as_object()[0].value, Value::integer(4));
}

TEST(DocumentTest, KeepsAppendOrderAndDuplicates) {
  const Document d = testing::document({{"k", Value::integer(1)}, {"b", Value::null()}, {"k", str("x")}});
  ASSERT_EQ(d.size(), 3u);
  EXPECT_EQ(d[0], (Member{"k", Value::integer(1)}));
  EXPECT_EQ(d[1], (Member{"b", Value::null()}));
  EXPECT_EQ(d[2], (Member{"k", str("x")}));
}

TEST(ValueTest, ScalarsHoldTheirFullRange) {
  constexpr auto min = std::numeric_limits<std::int64_t>::min();
  EXPECT_EQ(Value::integer(min).as_int(), min);
  EXPECT_TRUE(std::signbit(Value::floating(-0.0).as_float()));
  const std::string nul("a\0b", 3);
  EXPECT_EQ(str(nul).as_str(), nul);
}

TEST(ValueTest, EqualityDistinguishesWhatTheTextDistinguishes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    Value a;
    Value b;
    bool equal;
  };
  const std::vector<Case> cases = {
      {Value::floating(nan), Value::floating(nan), true},
      {Value::floating(0.0), Value::floating(-0.0), false},
      {Value::integer(1), Value::floating(1.0), false},
      {Value::boolean(true), Value::integer(1), false},
      {str(""), Value::null(), false},
      {list({}), Value::null(), false},
      {object({}), Value::null(), false},
      {list({}), object({}), false},
      {list({Value::integer(1)}), list({Value::integer(1)}), true},
      {list({Value::integer(1)}), list({Value::integer(1), Value::null()}), false},
      {object({{"a", {}}}), object({{"b", {}}}), false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cases[i].a == cases[i].b, cases[i].equal) << "case " << i;
  }
}

TEST(ArenaTest, LargeAndManyAllocationsStayIntact) {
  Arena arena;
  std::vector<std::string_view> kept;
  for (std::size_t n : {1u, 5000u, 3u, 1u << 20, 7u}) kept.push_back(arena.copy(std::string(n, 'x')));
  for (std::size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(kept[i], std::string(kept[i].size(), 'x')) << i;
  }
}

}  // namespace
}  // namespace vardelquin
