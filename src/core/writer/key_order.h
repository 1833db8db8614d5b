// Puts the members of each object the text writer writes into ascending
// byte order of their keys, whatever order they were met in; of keys with
// equal text only the last one met stays, in its sorted place.
//
// The writer writes members as they come and reports each key here; at
// close, an object whose keys did not come strictly ascending (the usual
// case does) has its text rearranged in place, unless the bytes moved
// inside it already exceed four times its size (moving the same text again
// at every enclosing level would cost depth x size), or an object inside
// it was noted. Such an object only notes its members' order, and when the
// top-level value closes, the text of the objects noted is gathered in one
// pass. So the bytes moved in place within any value stay within five
// times its size, and each byte is gathered at most once, however deep the
// nesting.
//
// The writer keeps one Members record per open list or object, in its own
// stack of levels, and calls, in document order:
//   open() when a container opens, member() or member_rewritten() for each
//   key, and at close either forget() (when settled()) or close(); then
//   top_level_closed() when the container closed was a top-level value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/little_endian.h"
#include "support/output_buffer.h"

namespace vardelquin {

// A key's first sixteen bytes as two big-endian numbers, zero-padded, and
// its size: they settle the order of nearly any two keys; equal ones fall
// back to the bytes (a padded zero looks like a real one).
struct KeyPrefix {
  std::uint64_t high;
  std::uint64_t low;
  std::size_t size;

  // Sixteen bytes must be readable at `p`.
  static KeyPrefix of(const char* p, std::size_t size) noexcept {
    return {word(p, size), size > 8 ? word(p + 8, size - 8) : 0, size};
  }
  // Eight bytes at `p` as a big-endian number, the bytes past `size`
  // masked to zero; eight bytes must be readable at `p`.
  static std::uint64_t word(const char* p, std::size_t size) noexcept {
    const std::uint64_t loaded = load_be64(p);
    return size >= 8 ? loaded : loaded & ~(~std::uint64_t{0} >> (8 * size));
  }
  friend bool operator==(const KeyPrefix&, const KeyPrefix&) = default;
};

class KeyOrder {
 public:
  struct Storage;
  // The text it rearranges is the writer's `text`; `field_sep` separates
  // members. Both it and `storage`, which must come empty, must outlive
  // the key order.
  KeyOrder(OutputBuffer& text, char field_sep, Storage& storage) noexcept
      : text_(text), field_sep_(field_sep), s_(storage) {}
  KeyOrder(const KeyOrder&) = delete;
  KeyOrder& operator=(const KeyOrder&) = delete;

  // What one open list or object holds of the key order: a list holds no
  // members of its own, only what moved inside it.
  struct Members {
    std::size_t first_member;
    std::size_t first_key_byte;
    std::size_t moved;  // bytes moved in place inside it
    KeyPrefix last_key;
    bool in_order;     // its keys so far strictly ascending
    bool holds_noted;  // an object inside it waits for the gathering
  };
  Members open() const noexcept { return Members{s_.members.size(), s_.keys.size(), 0, {}, true, false}; }

  // A member whose key the writer wrote verbatim at `start`, its prefix
  // read from the text.
  void member(Members& members, std::size_t start, const KeyPrefix& prefix, std::string_view key) {
    note(members, MemberSpan{start, start, key.size(), false}, prefix, key);
  }
  // A member whose key the writer wrote at `start`, escaped when
  // `escaped`: the text then sorts differently from the key.
  void member_rewritten(Members& members, std::size_t start, std::string_view key, bool escaped);

  // Whether closing the container needs no more than forget(): its keys
  // came in order and nothing moved inside it.
  static bool settled(const Members& members) noexcept { return members.in_order && members.moved == 0; }
  // Drops the members and copied keys of a closing container.
  void forget(const Members& members) noexcept {
    s_.members.erase(s_.members.begin() + static_cast<std::ptrdiff_t>(members.first_member),
                     s_.members.end());
    s_.keys.truncate(members.first_key_byte);
  }
  // Closes the container whose opening bracket is at `open_at` and whose
  // members, each followed by field_sep, end the text: puts them in key
  // order and forgets them, and tells the container around it, if any,
  // what moved.
  void close(Members& members, std::size_t open_at, Members* outer);
  // After the top-level value that starts at `value_at` closed: gathers
  // the objects noted inside it.
  void top_level_closed(std::size_t value_at) {
    if (!s_.unclaimed.empty()) gather(value_at);
  }

 private:
  // Where a member's text and its key's bytes are. The key is read from
  // the text itself unless escaping changed it; then a copy of its bytes
  // lies in the storage's keys.
  struct MemberSpan {
    std::size_t start;  // of its key in the text
    std::size_t key_at;
    std::size_t key_size;
    bool key_copied;
  };
  // An object whose members are to be put in key order by gather(): its
  // body, its members' text in key order (in sorted_members), and the
  // objects noted inside it, in text order (in nested).
  struct Noted {
    std::size_t body_at;
    std::size_t body_end;  // where its closing bracket is
    std::size_t first_sorted;
    std::size_t sorted_count;
    std::size_t first_nested;
    std::size_t nested_count;
  };
  struct TextRange {
    std::size_t begin;
    std::size_t end;
  };
  // A member to sort: its key's prefix and its index among the members.
  struct SortKey {
    KeyPrefix prefix;
    std::size_t index;
  };

  // The key order of a few key sequences met lately, so that the objects
  // of one shape (records of one kind, nested in a document many times
  // over) are sorted once: a sequence is found by its length and a hash
  // of its prefixes, and then checked key by key.
  struct KnownOrder {
    std::uint64_t hash = 0;
    std::vector<KeyPrefix> keys;     // as met
    std::string tails;               // the bytes of longer keys past their sixteenth
    std::vector<std::size_t> order;  // the members kept, in key order
  };
  struct KnownOrders {
    static constexpr std::size_t slots = 64;
    static constexpr std::size_t most_members = 64;  // longer sequences are not kept
    static constexpr std::size_t most_key_bytes = 2048;
    std::array<KnownOrder, slots> known;
  };

  // Records a member of the innermost open object, and whether its keys
  // still come in order.
  void note(Members& members, const MemberSpan& span, const KeyPrefix& prefix, std::string_view key) {
    if (members.in_order && s_.members.size() > members.first_member) {
      members.in_order = comes_after(members.last_key, prefix, key);
    }
    members.last_key = prefix;
    s_.members.push_back(span);
  }
  // Whether `key` sorts strictly after the last member's key; byte order.
  bool comes_after(const KeyPrefix& last, const KeyPrefix& next, std::string_view key) noexcept {
    if (last.high != next.high) return last.high < next.high;
    if (last.low != next.low) return last.low < next.low;
    // Equal up to the sixteenth byte, padding included: a shorter key is
    // a prefix of the longer, or the keys must be compared whole.
    if (last.size <= 16 && next.size <= 16) return last.size < next.size;
    return key_of(s_.members.back()) < key;
  }
  std::string_view key_of(const MemberSpan& member) noexcept;
  void put_in_key_order(Members& members, std::size_t open_at);
  void move_into_key_order(std::size_t open_at, std::span<const MemberSpan> members);
  void note_key_order(std::size_t open_at, std::span<const MemberSpan> members);
  void gather(std::size_t value_at);
  void gather_noted(std::size_t noted);
  void sort_members(std::span<const MemberSpan> members, KnownOrder* remember);
  bool is_known(const KnownOrder& known, std::span<const MemberSpan> members, std::uint64_t hash) noexcept;

  OutputBuffer& text_;
  const char field_sep_;

 public:
  // The key order's working storage; known_orders stays filled from one
  // call to the next.
  struct Storage {
    std::vector<MemberSpan> members;  // of every open object, innermost last
    std::vector<SortKey> order;
    OutputBuffer keys;   // copies of keys that escaping changed
    OutputBuffer moved;  // an object's text while it is rearranged
    std::vector<Noted> noted;
    std::vector<TextRange> sorted_members;
    std::vector<std::size_t> nested;
    // Noted objects not yet inside a noted object closed since, in text
    // order: the outermost ones, once the top-level value closes.
    std::vector<std::size_t> unclaimed;
    std::unique_ptr<KnownOrders> known_orders;

    void give_back() noexcept;
  };

 private:
  Storage& s_;
};

}  // namespace vardelquin
