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
// last one met stays, in its sorted place: the writer writes members as
// they come and tells its KeyOrder (writer/key_order.h) of each key and
// each close, which rearranges the text where needed.
//
// The writer cannot fail. Its working storage is the caller's, so that a
// caller can keep it from one call to the next (see support/spare.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "config/format_config.h"
#include "support/output_buffer.h"
#include "writer/escape.h"
#include "writer/key_order.h"
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
      key_order_.member(levels_.back().members, start, KeyPrefix::of(out, key.size()), key);
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
    if (!KeyOrder::settled(level.members) || levels_.size() == 1) [[unlikely]]
      return close_in_full();
    key_order_.forget(level.members);
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
    levels_.push_back(Level{start.open_at, false, key_order_.open()});
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
    levels_.push_back(Level{sink_.size(), is_object, key_order_.open()});
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

  struct Level {
    std::size_t open_at;  // of the bracket in the text
    bool is_object;
    KeyOrder::Members members;
  };
  void member_in_full(std::string_view key);

  OutputBuffer& sink_;
  const EscapeSet escapes_;
  const std::string_view null_str_;
  const std::string_view true_str_;
  const std::string_view false_str_;
  const DelimiterBytes d_;
  const bool escape_numbers_;
  char terminator_;
  std::vector<Level>& levels_;
  OutputBuffer& spelling_;  // a number's text before it is escaped
  KeyOrder key_order_;

 public:
  // The writer's working storage; the key order's stays partly filled
  // from one writer to the next.
  struct Storage {
    std::vector<Level> levels;
    OutputBuffer spelling;
    KeyOrder::Storage key_order;

    void give_back() noexcept;
  };
};

}  // namespace vardelquin
