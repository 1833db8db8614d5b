#include "serializer/value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace vardelquin {
namespace {

std::vector<std::string> keys_of(const Object& object) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : object) keys.push_back(key);
  return keys;
}

// Byte order with unsigned bytes: "é" (0xC3 0xA9) after every ASCII key.
const std::vector<std::string> sorted_keys = {"", "B", "_", "a", "ab", "b", "z", "\xC3\xA9"};
const std::vector<std::string> scrambled_keys = {"z", "\xC3\xA9", "ab", "", "b", "_", "a", "B"};

TEST(ObjectTest, InsertIteratesInByteOrder) {
  Object object;
  for (const auto& key : scrambled_keys) object.insert(key, Value::null());
  EXPECT_EQ(keys_of(object), sorted_keys);
}

TEST(ObjectTest, FromEntriesIteratesInByteOrder) {
  std::vector<Object::Entry> entries;
  for (const auto& key : scrambled_keys) entries.emplace_back(key, Value::null());
  EXPECT_EQ(keys_of(Object::from_entries(std::move(entries))), sorted_keys);
}

TEST(ObjectTest, InsertOfPresentKeyReplacesValueInPlace) {
  Object object;
  object.insert("a", Value::integer(0));
  object.insert("k", Value::integer(1));
  object.insert("z", Value::integer(2));
  object.insert("k", Value::string("x"));

  ASSERT_EQ(object.size(), 3u);
  EXPECT_EQ(keys_of(object), (std::vector<std::string>{"a", "k", "z"}));
  EXPECT_EQ(std::next(object.begin())->second, Value::string("x"));
}

TEST(ObjectTest, FromEntriesKeepsLastOfEqualKeys) {
  std::vector<Object::Entry> entries;
  entries.emplace_back("k", Value::integer(1));
  entries.emplace_back("b", Value::integer(7));
  entries.emplace_back("k", Value::integer(2));
  entries.emplace_back("a", Value::null());
  entries.emplace_back("k", Value::string("last"));
  entries.emplace_back("b", Value::integer(8));

  const Object object = Object::from_entries(std::move(entries));
  Object expected;
  expected.insert("a", Value::null());
  expected.insert("b", Value::integer(8));
  expected.insert("k", Value::string("last"));
  EXPECT_EQ(object, expected);
}

TEST(ObjectTest, CopyIsIndependentOfOriginal) {
  Object original;
  original.insert("k", Value::list({Value::integer(1)}));
  Object copy = original;
  copy.insert("k", Value::integer(2));
  copy.insert("new", Value::null());

  EXPECT_EQ(original.size(), 1u);
  EXPECT_EQ(original.begin()->second, Value::list({Value::integer(1)}));
}

TEST(DocumentTest, KeepsAppendOrderAndDuplicates) {
  Document document;
  document.append("k", Value::integer(1));
  document.append("b", Value::null());
  document.append("k", Value::string("x"));

  std::vector<std::pair<std::string, Value>> seen(document.begin(), document.end());
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], (Document::Entry{"k", Value::integer(1)}));
  EXPECT_EQ(seen[1], (Document::Entry{"b", Value::null()}));
  EXPECT_EQ(seen[2], (Document::Entry{"k", Value::string("x")}));
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
      {Value::string(""), Value::null(), false},
      {Value::list({}), Value::null(), false},
      {Value::object({}), Value::null(), false},
      {Value::list({}), Value::object({}), false},
      {Value::list({Value::integer(1)}), Value::list({Value::integer(1)}), true},
      {Value::list({Value::integer(1)}), Value::list({Value::integer(1), Value::null()}), false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cases[i].a == cases[i].b, cases[i].equal) << "case " << i;
  }
}

}  // namespace
}  // namespace vardelquin
