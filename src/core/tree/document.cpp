#include "tree/document.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

namespace vardelquin {
namespace {

// A key's first eight bytes as one big-endian number, zero-padded: numbers
// compare as the bytes do, so most comparisons need nothing more. Equal
// prefixes (a padded zero looks like a real one) fall back to the bytes.
std::uint64_t key_prefix(std::string_view key) noexcept {
  unsigned char bytes[8] = {};
  // An empty key's data may be null, which memcpy must not be given.
  if (!key.empty()) std::memcpy(bytes, key.data(), key.size() < 8 ? key.size() : 8);
  std::uint64_t prefix = 0;
  for (const unsigned char b : bytes) prefix = (prefix << 8) | b;
  return prefix;
}

struct SortKey {
  std::uint64_t prefix;
  std::uint32_t index;
};

}  // namespace

std::size_t sort_members(std::span<Member> members) {
  const std::size_t n = members.size();
  if (n < 2) return n;
  // Objects are small as a rule: their sort keys live on the stack.
  constexpr std::size_t on_stack = 64;
  SortKey stack_keys[on_stack];
  std::vector<SortKey> heap_keys;
  SortKey* keys = stack_keys;
  if (n > on_stack) {
    heap_keys.resize(n);
    keys = heap_keys.data();
  }
  bool sorted = true;
  for (std::size_t i = 0; i < n; ++i) {
    keys[i] = {key_prefix(members[i].key), static_cast<std::uint32_t>(i)};
    if (i > 0 && sorted && !(members[i - 1].key < members[i].key)) sorted = false;
  }
  if (sorted) return n;  // strictly ascending: in order and unique already

  // The position breaks ties, so equal keys keep their order without a
  // stable sort's scratch memory.
  std::sort(keys, keys + n, [&](const SortKey& a, const SortKey& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    const int order = members[a.index].key.compare(members[b.index].key);
    return order != 0 ? order < 0 : a.index < b.index;
  });
  // The ordered members go to the stack as well when they fit; the room
  // is left uninitialised, and each member is constructed into it.
  union Room {
    Room() noexcept {}
    Member items[on_stack];
  } room;
  std::vector<Member> heap_ordered;
  Member* ordered = room.items;
  if (n > on_stack) {
    heap_ordered.resize(n);
    ordered = heap_ordered.data();
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const Member& next = members[keys[i].index];
    // A run of equal keys keeps one member, with the run's last value.
    if (kept > 0 && ordered[kept - 1].key == next.key) {
      ordered[kept - 1].value = next.value;
    } else {
      ::new (static_cast<void*>(ordered + kept++)) Member(next);
    }
  }
  std::copy(ordered, ordered + kept, members.begin());
  return kept;
}

Value make_string(Arena& arena, std::string_view text) { return Value::string(arena.copy(text)); }

Value make_list(Arena& arena, std::span<const Value> items) { return Value::list(arena.copy(items)); }

Value make_object(Arena& arena, std::span<Member> members) {
  const std::size_t kept = sort_members(members);
  return Value::object(arena.copy(std::span<const Member>(members.first(kept))));
}

bool operator==(const Value& a, const Value& b) noexcept {
  if (a.tag() != b.tag()) return false;
  switch (a.tag()) {
    case ValueTag::Null: return true;
    case ValueTag::Bool: return a.as_bool() == b.as_bool();
    case ValueTag::Int: return a.as_int() == b.as_int();
    case ValueTag::Float:
      return std::bit_cast<std::uint64_t>(a.as_float()) == std::bit_cast<std::uint64_t>(b.as_float());
    case ValueTag::Str: return a.as_str() == b.as_str();
    case ValueTag::List: return std::ranges::equal(a.as_list(), b.as_list());
    case ValueTag::Object: return std::ranges::equal(a.as_object(), b.as_object());
  }
  return false;
}

}  // namespace vardelquin
