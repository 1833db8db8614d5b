#include "reader/reader.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "reader/scalar.h"
#include "support/byte_set.h"
#include "support/spare.h"

namespace vardelquin {
namespace {

// The bytes at which a token stops, plus the escape character. Every
// delimiter is ASCII, so bytes of multi-byte characters never match and a
// run of ordinary bytes never splits a character.
class StopSet {
 public:
  // `kinds` and `scan` are one kind of token's table and scan set, both
  // built with the record.
  StopSet(const FormatConfig::TokenTable& kinds, const FormatConfig::TokenScan& scan) noexcept
      : table_(kinds), scan_(scan) {}

  // What a byte does in a token: nothing (0), escapes the next one
  // (FormatConfig::token_escape), or stops.
  static constexpr std::uint8_t stop = FormatConfig::token_stop;
  std::uint8_t kind(char c) const noexcept { return table_[static_cast<unsigned char>(c)]; }

  // The first byte in [p, end) that stops a token or escapes, else end.
  const char* find(const char* p, const char* const end) const noexcept { return scan_.find(p, end); }

 private:
  const FormatConfig::TokenTable& table_;
  const FormatConfig::TokenScan& scan_;
};

class Reader {
 public:
  Reader(std::string_view text, const FormatConfig& config)
      : pos_(text.data()),
        end_(text.data() + text.size()),
        begin_(text.data()),
        config_(config),
        d_(config),
        top_key_stops_(config.top_key_stops(), config.top_key_scan()),
        object_key_stops_(config.object_key_stops(), config.object_key_scan()),
        scalar_stops_(config.scalar_stops(), config.scalar_scan()) {
    if (Spares* spares = spare::ThreadSpares<Spares>::find()) {
      spare::take(spares->open, open_);
      spare::take(spares->items, items_);
      spare::take(spares->members, members_);
      spare::take(spares->scratch, scratch_);
    }
  }
  ~Reader() {
    Spares& spares = spare::ThreadSpares<Spares>::get();
    spare::give(spares.open, open_);
    spare::give(spares.items, items_);
    spare::give(spares.members, members_);
    spare::give(spares.scratch, scratch_);
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // document := field_sep* (key kv_sep value field_sep? field_sep*)*
  // A key runs to the next kv_sep and may be empty; whatever follows a
  // value other than field_sep starts the next key.
  Expected<Document, Failure> read_document() {
    for (;;) {
      while (pos_ != end_ && *pos_ == d_.field_sep) ++pos_;
      if (pos_ == end_) return std::move(document_);
      const std::string_view key = keep(read_token(top_key_stops_));
      if (pos_ == end_) {
        fail(FailureKind::key_runs_to_end);
        return Unexpected{failure_};
      }
      ++pos_;
      const Value value = parse_value();
      if (failed_) return Unexpected{failure_};
      document_.append(key, value);
      if (pos_ != end_ && *pos_ == d_.field_sep) ++pos_;
    }
  }

 private:
  static constexpr std::uint8_t byte(char c) noexcept { return static_cast<std::uint8_t>(c); }

  // token := (escape char | ordinary char)*, ending before a stop byte or
  // at the end of the text; an escape as the very last byte is dropped.
  // A token without escapes is a view of the text itself. Otherwise it is
  // gathered in scratch_, and the view is of scratch_ until the next token.
  std::string_view read_token(const StopSet& stops) {
    const char* run = pos_;
    pos_ = stops.find(pos_, end_);
    if (pos_ == end_ || *pos_ != d_.escape) return {run, static_cast<std::size_t>(pos_ - run)};
    return read_escaped_token(stops, run);
  }

  // From the first escape on, byte by byte: escapes may come thick, and a
  // scan that restarts after each of them would pay its set-up every time.
  // An escape is skipped without a branch and the byte after it copied
  // whatever it is; the continuation bytes of a multi-byte character never
  // stop a token, so they follow as ordinary bytes, and a lone escape at
  // the end is dropped. scratch_ only grows; its size is its capacity.
  std::string_view read_escaped_token(const StopSet& stops, const char* run) {
    std::size_t length = static_cast<std::size_t>(pos_ - run);
    reserve_scratch(length + 64);
    std::memcpy(scratch_.data(), run, length);
    char* out = scratch_.data();
    std::size_t capacity = scratch_.size();
    const char* p = pos_;
    const char* const end = end_;
    while (p != end) {
      const std::uint8_t kind = stops.kind(*p);
      if (kind == StopSet::stop) break;
      static_assert(FormatConfig::token_escape == 1, "an escape's kind is the step past it");
      p += kind;  // past an escape
      if (p == end) break;
      if (length == capacity) {
        reserve_scratch(capacity + 1);
        out = scratch_.data();
        capacity = scratch_.size();
      }
      out[length++] = *p++;
    }
    pos_ = p;
    return {out, length};
  }

  void reserve_scratch(std::size_t size) {
    if (scratch_.size() < size) scratch_.resize(std::max(size, 2 * scratch_.size()));
  }

  // Text of the input outlives the document; scratch text is copied out.
  std::string_view keep(std::string_view token) {
    if (token.empty() || token.data() != scratch_.data()) return token;
    return document_.arena().copy(token);
  }

  // value  := list_open list | obj_open object | scalar
  // list   := list_close | value (list_sep value)* list_close
  // object := obj_close | key kv_sep value (field_sep key kv_sep value)* obj_close
  // A key in an object also ends at obj_close, which is then an error.
  //
  // Nesting is followed on an explicit stack of open lists and objects, not
  // by recursion, so that no depth of text can exhaust the native stack.
  // Children gather on items_ and members_, shared by all levels, and move
  // to the arena once their container is complete. A failure returns Null
  // and leaves its record in failure_; callers test failed_.
  Value parse_value() {
    for (;;) {
      Value value;
      if (pos_ != end_ && (*pos_ == d_.list_open || *pos_ == d_.obj_open)) {
        // Every open container encloses this one.
        if (open_.size() >= max_nesting_depth) return fail(FailureKind::nesting_too_deep_to_read);
        if (*pos_++ == d_.list_open) {
          if (pos_ == end_ || *pos_ != d_.list_close) {
            open_.push_back(Open{true, items_.size()});
            continue;  // to the first item
          }
          ++pos_;
          value = Value::list({});
        } else {
          if (pos_ == end_ || *pos_ != d_.obj_close) {
            open_.push_back(Open{false, members_.size()});
            if (!read_member_key()) return Value();
            continue;  // to the first value
          }
          ++pos_;
          value = Value::object({});
        }
      } else {
        value = parse_scalar();
      }
      // A complete value goes to the innermost open container, which may
      // then be complete in turn, up to the next value to read.
      for (;;) {
        if (open_.empty()) return value;
        const Open container = open_.back();
        if (container.is_list) {
          items_.push_back(value);
          if (pos_ == end_) return fail(FailureKind::list_unterminated);
          const char c = *pos_;
          if (c == d_.list_sep) {
            ++pos_;
            break;
          }
          if (c != d_.list_close) return fail(FailureKind::list_unexpected_byte, byte(*pos_));
          ++pos_;
          value = make_list(document_.arena(), std::span(items_).subspan(container.base));
          items_.resize(container.base);
        } else {
          members_.back().value = value;
          if (pos_ == end_) return fail(FailureKind::object_unterminated);
          const char c = *pos_;
          if (c == d_.field_sep) {
            ++pos_;
            if (!read_member_key()) return Value();
            break;
          }
          if (c != d_.obj_close) return fail(FailureKind::object_unexpected_byte, byte(*pos_));
          ++pos_;
          value = make_object(document_.arena(), std::span(members_).subspan(container.base));
          members_.resize(container.base);
        }
        open_.pop_back();
      }
    }
  }

  Value parse_scalar() {
    const std::string_view token = read_token(scalar_stops_);
    Value value = decode_scalar(token, config_);
    if (value.tag() == ValueTag::Str) value = Value::string(keep(token));
    return value;
  }

  // key kv_sep, in an object: the key joins members_, its value to follow.
  bool read_member_key() {
    const std::string_view key = keep(read_token(object_key_stops_));
    if (pos_ == end_) {
      fail(FailureKind::key_runs_to_end);
      return false;
    }
    if (*pos_ != d_.kv_sep) {
      fail(FailureKind::key_ends_without_kv_sep, byte(*pos_));
      return false;
    }
    ++pos_;
    members_.push_back(Member{key, Value()});
    return true;
  }

  std::size_t offset() const noexcept { return static_cast<std::size_t>(pos_ - begin_); }

  // Failures record where reading stopped and return Null. A byte found
  // there is kept as the character of the same number, which is how its
  // message shows it (a lead byte of a multi-byte character as a Latin-1
  // letter).
  [[gnu::noinline, gnu::cold]] Value fail(FailureKind kind, char32_t found = 0) {
    const bool about_a_key =
        kind == FailureKind::key_runs_to_end || kind == FailureKind::key_ends_without_kv_sep;
    failed_ = true;
    failure_ = Failure{.kind = kind,
                       .character = found,
                       .expected = about_a_key ? config_.delimiter(Delimiter::kv_sep) : 0,
                       .offset = offset()};
    return Value();
  }

  const char* pos_;
  const char* const end_;
  const char* const begin_;
  const FormatConfig& config_;
  const DelimiterBytes d_;
  const StopSet top_key_stops_, object_key_stops_, scalar_stops_;
  Document document_;
  // The lists and objects around the value being read, innermost last.
  struct Open {
    bool is_list;
    std::size_t base;  // where its children start on items_ or members_
  };
  std::vector<Open> open_;
  std::vector<Value> items_;
  std::vector<Member> members_;
  std::string scratch_;
  bool failed_ = false;
  Failure failure_{};
  // The stacks of the last reader on this thread (see support/spare.h).
  struct Spares {
    std::vector<Open> open;
    std::vector<Value> items;
    std::vector<Member> members;
    std::string scratch;
  };
};

}  // namespace

Expected<Document, Failure> parse_document(std::string_view text, const FormatConfig& config) {
  return Reader(text, config).read_document();
}

}  // namespace vardelquin
