// A value as the reader types it and as the value tree holds it: a 16-byte
// handle, scalars inline, strings, lists and objects as views of memory
// that someone else keeps alive (the text read, or the tree's arena; see
// tree/document.h). A tree is strict: no sharing, no cycles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vardelquin {

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
  // identical NaN and -0.0 differs from 0.0. Only the tests and fuzzers
  // compare values: it is defined with the tree (tree/document.cpp).
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

}  // namespace vardelquin
