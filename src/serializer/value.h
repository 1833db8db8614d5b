// The value tree that both directions share: Python objects become values
// that the writer renders, and the reader produces values that become
// Python objects. A value owns its whole subtree; there is no sharing and
// no cycle, and nothing here refers to the interpreter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vardelquin {

// The deepest nesting of lists and objects that dumps writes and loads
// reads. Both directions share it, so every text that dumps writes loads
// back; it also bounds every recursion over a tree.
inline constexpr std::size_t max_nesting_depth = 1000;

// Tag order is fixed: every dispatch over values switches on it.
enum class ValueTag : std::uint8_t { Null, Bool, Int, Float, Str, List, Object };

class Value;

using List = std::vector<Value>;

// A map from UTF-8 key to value that iterates in ascending byte order of
// the keys (unsigned bytes, a shorter prefix first: code-point order).
class Object {
 public:
  using Entry = std::pair<std::string, Value>;
  using const_iterator = std::vector<Entry>::const_iterator;

  Object() = default;

  // Builds the map from entries in any order; of entries with equal keys
  // the last one's value is kept.
  static Object from_entries(std::vector<Entry> entries);

  // An existing key keeps its place and takes the new value.
  void insert(std::string key, Value value);

  // Defined after Value: a vector's members need its element type complete.
  std::size_t size() const noexcept;
  bool empty() const noexcept;
  const_iterator begin() const noexcept;
  const_iterator end() const noexcept;

  friend bool operator==(const Object&, const Object&);

 private:
  std::vector<Entry> entries_;  // sorted by key, keys unique
};

class Value {
 public:
  Value() noexcept = default;  // Null

  static Value null() noexcept { return Value(); }
  static Value boolean(bool b) noexcept { return Value(Storage(std::in_place_index<1>, b)); }
  static Value integer(std::int64_t i) noexcept { return Value(Storage(std::in_place_index<2>, i)); }
  static Value floating(double d) noexcept { return Value(Storage(std::in_place_index<3>, d)); }
  static Value string(std::string s) noexcept {
    return Value(Storage(std::in_place_index<4>, std::move(s)));
  }
  static Value list(List items) noexcept {
    return Value(Storage(std::in_place_index<5>, std::move(items)));
  }
  static Value object(Object members) noexcept {
    return Value(Storage(std::in_place_index<6>, std::move(members)));
  }

  ValueTag tag() const noexcept { return static_cast<ValueTag>(storage_.index()); }

  bool as_bool() const noexcept { return *std::get_if<1>(&storage_); }
  std::int64_t as_int() const noexcept { return *std::get_if<2>(&storage_); }
  double as_float() const noexcept { return *std::get_if<3>(&storage_); }
  const std::string& as_str() const noexcept { return *std::get_if<4>(&storage_); }
  const List& as_list() const noexcept { return *std::get_if<5>(&storage_); }
  const Object& as_object() const noexcept { return *std::get_if<6>(&storage_); }

  // Structural equality; floats compare by bit pattern, so NaN equals an
  // identical NaN and -0.0 differs from 0.0.
  friend bool operator==(const Value&, const Value&);

 private:
  using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string, List, Object>;
  explicit Value(Storage storage) noexcept : storage_(std::move(storage)) {}

  Storage storage_;
};

inline std::size_t Object::size() const noexcept { return entries_.size(); }
inline bool Object::empty() const noexcept { return entries_.empty(); }
inline Object::const_iterator Object::begin() const noexcept { return entries_.begin(); }
inline Object::const_iterator Object::end() const noexcept { return entries_.end(); }

// The top level of a text: entries in order, neither sorted nor merged.
class Document {
 public:
  using Entry = std::pair<std::string, Value>;
  using const_iterator = std::vector<Entry>::const_iterator;

  void append(std::string key, Value value) { entries_.emplace_back(std::move(key), std::move(value)); }
  void reserve(std::size_t n) { entries_.reserve(n); }

  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }

  friend bool operator==(const Document&, const Document&) = default;

 private:
  std::vector<Entry> entries_;
};

}  // namespace vardelquin
