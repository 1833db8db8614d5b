// Reads text in one forward pass, without recursion, and reports what it
// reads to a sink as it goes:
//   document := F* (key K value F*)*      key runs to the next K
//   value    := LO list | OO object | scalar
//   list     := LC | value (LS value)* LC
//   object   := OC | key K value (F key K value)* OC
// Scalars end at F, K, LS, LC or OC; the escape character makes the next
// character literal. A failure comes back as data, with its byte offset.
//
// The sink is a template parameter, so that its calls inline into the
// reading loop. It has these members, each returning false to stop the
// read (the sink keeps its own record of why):
//   bool entry_key(Token key)    a top-level key; its value follows
//   bool member_key(Token key)   a key in the innermost open object
//   bool scalar(Value value, bool lasting)
//                                a value other than a list or an object; a
//                                Str's bytes last as a Token's do
//   bool open_list(), close_list(), open_object(), close_object()
// and, to be asked from time to time whether a long read is to go on,
//   static constexpr std::size_t poll_interval
//   bool poll()                  called between two values once another
//                                poll_interval bytes have been read since
//                                the start or the last call
// A complete value (a scalar, or a container at its close) belongs to the
// innermost open container, or to the last entry key when none is open;
// the sink follows nesting itself. A failure can come at any point, with
// containers left open: the sink then drops what it holds.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "config/format_config.h"
#include "failure.h"
#include "format_limits.h"
#include "reader/escape_runs.h"
#include "reader/scalar.h"
#include "support/byte_block.h"
#include "support/simd.h"
#include "value/value.h"

namespace vardelquin {

// A key or scalar as read, escapes removed. A lasting token is a view of
// the text itself, and lives as long as the text; any other lives only
// until the next token is read.
struct Token {
  std::string_view text;
  bool lasting;
};

enum class ReadEnd : std::uint8_t {
  complete,
  malformed,  // failure() says how and where
  stopped,    // the sink returned false
};

namespace reading {

// The bytes at which a token stops, plus the escape character. Every
// delimiter is ASCII, so bytes of multi-byte characters never match and a
// run of ordinary bytes never splits a character.
class StopSet {
 public:
  // `kinds` and `scan` are one kind of token's table and scan set, both
  // built with the record.
  StopSet(const FormatConfig::TokenTable& kinds, const FormatConfig::TokenScan& scan) noexcept
      : table_(kinds), scan_(scan) {}

  // What a byte does in a token: nothing (FormatConfig::token_byte),
  // escapes the next one (token_escape), or stops (token_stop).
  std::uint8_t kind(char c) const noexcept { return table_[static_cast<unsigned char>(c)]; }

  // The first byte in [p, end) that stops a token or escapes, else end.
  const char* find(const char* p, const char* const end) const noexcept { return scan_.find(p, end); }

#if VARDELQUIN_SSE2
  // Bit i set where byte i of the block stops a token or escapes.
  unsigned marks(ByteBlock block) const noexcept { return scan_.chunk_mask(block); }
#endif

 private:
  const FormatConfig::TokenTable& table_;
  const FormatConfig::TokenScan& scan_;
};

}  // namespace reading

template <class Sink>
class TextReader {
  static constexpr bool polls = requires(Sink & sink) {
    { Sink::poll_interval } -> std::convertible_to<std::size_t>;
    { sink.poll() } -> std::same_as<bool>;
  };

 public:
  // `text` must be well-formed UTF-8. Tokens with escapes are gathered in
  // `scratch`, the caller's, so that it can keep it from one call to the
  // next (see support/spare.h).
  TextReader(std::string_view text, const FormatConfig& config, Sink& sink, std::string& scratch)
      : pos_(text.data()),
        end_(text.data() + text.size()),
        begin_(text.data()),
        config_(config),
        d_(config),
        top_key_stops_(config.top_key_stops(), config.top_key_scan()),
        object_key_stops_(config.object_key_stops(), config.object_key_scan()),
        scalar_stops_(config.scalar_stops(), config.scalar_scan()),
        type_scalar_(config),
        sink_(sink),
        scratch_(scratch) {
    if constexpr (polls) set_next_poll();
  }
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  // document := field_sep* (key kv_sep value field_sep? field_sep*)*
  // A key runs to the next kv_sep and may be empty; whatever follows a
  // value other than field_sep starts the next key.
  ReadEnd read() {
    for (;;) {
      while (pos_ != end_ && *pos_ == d_.field_sep) ++pos_;
      if (at_end_or_poll()) [[unlikely]] {
        if (pos_ == end_) return ReadEnd::complete;
        if (!poll()) return ReadEnd::stopped;
      }
      const Token key = read_token(top_key_stops_);
      if (pos_ == end_) return fail(FailureKind::key_runs_to_end);
      ++pos_;
      if (!sink_.entry_key(key)) return ReadEnd::stopped;
      if (const ReadEnd end = read_value(); end != ReadEnd::complete) return end;
      if (pos_ != end_ && *pos_ == d_.field_sep) ++pos_;
    }
  }

  // Set when read() returned ReadEnd::malformed.
  const Failure& failure() const noexcept { return failure_; }

 private:
  static constexpr std::uint8_t byte(char c) noexcept { return static_cast<std::uint8_t>(c); }

  // token := (escape char | ordinary char)*, ending before a stop byte or
  // at the end of the text; an escape as the very last byte is dropped.
  // A token without escapes is a view of the text itself. Otherwise it is
  // gathered in scratch_, and the view is of scratch_ until the next token.
  Token read_token(const reading::StopSet& stops) {
    const char* run = pos_;
    pos_ = stops.find(pos_, end_);
    if (pos_ != end_ && *pos_ == d_.escape) [[unlikely]]
      return {read_escaped_token(stops, run), false};
    return {{run, static_cast<std::size_t>(pos_ - run)}, true};
  }

  // From the first escape on. Where SSE2 is on, a block of 16 bytes at a
  // time: the escapes that take effect, found for the whole block at once
  // (escape_runs.h), cut it into segments, each copied by one 16-byte
  // store; the first stop that no escape covers ends the token. The
  // segments' loads reach up to 31 bytes past the block's start, so blocks
  // run while that many bytes are left and a byte loop reads the rest.
  // Neither step makes the address of its next read wait for the bytes
  // just read: the block and the byte advance by fixed steps, and what an
  // escape carries over is a flag. The continuation bytes of a multi-byte
  // character never stop a token, so they follow as ordinary bytes; a
  // lone escape at the end is dropped. scratch_ only grows; its size is
  // its capacity. Out of line, as most tokens have no escape: the reading
  // loop stays small.
  [[gnu::noinline]] std::string_view read_escaped_token(const reading::StopSet& stops, const char* run) {
    // Room for what either step stores past the bytes kept, so that a
    // token that ends soon after its first escape grows scratch_ once.
    constexpr std::size_t stores_past = 32;
    std::size_t length = static_cast<std::size_t>(pos_ - run);
    std::memcpy(room(length + stores_past), run, length);
    const char* p = pos_;
    const char* const end = end_;
    bool escaped = false;  // p's byte follows an escape that takes effect
#if VARDELQUIN_SSE2
    constexpr unsigned block = 16;
    static_assert(stores_past >= 2 * block);
    while (static_cast<std::size_t>(end - p) >= 2 * block) {
      char* const out = room(length + stores_past);
      const ByteBlock bytes = load_block(p);
      const unsigned marks = stops.marks(bytes);
      if (marks == 0) {
        store_block(out + length, bytes);
        length += block;
        p += block;
        escaped = false;
        continue;
      }
      const unsigned escapes = config_.escape_scan().chunk_mask(bytes);
      const std::uint32_t covered = reading::escaped_in_block(escapes, escaped);
      escaped = (covered >> block) != 0;
      const unsigned ends = marks & ~escapes & ~covered;
      unsigned dropped = escapes & ~covered;
      unsigned limit = block;
      if (ends != 0) {
        limit = static_cast<unsigned>(std::countr_zero(ends));
        dropped &= (1u << limit) - 1;
      }
      unsigned from = 0;
      for (; dropped != 0; dropped &= dropped - 1) {
        const auto at = static_cast<unsigned>(std::countr_zero(dropped));
        copy_block(out + length, p + from);
        length += at - from;
        from = at + 1;
      }
      copy_block(out + length, p + from);
      length += limit - from;
      if (ends != 0) {
        pos_ = p + limit;
        return {out, length};
      }
      p += block;
    }
#endif
    // A batch of bytes at a time, with room for them made beforehand.
    constexpr std::size_t batch = 16;
    static_assert(stores_past >= batch);
    for (;;) {
      char* const out = room(length + stores_past);
      bool escapes = false;
      for (const char* const stop = p + std::min(batch, static_cast<std::size_t>(end - p)); p != stop; ++p) {
        const char c = *p;
        const std::uint8_t kind = stops.kind(c);
        if (kind == FormatConfig::token_stop && !escaped) {
          pos_ = p;
          return {out, length};
        }
        out[length] = c;
        const bool drop = kind == FormatConfig::token_escape && !escaped;
        length += !drop;
        escaped = drop;
        escapes |= drop;
      }
      if (p == end) break;
      if (escapes) continue;
      // A batch without an escape: the rest of the run by the scan.
      const char* const start = p;
      p = stops.find(p, end);
      const auto run_length = static_cast<std::size_t>(p - start);
      std::memcpy(room(length + run_length) + length, start, run_length);
      length += run_length;
      if (p == end || stops.kind(*p) == FormatConfig::token_stop) break;
    }
    pos_ = p;
    return {scratch_.data(), length};
  }

  // scratch_, with room for at least `size` bytes.
  char* room(std::size_t size) {
    if (scratch_.size() < size) [[unlikely]]
      scratch_.resize(std::max(size, 2 * scratch_.size()));
    return scratch_.data();
  }

  // value  := list_open list | obj_open object | scalar
  // list   := list_close | value (list_sep value)* list_close
  // object := obj_close | key kv_sep value (field_sep key kv_sep value)* obj_close
  // A key in an object also ends at obj_close, which is then an error.
  //
  // Nesting is followed on an explicit stack of open lists and objects,
  // not by recursion, so that no depth of text can exhaust the native
  // stack. Its bound is small, so the stack is a fixed array.
  ReadEnd read_value() {
    for (;;) {
      if (pos_ != end_ && (*pos_ == d_.list_open || *pos_ == d_.obj_open)) {
        // Every open container encloses this one.
        if (depth_ >= max_nesting_depth) return fail(FailureKind::nesting_too_deep_to_read);
        if (*pos_++ == d_.list_open) {
          if (!sink_.open_list()) return ReadEnd::stopped;
          if (pos_ == end_ || *pos_ != d_.list_close) {
            open_is_list_[depth_++] = true;
            continue;  // to the first item
          }
          ++pos_;
          if (!sink_.close_list()) return ReadEnd::stopped;
        } else {
          if (!sink_.open_object()) return ReadEnd::stopped;
          if (pos_ == end_ || *pos_ != d_.obj_close) {
            open_is_list_[depth_++] = false;
            if (const ReadEnd end = read_member_key(); end != ReadEnd::complete) return end;
            continue;  // to the first value
          }
          ++pos_;
          if (!sink_.close_object()) return ReadEnd::stopped;
        }
      } else {
        const Token token = read_token(scalar_stops_);
        if (!sink_.scalar(type_scalar_(token.text), token.lasting)) return ReadEnd::stopped;
      }
      // The value just completed may complete its container in turn, up
      // to the next value to read.
      for (;;) {
        if (depth_ == 0) return ReadEnd::complete;
        if (open_is_list_[depth_ - 1]) {
          if (at_end_or_poll()) [[unlikely]] {
            if (pos_ == end_) return fail(FailureKind::list_unterminated);
            if (!poll()) return ReadEnd::stopped;
          }
          const char c = *pos_;
          if (c == d_.list_sep) {
            ++pos_;
            break;
          }
          if (c != d_.list_close) return fail(FailureKind::list_unexpected_byte, byte(c));
          ++pos_;
          if (!sink_.close_list()) return ReadEnd::stopped;
        } else {
          if (at_end_or_poll()) [[unlikely]] {
            if (pos_ == end_) return fail(FailureKind::object_unterminated);
            if (!poll()) return ReadEnd::stopped;
          }
          const char c = *pos_;
          if (c == d_.field_sep) {
            ++pos_;
            if (const ReadEnd end = read_member_key(); end != ReadEnd::complete) return end;
            break;
          }
          if (c != d_.obj_close) return fail(FailureKind::object_unexpected_byte, byte(c));
          ++pos_;
          if (!sink_.close_object()) return ReadEnd::stopped;
        }
        --depth_;
      }
    }
  }

  // key kv_sep, in an object; its value follows.
  ReadEnd read_member_key() {
    const Token key = read_token(object_key_stops_);
    if (pos_ == end_) return fail(FailureKind::key_runs_to_end);
    if (*pos_ != d_.kv_sep) return fail(FailureKind::key_ends_without_kv_sep, byte(*pos_));
    ++pos_;
    return sink_.member_key(key) ? ReadEnd::complete : ReadEnd::stopped;
  }

  // Every value is followed by one of the tests of at_end_or_poll, in
  // place of a test for the end: a poll costs nothing until it is due.
  // poll_at_ never passes the end, which a pointer must not.
  bool at_end_or_poll() const noexcept {
    if constexpr (polls) {
      return pos_ >= poll_at_;
    } else {
      return pos_ == end_;
    }
  }
  void set_next_poll() noexcept {
    constexpr std::size_t interval = Sink::poll_interval;
    poll_at_ = static_cast<std::size_t>(end_ - pos_) > interval ? pos_ + interval : end_;
  }
  [[gnu::noinline]] bool poll() {
    if constexpr (polls) {
      set_next_poll();
      return sink_.poll();
    } else {
      return true;
    }
  }

  std::size_t offset() const noexcept { return static_cast<std::size_t>(pos_ - begin_); }

  // Failures record where reading stopped. A byte found there is kept as
  // the character of the same number, which is how its message shows it
  // (a lead byte of a multi-byte character as a Latin-1 letter).
  [[gnu::noinline, gnu::cold]] ReadEnd fail(FailureKind kind, char32_t found = 0) {
    const bool about_a_key =
        kind == FailureKind::key_runs_to_end || kind == FailureKind::key_ends_without_kv_sep;
    failure_ = Failure{.kind = kind,
                       .character = found,
                       .expected = about_a_key ? config_.delimiter(Delimiter::kv_sep) : 0,
                       .offset = offset()};
    return ReadEnd::malformed;
  }

  const char* pos_;
  const char* const end_;
  const char* const begin_;
  const char* poll_at_;  // unset for a sink without polls
  const FormatConfig& config_;
  const DelimiterBytes d_;
  const reading::StopSet top_key_stops_, object_key_stops_, scalar_stops_;
  const ScalarTyper type_scalar_;
  Sink& sink_;
  std::string& scratch_;
  Failure failure_{};
  // Which of the open containers, outermost first, are lists.
  std::size_t depth_ = 0;
  std::array<bool, max_nesting_depth> open_is_list_;
};

}  // namespace vardelquin
