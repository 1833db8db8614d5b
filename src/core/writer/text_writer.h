// Writes the text format as a walker meets the values, with no tree in
// between. The walker calls, in document order:
//   document := (entry(key) value)*
//   value    := null() | boolean(b) | integer(i) | floating(x) | string(s)
//             | open_list() value* close()
//             | open_object() (member(key) value)* close()
// and the writer puts in every delimiter: kv_sep after each key, field_sep
// after each top-level entry and between the members of an object,
// list_sep between list items, the brackets, and the escapes.
//
// The members of an object come out in ascending byte order of their keys,
// whatever order they were met in, and of keys with equal text only the
// last one met stays, in its sorted place. Members are written as they
// come; at close, an object whose keys did not come strictly ascending (the
// usual case does) has its text rearranged in place, unless the bytes
// moved inside it already exceed four times its size (moving the same text
// again at every enclosing level would cost depth x size), or an object
// inside it was noted. Such an object only notes its members' order, and
// when the top-level value closes, the text of the objects noted is
// gathered in one pass. So the bytes moved in place within any value stay
// within five times its size, and each byte is gathered at most once,
// however deep the nesting.
//
// The writer cannot fail. Its working storage is the caller's, so that a
// caller can keep it from one call to the next (see support/spare.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/format_config.h"
#include "support/little_endian.h"
#include "support/output_buffer.h"
#include "writer/escape.h"
#include "writer/numbers.h"

namespace vardelquin {

class TextWriter {
 public:
  struct Storage;
  // Appends to `out`; both it and `storage`, which must come empty, must
  // outlive the writer.
  TextWriter(const FormatConfig& config, OutputBuffer& out, Storage& storage);
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  // A top-level entry's key; its value comes next.
  void entry(std::string_view key) {
    escapes_.put(sink_, key);
    sink_.put(d_.kv_sep);
  }
  // A member's key inside the innermost open object; its value comes next.
  void member(std::string_view key) {
    // A short key without delimiters, the usual one, is copied whole with
    // one or two stores, and its order checked on its first sixteen bytes.
    char* const out = sink_.reserve(short_text + 1);
    if (escapes_.copy_short_if_clear(key, out)) [[likely]] {
      const std::size_t start = sink_.size();
      out[key.size()] = d_.kv_sep;
      sink_.commit(out + key.size() + 1);
      note_member(MemberSpan{start, start, key.size(), false}, prefix_of(out, key.size()), key);
      return;
    }
    member_in_full(key);
  }

  void null() { keyword(null_str_); }
  void boolean(bool value) { keyword(value ? true_str_ : false_str_); }
  void integer(std::int64_t value) {
    if (escape_numbers_) [[unlikely]] {
      escaped_number(value);
      return end_value();
    }
    put_integer(sink_, value, terminator_);
  }
  void floating(double value) {
    if (escape_numbers_) [[unlikely]] {
      escaped_number(value);
      return end_value();
    }
    put_float(sink_, value, terminator_);
  }
  void string(std::string_view text) {
    char* const out = sink_.reserve(short_text + 1);
    if (escapes_.copy_short_if_clear(text, out)) [[likely]] {
      out[text.size()] = terminator_;
      sink_.commit(out + text.size() + 1);
      return;
    }
    string_in_full(text);
  }
  // A string given in pieces, as string() would write the whole: each
  // piece through string_piece(), then end_string().
  void string_piece(std::string_view text) { escapes_.put(sink_, text); }
  void end_string() { end_value(); }

  void open_list() { open(false, d_.list_open, d_.list_sep); }
  void open_object() { open(true, d_.obj_open, d_.field_sep); }
  // Closes the innermost open list or object. Inline for the usual case,
  // a list or an object whose keys came in order, nothing moved inside it,
  // below the top level: it costs a handful of instructions per container.
  void close() {
    const Level& level = levels_.back();
    if (!level.in_order || level.moved != 0 || levels_.size() == 1) [[unlikely]]
      return close_in_full();
    // A list holds no members and no copied keys of its own; those of the
    // objects inside it were dropped when they closed.
    members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(level.first_member), members_.end());
    keys_.truncate(level.first_key_byte);
    end_container(level.open_at, level.is_object);
  }

  // A list written with less bookkeeping than open_list() ... close():
  // begin_list(), its items, then end_list(), with only scalars and other
  // lists so written in between; it gives the same text. A list has no
  // members to sort, so until an object comes inside it the writer needs
  // no level for it. Where one does come, keep_open() makes it a list as
  // open_list() opens, which close() closes; or drop_list() takes it back
  // whole, as if it had not begun.
  struct ListStart {
    std::size_t open_at;  // of its bracket in the text
    char terminator;      // that of the value it is
  };
  ListStart begin_list() {
    const ListStart start{sink_.size(), terminator_};
    sink_.put(d_.list_open);
    terminator_ = d_.list_sep;
    return start;
  }
  void end_list(const ListStart& start) {
    if (sink_.size() > start.open_at + 1) {
      // The last item's separator becomes the bracket.
      sink_.data()[sink_.size() - 1] = d_.list_close;
    } else {
      sink_.put(d_.list_close);
    }
    terminator_ = start.terminator;
    end_value();
  }
  void keep_open(const ListStart& start) {
    levels_.push_back(Level{start.open_at, members_.size(), keys_.size(), false, true, false, 0, {}});
  }
  void drop_list(const ListStart& start) {
    sink_.truncate(start.open_at);
    terminator_ = start.terminator;
  }

  // Lists and objects open now, not counting lists between begin_list()
  // and end_list().
  std::size_t depth() const noexcept { return levels_.size(); }

 private:
  // Every value is followed by its container's separator (the top level's
  // field_sep terminates each entry); close() turns the last one into the
  // bracket, since inside brackets values are separated, not terminated.
  void end_value() { sink_.put(terminator_); }
  void keyword(std::string_view text) {
    sink_.put(text);
    end_value();
  }
  void open(bool is_object, char bracket, char separator) {
    levels_.push_back(Level{sink_.size(), members_.size(), keys_.size(), is_object, true, false, 0, {}});
    sink_.put(bracket);
    terminator_ = separator;
  }
  void close_in_full();
  void string_in_full(std::string_view text);
  // The room copy_short_if_clear() stores into.
  static constexpr std::size_t short_text = 32;
  // The container's bracket, after what was written since `open_at`; the
  // level is gone.
  void end_container(std::size_t open_at, bool is_object) {
    const char bracket = is_object ? d_.obj_close : d_.list_close;
    levels_.pop_back();
    if (sink_.size() > open_at + 1) {
      // The last value's separator becomes the bracket.
      sink_.data()[sink_.size() - 1] = bracket;
    } else {
      sink_.put(bracket);
    }
    terminator_ = levels_.empty() || levels_.back().is_object ? d_.field_sep : d_.list_sep;
    end_value();
  }
  void escaped_number(std::int64_t value);
  void escaped_number(double value);

  // Where a member's text and its key's bytes are. The key is read from
  // the text itself unless escaping changed it; then a copy of its bytes
  // lies in keys_.
  struct MemberSpan {
    std::size_t start;  // of its key in the text
    std::size_t key_at;
    std::size_t key_size;
    bool key_copied;
  };
  // A key's first sixteen bytes as two big-endian numbers, zero-padded,
  // and its size: enough to tell the order of nearly any two keys.
  struct KeyPrefix {
    std::uint64_t high;
    std::uint64_t low;
    std::size_t size;
  };
  struct Level {
    std::size_t open_at;  // of the bracket in the text
    std::size_t first_member;
    std::size_t first_key_byte;
    bool is_object;
    bool in_order;      // its keys so far strictly ascending
    bool holds_noted;   // an object inside it waits for gather()
    std::size_t moved;  // bytes moved in place inside it
    KeyPrefix last_key;
  };
  // An object whose members are to be put in key order by gather(): its
  // body, its members' text in key order (in sorted_members_), and the
  // objects noted inside it, in text order (in nested_).
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
  // A key's first sixteen bytes as two big-endian numbers, zero-padded:
  // they settle most comparisons; equal ones fall back to the bytes (a
  // padded zero looks like a real one).
  struct SortKey {
    std::uint64_t high;
    std::uint64_t low;
    std::size_t index;
  };

  // The key order of a few key sequences met lately, so that the objects
  // of one shape (records of one kind, nested in a document many times
  // over) are sorted once: a sequence is found by its length and a hash
  // of its sort keys, and then checked key by key.
  struct KnownOrder {
    std::uint64_t hash = 0;
    std::vector<SortKey> keys;       // as met; index holds each key's size
    std::string tails;               // the bytes of longer keys past their sixteenth
    std::vector<std::size_t> order;  // the members kept, in key order
  };
  struct KnownOrders {
    static constexpr std::size_t slots = 64;
    static constexpr std::size_t most_members = 64;  // longer sequences are not kept
    static constexpr std::size_t most_key_bytes = 2048;
    std::array<KnownOrder, slots> known;
  };

  // Eight bytes at `p` as a big-endian number, the bytes past `size`
  // masked to zero; eight bytes must be readable at `p`.
  static std::uint64_t key_word(const char* p, std::size_t size) noexcept {
    const std::uint64_t word = load_be64(p);
    return size >= 8 ? word : word & ~(~std::uint64_t{0} >> (8 * size));
  }
  // Sixteen bytes must be readable at `p`.
  static KeyPrefix prefix_of(const char* p, std::size_t size) noexcept {
    return {key_word(p, size), size > 8 ? key_word(p + 8, size - 8) : 0, size};
  }
  void member_in_full(std::string_view key);
  // Records the member whose key was just written, and whether the keys
  // of its object still come in order.
  void note_member(const MemberSpan& span, const KeyPrefix& prefix, std::string_view key) {
    Level& level = levels_.back();
    if (level.in_order && members_.size() > level.first_member) {
      level.in_order = comes_after(level.last_key, prefix, key);
    }
    level.last_key = prefix;
    members_.push_back(span);
  }
  // Whether `key` sorts strictly after the last member's key; byte order.
  bool comes_after(const KeyPrefix& last, const KeyPrefix& next, std::string_view key) noexcept {
    if (last.high != next.high) return last.high < next.high;
    if (last.low != next.low) return last.low < next.low;
    // Equal up to the sixteenth byte, padding included: a shorter key is
    // a prefix of the longer, or the keys must be compared whole.
    if (last.size <= 16 && next.size <= 16) return last.size < next.size;
    return key_of(members_.back()) < key;
  }
  std::string_view key_of(const MemberSpan& member) noexcept;
  void put_in_key_order(Level& level);
  void move_into_key_order(const Level& level, std::span<const MemberSpan> members);
  void note_key_order(const Level& level, std::span<const MemberSpan> members);
  void gather(std::size_t value_at);
  void gather_noted(std::size_t noted);
  void sort_members(std::span<const MemberSpan> members, KnownOrder* remember);
  bool is_known(const KnownOrder& known, std::span<const MemberSpan> members, std::uint64_t hash) noexcept;

  OutputBuffer& sink_;
  const EscapeSet escapes_;
  const std::string_view null_str_;
  const std::string_view true_str_;
  const std::string_view false_str_;
  const DelimiterBytes d_;
  const bool escape_numbers_;
  char terminator_;
  std::vector<Level>& levels_;
  std::vector<MemberSpan>& members_;  // of every open object, innermost last
  std::vector<SortKey>& order_;
  OutputBuffer& keys_;   // copies of keys that escaping changed
  OutputBuffer& moved_;  // an object's text while it is rearranged
  OutputBuffer& spelling_;
  std::vector<Noted>& noted_;
  std::vector<TextRange>& sorted_members_;
  std::vector<std::size_t>& nested_;
  // Noted objects not yet inside a noted object closed since, in text
  // order: the outermost ones, once the top-level value closes.
  std::vector<std::size_t>& unclaimed_;
  std::unique_ptr<KnownOrders>& known_orders_;

 public:
  // The writer's working storage; known_orders stays filled from one
  // writer to the next.
  struct Storage {
    std::vector<Level> levels;
    std::vector<MemberSpan> members;
    std::vector<SortKey> order;
    OutputBuffer keys;
    OutputBuffer moved;
    OutputBuffer spelling;
    std::vector<Noted> noted;
    std::vector<TextRange> sorted_members;
    std::vector<std::size_t> nested;
    std::vector<std::size_t> unclaimed;
    std::unique_ptr<KnownOrders> known_orders;

    void give_back() noexcept;
  };
};

}  // namespace vardelquin
