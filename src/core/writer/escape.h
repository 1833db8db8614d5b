// Escaping of keys and strings: each ASCII delimiter, the escape included,
// gets the escape character in front of it; every other byte is copied.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "config/format_config.h"
#include "support/output_buffer.h"
#include "support/simd.h"

namespace vardelquin {

// Which bytes get the escape character in front of them: the eight
// delimiters, all ASCII, so bytes of multi-byte sequences are always
// copied as they are.
class EscapeSet {
 public:
  explicit EscapeSet(const FormatConfig& config)
      : marked_(config.delimiter_scan()), escape_(config.byte(Delimiter::escape)) {}

  // For a text of 1 to 32 bytes free of delimiters, most keys and many
  // strings: stores its bytes at `out`, which has room for 32, and returns
  // true. False, storing nothing that counts, otherwise. From 16 bytes on
  // the text is read as two blocks that overlap, both within it.
  bool copy_short_if_clear(std::string_view text, char* out) const noexcept {
#if VARDELQUIN_SSE2
    const char* const in = text.data();
    const std::size_t n = text.size();
    if (n - 1 < 15) return marked_.copy_if_clear(in, n, out);
    if (n - 16 > 16) return false;
    if ((marked_.block_mask(in) | marked_.block_mask(in + n - 16)) != 0) return false;
    std::memcpy(out, in, 16);
    std::memcpy(out + n - 16, in + n - 16, 16);
    return true;
#else
    (void)text;
    (void)out;
    return false;
#endif
  }

  void put(OutputBuffer& sink, std::string_view text) const {
    // A long text goes in pieces, each with room for its worst case (every
    // byte escaped), so that the buffer never holds room for twice the
    // whole text: it grows with what is written, not with what might be.
    constexpr std::size_t piece = std::size_t{1} << 16;
    while (text.size() > piece) [[unlikely]] {
        put_piece(sink, text.substr(0, piece));
        text.remove_prefix(piece);
      }
    put_piece(sink, text);
  }

 private:
  void put_piece(OutputBuffer& sink, std::string_view text) const {
    // Worst case every byte is escaped; the block loop may also store up to
    // 16 bytes past what it keeps.
    char* out = sink.reserve(2 * text.size() + 16);
    const char* in = text.data();
    const char* const end = in + text.size();
#if VARDELQUIN_SSE2
    // Most keys and strings are short and free of delimiters: one read
    // tests them whole, and one store copies them.
    if (text.size() < 16 && !text.empty() && marked_.copy_if_clear(in, text.size(), out)) {
      sink.commit(out + text.size());
      return;
    }
    // Text is mostly free of delimiters: test 16 bytes at once, store them
    // whole and keep the part before the first marked byte.
    while (end - in >= 16) {
      const unsigned mask = marked_.block_mask(in);
      std::memcpy(out, in, 16);
      if (mask == 0) {
        in += 16;
        out += 16;
        continue;
      }
      // A block with marked bytes: keep its clean head, then take the rest
      // of the block byte by byte, which costs the same however many of
      // its bytes are marked. Where they are dense, the next blocks are
      // likely marked too, and testing them would only add to their cost:
      // they go byte by byte as well.
      const auto clean = std::countr_zero(mask);
      in += clean;
      out += clean;
      std::size_t bytewise = 16 - static_cast<std::size_t>(clean);
      if (more_than_two_bits(mask) && static_cast<std::size_t>(end - in) >= bytewise + dense_run)
        bytewise += dense_run;
      out = put_bytes(out, in, in + bytewise);
      in += bytewise;
    }
#endif
    sink.commit(put_bytes(out, in, end));
  }

  static constexpr std::size_t dense_run = 64;

  // std::popcount(mask) > 2 without the population count, which is a
  // library call on the x86-64 baseline: the lowest set bit cleared twice.
  static constexpr bool more_than_two_bits(unsigned mask) noexcept {
    mask &= mask - 1;
    mask &= mask - 1;
    return mask != 0;
  }

  // Branch-free: the escape is always stored and kept only when marked.
  char* put_bytes(char* out, const char* in, const char* end) const {
    for (; in != end; ++in) {
      const auto c = static_cast<unsigned char>(*in);
      *out = escape_;
      out += marked_[c];
      *out++ = static_cast<char>(c);
    }
    return out;
  }

  const FormatConfig::DelimiterScan& marked_;  // built with the record
  char escape_;
};

}  // namespace vardelquin
