// The value tree: the oracle of the core's tests and fuzzers, which read
// text into it (tree_reader.h) and write it back (tree_writer.h). No
// production path builds one: dumps and loads stream between Python
// objects and text.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "format_limits.h"
#include "support/arena.h"
#include "value/value.h"

namespace vardelquin {

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
