#include "parser/reader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "config/literal_form.h"
#include "parser/scalar.h"

namespace vardelquin {
namespace {

// What a byte means to the token being read. Every delimiter is ASCII, so
// bytes of multi-byte characters are always ordinary and a run of ordinary
// bytes never splits a character.
enum ByteClass : std::uint8_t { ordinary = 0, stop = 1, escape = 2 };
using StopTable = std::array<std::uint8_t, 256>;

constexpr unsigned char to_byte(char c) noexcept { return static_cast<unsigned char>(c); }

StopTable make_stop_table(const FormatConfig& config, std::initializer_list<std::uint8_t> stops) {
  StopTable table{};
  for (const std::uint8_t b : stops) table[b] = stop;
  table[to_byte(config.byte(Delimiter::escape))] = escape;
  return table;
}

class Reader {
 public:
  Reader(std::string_view text, const FormatConfig& config)
      : pos_(text.data()),
        end_(text.data() + text.size()),
        begin_(text.data()),
        config_(config),
        field_sep_(config.byte(Delimiter::field_sep)),
        kv_sep_(config.byte(Delimiter::kv_sep)),
        list_open_(config.byte(Delimiter::list_open)),
        list_close_(config.byte(Delimiter::list_close)),
        list_sep_(config.byte(Delimiter::list_sep)),
        obj_open_(config.byte(Delimiter::obj_open)),
        obj_close_(config.byte(Delimiter::obj_close)),
        top_key_stops_(make_stop_table(config, {to_byte(kv_sep_)})),
        object_key_stops_(make_stop_table(config, {to_byte(kv_sep_), to_byte(obj_close_)})),
        scalar_stops_(make_scalar_stops(config)) {}

  // document := field_sep* (key kv_sep value field_sep? field_sep*)*
  // A key runs to the next kv_sep and may be empty; whatever follows a
  // value other than field_sep starts the next key.
  Expected<Document, ParseError> read_document() {
    Document document;
    for (;;) {
      while (pos_ != end_ && *pos_ == field_sep_) ++pos_;
      if (pos_ == end_) return document;
      std::string key = read_token(top_key_stops_);
      if (pos_ == end_) return Unexpected{ParseError{expected_kv_sep_got_eof()}};
      ++pos_;
      Value value;
      if (!parse_value(value, 0)) return Unexpected{ParseError{std::move(error_)}};
      document.append(std::move(key), std::move(value));
      if (pos_ != end_ && *pos_ == field_sep_) ++pos_;
    }
  }

 private:
  static StopTable make_scalar_stops(const FormatConfig& config) {
    const auto& t = config.scalar_terminators();
    return make_stop_table(config, {t[0], t[1], t[2], t[3], t[4]});
  }

  const char* skip_ordinary(const StopTable& table, const char* p) const noexcept {
    while (end_ - p >= 4) {
      if (table[to_byte(p[0])] != ordinary) return p;
      if (table[to_byte(p[1])] != ordinary) return p + 1;
      if (table[to_byte(p[2])] != ordinary) return p + 2;
      if (table[to_byte(p[3])] != ordinary) return p + 3;
      p += 4;
    }
    while (p != end_ && table[to_byte(*p)] == ordinary) ++p;
    return p;
  }

  // token := (escape char | ordinary char)*, ending before a stop byte or
  // at the end of the text; an escape as the very last byte is dropped.
  // Ordinary runs are copied whole; the escaped character opens the next run.
  std::string read_token(const StopTable& table) {
    const char* run = pos_;
    pos_ = skip_ordinary(table, pos_);
    if (pos_ == end_ || table[to_byte(*pos_)] == stop) return std::string(run, pos_);

    std::string token;
    for (;;) {
      token.append(run, pos_);
      if (++pos_ == end_) return token;
      run = pos_;
      pos_ = skip_ordinary(table, pos_ + 1);
      if (pos_ == end_ || table[to_byte(*pos_)] == stop) {
        token.append(run, pos_);
        return token;
      }
    }
  }

  // value := list_open list | obj_open object | scalar
  // `depth` counts the lists and objects around the value.
  bool parse_value(Value& out, std::size_t depth) {
    if (pos_ != end_ && (*pos_ == list_open_ || *pos_ == obj_open_)) {
      if (depth >= max_nesting_depth) return fail_too_deep();
      const bool is_list = *pos_++ == list_open_;
      return is_list ? parse_list(out, depth + 1) : parse_object(out, depth + 1);
    }
    out = decode_scalar(read_token(scalar_stops_), config_);
    return true;
  }

  // list := list_close | value (list_sep value)* list_close
  bool parse_list(Value& out, std::size_t depth) {
    List items;
    if (pos_ != end_ && *pos_ == list_close_) {
      ++pos_;
      out = Value::list(std::move(items));
      return true;
    }
    for (;;) {
      if (!parse_value(items.emplace_back(), depth)) return false;
      if (pos_ == end_) return fail("Unterminated list");
      const char c = *pos_;
      if (c == list_sep_) {
        ++pos_;
      } else if (c == list_close_) {
        ++pos_;
        out = Value::list(std::move(items));
        return true;
      } else {
        return fail_unexpected("list");
      }
    }
  }

  // object := obj_close | key kv_sep value (field_sep key kv_sep value)* obj_close
  // A key here also ends at obj_close, which is then an error.
  bool parse_object(Value& out, std::size_t depth) {
    std::vector<Object::Entry> entries;
    if (pos_ != end_ && *pos_ == obj_close_) {
      ++pos_;
      out = Value::object(Object());
      return true;
    }
    for (;;) {
      std::string key = read_token(object_key_stops_);
      if (pos_ == end_) return fail(expected_kv_sep_got_eof());
      if (*pos_ != kv_sep_) {
        return fail("Expected " + char_literal(config_.delimiter(Delimiter::kv_sep)) + " but got " +
                    byte_literal() + " at pos " + std::to_string(offset()));
      }
      ++pos_;
      auto& entry = entries.emplace_back(std::move(key), Value());
      if (!parse_value(entry.second, depth)) return false;
      if (pos_ == end_) return fail("Unterminated object");
      const char c = *pos_;
      if (c == field_sep_) {
        ++pos_;
      } else if (c == obj_close_) {
        ++pos_;
        out = Value::object(Object::from_entries(std::move(entries)));
        return true;
      } else {
        return fail_unexpected("object");
      }
    }
  }

  std::size_t offset() const noexcept { return static_cast<std::size_t>(pos_ - begin_); }

  // The byte at pos_ as the character of the same number: a lead byte of
  // a multi-byte character shows as a Latin-1 letter.
  std::string byte_literal() const { return char_literal(to_byte(*pos_)); }

  std::string expected_kv_sep_got_eof() const {
    return "Expected " + char_literal(config_.delimiter(Delimiter::kv_sep)) + " but got EOF";
  }

  bool fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  bool fail_unexpected(const char* container) {
    return fail("Unexpected " + byte_literal() + " in " + container + " at pos " +
                std::to_string(offset()));
  }

  bool fail_too_deep() {
    return fail("Maximum nesting depth of " + std::to_string(max_nesting_depth) +
                " exceeded at pos " + std::to_string(offset()));
  }

  const char* pos_;
  const char* const end_;
  const char* const begin_;
  const FormatConfig& config_;
  const char field_sep_, kv_sep_, list_open_, list_close_, list_sep_, obj_open_, obj_close_;
  const StopTable top_key_stops_, object_key_stops_, scalar_stops_;
  std::string error_;
};

}  // namespace

Expected<Document, ParseError> parse_document(std::string_view text, const FormatConfig& config) {
  return Reader(text, config).read_document();
}

}  // namespace vardelquin
