#include "writer/writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/byte_set.h"
#include "support/output_buffer.h"
#include "writer/shortest_digits.h"

namespace vardelquin {
namespace {

// Decimal digits of `value` ending at `end`, two at a time from a table;
// returns where they start. Integers are the most common scalar, and this
// beats the general conversion by skipping its digit-count search.
char* write_digits_backwards(char* end, std::uint64_t value) noexcept {
  static constexpr char pairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  while (value >= 100) {
    const auto pair = static_cast<std::size_t>(value % 100) * 2;
    value /= 100;
    end -= 2;
    std::memcpy(end, pairs + pair, 2);
  }
  if (value >= 10) {
    end -= 2;
    std::memcpy(end, pairs + value * 2, 2);
  } else {
    *--end = static_cast<char>('0' + value);
  }
  return end;
}

// Writes the digits of `value` at `out`, which has room for 20; returns
// their end.
char* write_digits(char* out, std::uint64_t value) noexcept {
  char scratch[20];
  char* const scratch_end = scratch + sizeof scratch;
  const char* const start = write_digits_backwards(scratch_end, value);
  const auto length = static_cast<std::size_t>(scratch_end - start);
  std::memcpy(out, start, length);
  return out + length;
}

void put_integer(OutputBuffer& sink, std::int64_t value) {
  // A sign and the 19 digits of the largest magnitude, 2^63.
  char* const first = sink.reserve(20);
  char* digits = first;
  auto magnitude = static_cast<std::uint64_t>(value);
  if (value < 0) {
    *digits++ = '-';
    // Negating as unsigned is defined for the most negative value too.
    magnitude = 0 - magnitude;
  }
  sink.commit(write_digits(digits, magnitude));
}

// A finite value without a fractional part: its exact decimal integer, then
// ".0". The sign comes from the sign bit so that -0.0 keeps its "-".
void put_integral_float(OutputBuffer& sink, double value) {
  constexpr double two_to_64 = 18446744073709551616.0;
  // The largest finite double has 309 integer digits; a sign and ".0" follow.
  constexpr std::size_t longest = 312;
  char* const first = sink.reserve(longest);
  char* last;
  const double magnitude = std::fabs(value);
  if (magnitude < two_to_64) {
    // Every integral double below 2^64 is exactly a 64-bit unsigned value,
    // and integer formatting is far cheaper than the general path.
    char* digits = first;
    if (std::signbit(value)) *digits++ = '-';
    last = write_digits(digits, static_cast<std::uint64_t>(magnitude));
  } else {
    last = std::to_chars(first, first + longest, value, std::chars_format::fixed, 0).ptr;
  }
  *last++ = '.';
  *last++ = '0';
  sink.commit(last);
}

#if VARDELQUIN_SWAR
// The eight digits of n < 10^8 as ASCII bytes in one word, the leading digit
// in the lowest byte: n is split into 4, then 2, then 1 digit lanes, the
// leading digits in the low lanes, and every per-lane product stays within
// its lane.
std::uint64_t eight_digits(std::uint64_t n) noexcept {
  std::uint64_t lanes = (n / 10000) | (n % 10000) << 32;
  std::uint64_t high = (lanes * 5243) >> 19 & 0x0000007F0000007F;  // x / 100 for x < 10^4
  lanes = high | (lanes - 100 * high) << 16;
  high = (lanes * 103) >> 10 & 0x000F000F000F000F;  // x / 10 for x < 100
  return (high | (lanes - 10 * high) << 8) | 0x3030303030303030;
}

// Stores the word's bytes lowest first, whatever the byte order: a copy of
// the word itself on little-endian targets, reversed on big-endian ones.
void store_eight_digits(char* out, std::uint64_t digits) noexcept {
  if constexpr (std::endian::native == std::endian::big) digits = __builtin_bswap64(digits);
  std::memcpy(out, &digits, 8);
}
#endif

// The digits of `significand` (below 10^17) in 17 places at `out`, zeros in
// front. Fractional floats have up to 17 digits, and a fixed count lets
// the caller copy them in blocks without measuring first.
void put_17_digits(char* out, std::uint64_t significand) noexcept {
#if VARDELQUIN_SWAR
  constexpr std::uint64_t e8 = 100000000;
  out[0] = static_cast<char>('0' + significand / (e8 * e8));
  store_eight_digits(out + 1, eight_digits(significand / e8 % e8));
  store_eight_digits(out + 9, eight_digits(significand % e8));
#else
  char* const first = write_digits_backwards(out + 17, significand);
  std::memset(out, '0', static_cast<std::size_t>(first - out));
#endif
}

// A finite value with a fractional part: the shortest digits that read back
// to the same double, laid out positionally. Such a value is below 2^52 in
// magnitude, and the longest spelling is a small subnormal: a sign, "0.",
// and at most 340 digits after the point, up to 323 of them leading zeros.
void put_fractional_float(OutputBuffer& sink, double value) {
  constexpr std::size_t longest = 343;
  // Digits are copied in blocks of fixed size, which may overrun what is
  // kept by up to 24 bytes.
  char* out = sink.reserve(longest + 24);
  *out = '-';
  out += std::signbit(value);
  const DecimalDigits decimal = shortest_digits(value);

  // The significand in 17 places, and 24 more bytes readable after its
  // first significant digit.
  char digits[48] = {};
  const std::uint64_t significand = decimal.significand;
  put_17_digits(digits, significand);
  constexpr std::uint64_t e8 = 100000000;
  constexpr std::uint64_t powers_of_ten[18] = {
      1,          10,          100,          1000,          10000,    100000,
      1000000,    10000000,    e8,           10 * e8,       100 * e8, 1000 * e8,
      10000 * e8, 100000 * e8, 1000000 * e8, 10000000 * e8, e8 * e8,  10 * e8 * e8};
  // bit_width * log10(2), rounded down, is the digit count or one less.
  const int log10_bound = static_cast<int>(std::bit_width(significand)) * 1233 >> 12;
  const int count = log10_bound + (significand >= powers_of_ten[log10_bound]);
  const char* const first = digits + 17 - count;

  // The digits end past the point: the value is no integer, and neither is
  // any decimal reading back as it, all being within half a unit in the last
  // place. So there are at most 16 digits before the point and 16 after it.
  const int integer_digits = count + decimal.exponent;
  if (integer_digits > 0) {
    const auto point = static_cast<std::size_t>(integer_digits);
    std::memcpy(out, first, 16);
    std::memcpy(out + point + 1, first + point, 16);
    out[point] = '.';
    out += count + 1;
  } else {
    const auto zeros = static_cast<std::size_t>(-integer_digits);
    std::memcpy(out, "0.0000000000000000", 18);
    if (zeros > 16) std::memset(out + 18, '0', zeros - 16);
    std::memcpy(out + 2 + zeros, first, 24);
    out += 2 + zeros + static_cast<std::size_t>(count);
  }
  sink.commit(out);
}

void put_float(OutputBuffer& sink, double value) {
  // NaN and the infinities fail this test, since x - trunc(x) is NaN for them.
  if (value - std::trunc(value) == 0.0) {
    put_integral_float(sink, value);
  } else if (std::isnan(value)) {
    sink.put("NaN");
  } else if (std::isinf(value)) {
    sink.put(value < 0 ? "-inf" : "inf");
  } else {
    put_fractional_float(sink, value);
  }
}

// Which bytes get the escape character in front of them: the eight
// delimiters, all ASCII, so bytes of multi-byte sequences are always
// copied as they are.
class EscapeSet {
 public:
  explicit EscapeSet(const FormatConfig& config)
      : marked_(config.delimiter_scan()), escape_(config.byte(Delimiter::escape)) {}

  void put(OutputBuffer& sink, std::string_view text) const {
    // Worst case every byte is escaped; the block loop may also store up to
    // 16 bytes past what it keeps.
    char* out = sink.reserve(2 * text.size() + 16);
    const char* in = text.data();
    const char* const end = in + text.size();
#if VARDELQUIN_SSE2
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
      // its bytes are marked.
      const auto clean = std::countr_zero(mask);
      in += clean;
      out += clean;
      out = put_bytes(out, in, in + (16 - clean));
      in += 16 - clean;
    }
#endif
    sink.commit(put_bytes(out, in, end));
  }

 private:
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

// Whether numbers are escaped is settled once per document, as a template
// argument, so that the usual configurations write numbers exactly as fast
// as if the case did not exist.
template <bool escape_numbers>
class Writer {
 public:
  Writer(const FormatConfig& config, OutputBuffer& out)
      : sink_(out),
        escapes_(config),
        null_str_(config.null_str()),
        true_str_(config.true_str()),
        false_str_(config.false_str()),
        d_(config) {}

  // Top-level entries are terminated by field_sep, the last one included.
  void document(const Document& document) {
    for (const auto& [key, value] : document) {
      escapes_.put(sink_, key);
      sink_.put(d_.kv_sep);
      this->value(value);
      sink_.put(d_.field_sep);
    }
  }

  void value(const Value& value) {
    switch (value.tag()) {
      case ValueTag::Null: sink_.put(null_str_); return;
      case ValueTag::Bool: sink_.put(value.as_bool() ? true_str_ : false_str_); return;
      case ValueTag::Int:
        if constexpr (escape_numbers) return escaped_number(value);
        put_integer(sink_, value.as_int());
        return;
      case ValueTag::Float:
        if constexpr (escape_numbers) return escaped_number(value);
        put_float(sink_, value.as_float());
        return;
      case ValueTag::Str: escapes_.put(sink_, value.as_str()); return;
      case ValueTag::List: list(value.as_list()); return;
      case ValueTag::Object: object(value.as_object()); return;
    }
  }

 private:
  void list(std::span<const Value> items) { nested(Value::list(items)); }
  void object(std::span<const Member> members) { nested(Value::object(members)); }

  // A list or object and everything inside it, walked on an explicit stack
  // of open containers rather than by recursion, so that no depth of tree
  // can exhaust the native stack. Scalars go through value().
  // Inside braces pairs are separated, not terminated, unlike the top level.
  void nested(const Value& outermost) {
    open(outermost);
    while (!open_.empty()) {
      OpenContainer& current = open_.back();
      const Value* child;
      if (current.container.tag() == ValueTag::List) {
        const std::span<const Value> items = current.container.as_list();
        if (current.next == items.size()) {
          close(d_.list_close);
          continue;
        }
        if (current.next != 0) sink_.put(d_.list_sep);
        child = &items[current.next++];
      } else {
        const std::span<const Member> members = current.container.as_object();
        if (current.next == members.size()) {
          close(d_.obj_close);
          continue;
        }
        if (current.next != 0) sink_.put(d_.field_sep);
        const Member& member = members[current.next++];
        escapes_.put(sink_, member.key);
        sink_.put(d_.kv_sep);
        child = &member.value;
      }
      if (child->tag() == ValueTag::List || child->tag() == ValueTag::Object) {
        open(*child);
      } else {
        value(*child);
      }
    }
  }

  void open(const Value& container) {
    sink_.put(container.tag() == ValueTag::List ? d_.list_open : d_.obj_open);
    open_.push_back(OpenContainer{container, 0});
  }

  void close(char bracket) {
    sink_.put(bracket);
    open_.pop_back();
  }

  struct OpenContainer {
    Value container;
    std::size_t next;  // the child to write next
  };

  // A delimiter that a number is spelled with would cut the number apart on
  // reading, so under such a configuration numbers are escaped like strings.
  // The spelling goes to scratch first and is escaped from there.
  void escaped_number(const Value& value) {
    scratch_.clear();
    if (value.tag() == ValueTag::Int) {
      put_integer(scratch_, value.as_int());
    } else {
      put_float(scratch_, value.as_float());
    }
    escapes_.put(sink_, scratch_.view());
  }

  OutputBuffer& sink_;
  const EscapeSet escapes_;
  std::string_view null_str_;
  std::string_view true_str_;
  std::string_view false_str_;
  const DelimiterBytes d_;
  std::vector<OpenContainer> open_;
  OutputBuffer scratch_;
};

// Runs `write` on a writer made for the configuration, writing into `out`.
template <class Write>
void write_into(const FormatConfig& config, OutputBuffer& out, Write&& write) {
  if (config.numbers_need_escaping()) {
    Writer<true> writer(config, out);
    write(writer);
  } else {
    Writer<false> writer(config, out);
    write(writer);
  }
}

// As write_into, handing over what it wrote.
template <class Write>
OwnedText with_writer(const FormatConfig& config, Write&& write) {
  OutputBuffer out;
  write_into(config, out, write);
  return std::move(out).finish();
}

}  // namespace

OwnedText write_document(const Document& document, const FormatConfig& config) {
  return with_writer(config, [&](auto& writer) { writer.document(document); });
}

void write_document(const Document& document, const FormatConfig& config, OutputBuffer& out) {
  write_into(config, out, [&](auto& writer) { writer.document(document); });
}

OwnedText write_value(const Value& value, const FormatConfig& config) {
  return with_writer(config, [&](auto& writer) { writer.value(value); });
}

OwnedText escape_text(std::string_view text, const FormatConfig& config) {
  OutputBuffer out;
  EscapeSet(config).put(out, text);
  return std::move(out).finish();
}

std::string format_integer(std::int64_t value) {
  OutputBuffer out;
  put_integer(out, value);
  return std::string(out.view());
}

std::string format_float(double value) {
  OutputBuffer out;
  put_float(out, value);
  return std::string(out.view());
}

}  // namespace vardelquin
