// The value tree that both directions share: Python objects become values
// that the writer renders, and the reader produces values that become
// Python objects. Nothing here refers to the interpreter.
//
// A Value is a 16-byte handle: scalars inline, strings, lists and objects
// as views of memory that the Document's arena owns (or, for strings, that
// the code building the tree keeps alive for the tree's lifetime). A tree
// is strict: no sharing, no cycles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "support/arena.h"

namespace vardelquin {

// The deepest nesting of lists and objects that dumps writes and loads
// reads. Both directions share it, so every text that dumps writes loads
// back; it also bounds every recursion over a tree.
inline constexpr std::size_t max_nesting_depth = 1000;

// Tag order is fixed: every dispatch over values switches on it.
enum class ValueTag : std::uint8_t { Null, Bool, Int, Float, Str, List, Object };

struct Member;

class Value {
 public:
  constexpr Value() noexcept : size_and_tag_(static_cast<std::uint64_t>(ValueTag::Null)) {}

  static constexpr Value null() noexcept { return Value(); }
  static constexpr Value boolean(bool b) noexcept {
    Value v(ValueTag::Bool, 0);
    v.integer_ = b ? 1 : 0;
    return v;
  }
  static constexpr Value integer(std::int64_t i) noexcept {
    Value v(ValueTag::Int, 0);
    v.integer_ = i;
    return v;
  }
  static constexpr Value floating(double d) noexcept {
    Value v(ValueTag::Float, 0);
    v.floating_ = d;
    return v;
  }
  // The views must outlive the value.
  static Value string(std::string_view text) noexcept {
    Value v(ValueTag::Str, text.size());
    v.chars_ = text.data();
    return v;
  }
  static Value list(std::span<const Value> items) noexcept {
    Value v(ValueTag::List, items.size());
    v.items_ = items.data();
    return v;
  }
  // `members` must be in key order with unique keys (see sort_members).
  static Value object(std::span<const Member> members) noexcept;

  ValueTag tag() const noexcept { return static_cast<ValueTag>(size_and_tag_ & 0xFF); }

  bool as_bool() const noexcept { return integer_ != 0; }
  std::int64_t as_int() const noexcept { return integer_; }
  double as_float() const noexcept { return floating_; }
  std::string_view as_str() const noexcept { return {chars_, size()}; }
  std::span<const Value> as_list() const noexcept { return {items_, size()}; }
  std::span<const Member> as_object() const noexcept;

  // Structural equality; floats compare by bit pattern, so NaN equals an
  // identical NaN and -0.0 differs from 0.0.
  friend bool operator==(const Value&, const Value&) noexcept;

 private:
  constexpr Value(ValueTag tag, std::size_t size) noexcept
      : size_and_tag_((static_cast<std::uint64_t>(size) << 8) | static_cast<std::uint64_t>(tag)) {}
  std::size_t size() const noexcept { return static_cast<std::size_t>(size_and_tag_ >> 8); }

  union {
    std::int64_t integer_ = 0;
    double floating_;
    const char* chars_;
    const Value* items_;
    const Member* members_;
  };
  std::uint64_t size_and_tag_;
};

// A key and its value, in an object or at the top level of a document.
struct Member {
  std::string_view key;
  Value value;

  friend bool operator==(const Member&, const Member&) noexcept = default;
};

inline Value Value::object(std::span<const Member> members) noexcept {
  Value v(ValueTag::Object, members.size());
  v.members_ = members.data();
  return v;
}

inline std::span<const Member> Value::as_object() const noexcept { return {members_, size()}; }

// Orders members by key bytes (unsigned, a shorter prefix first: code-point
// order). Of members with equal keys the last keeps its value. Returns how
// many members the sorted, unique prefix holds.
std::size_t sort_members(std::span<Member> members);

// Builders that copy into an arena: the results live as long as it does.
Value make_string(Arena& arena, std::string_view text);
Value make_list(Arena& arena, std::span<const Value> items);
// Sorts `members` in place first, so an object's keys come out in order
// and unique.
Value make_object(Arena& arena, std::span<Member> members);

// The top level of a text: entries in order, neither sorted nor merged. It
// owns the arena that its values live in.
class Document {
 public:
  using const_iterator = std::vector<Member>::const_iterator;

  Document() = default;
  Document(Document&&) noexcept = default;
  Document& operator=(Document&&) noexcept = default;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  Arena& arena() noexcept { return arena_; }

  // The key must live as long as the document.
  void append(std::string_view key, Value value) { entries_.push_back(Member{key, value}); }
  void reserve(std::size_t n) { entries_.reserve(n); }

  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }

  friend bool operator==(const Document& a, const Document& b) noexcept { return a.entries_ == b.entries_; }

 private:
  Arena arena_;
  std::vector<Member> entries_;
};

}  // namespace vardelquin
