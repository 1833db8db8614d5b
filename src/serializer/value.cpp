#include "serializer/value.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vardelquin {
namespace {

// Byte order over unsigned bytes; string_view compares through
// char_traits<char>, which orders chars as unsigned char.
bool key_less(const Member& a, const Member& b) noexcept { return a.key < b.key; }

}  // namespace

void* Arena::allocate_in_new_block(std::size_t bytes, std::size_t alignment) {
  std::size_t size = next_block_size_;
  while (size < bytes + alignment) size *= 2;
  if (next_block_size_ < largest_block) next_block_size_ *= 2;
  blocks_.push_back(std::make_unique_for_overwrite<std::byte[]>(size));
  cursor_ = blocks_.back().get();
  end_ = cursor_ + size;
  return allocate_bytes(bytes, alignment);
}

std::size_t sort_members(std::span<Member> members) {
  if (members.size() < 2) return members.size();
  // Small objects are the common case: an insertion sort there beats the
  // general sort and needs no scratch memory. Both keep equal keys in
  // their original order.
  if (members.size() <= 16) {
    for (std::size_t i = 1; i < members.size(); ++i) {
      const Member moving = members[i];
      std::size_t j = i;
      for (; j > 0 && key_less(moving, members[j - 1]); --j) members[j] = members[j - 1];
      members[j] = moving;
    }
  } else {
    std::stable_sort(members.begin(), members.end(), key_less);
  }
  // A run of equal keys keeps one member, with the run's last value.
  std::size_t kept = 1;
  for (std::size_t i = 1; i < members.size(); ++i) {
    if (members[i].key == members[kept - 1].key) {
      members[kept - 1].value = members[i].value;
    } else {
      members[kept++] = members[i];
    }
  }
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
