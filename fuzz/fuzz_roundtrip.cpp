// Trees built from the fuzzer's bytes, within the nesting bound, under a
// configuration taken from the same bytes, are written and read back. The
// result must be what tree_model.h says the format promises, and reading
// must be a fixed point after one round. Each float from the fuzzer's bits
// is also spelled as the standard library spells it.
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "tree_model.h"

namespace vardelquin::fuzz {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

constexpr std::array<double, 24> interesting_floats = {
    0.0,
    -0.0,
    1.0,
    -1.5,
    0.1,
    0.30000000000000004,
    1e300,
    1e23,
    1e-7,
    5e-324,
    std::numeric_limits<double>::max(),
    -std::numeric_limits<double>::min(),
    4503599627370495.5,
    9007199254740992.0,
    9007199254740993.0,
    18446744073709551616.0,
    9223372036854775808.0,
    inf,
    -inf,
    std::bit_cast<double>(std::uint64_t{0x7FF8000000000000}),
    std::bit_cast<double>(std::uint64_t{0xFFF8000000000001}),
    std::bit_cast<double>(std::uint64_t{0x7FF0000000000001}),
    123456.789,
    -0.000123};

// A float's spelling: integral values exactly with ".0", others in the
// shortest positional digits that read back as the same value.
std::string reference_spelling(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x < 0 ? "-inf" : "inf";
  char text[400];
  if (x == std::trunc(x))
    return std::string(text, static_cast<std::size_t>(std::snprintf(text, sizeof text, "%.0f.0", x)));
  const char* const end = std::to_chars(text, text + sizeof text, x, std::chars_format::fixed).ptr;
  return std::string(text, static_cast<std::size_t>(end - text));
}

// A float of the fuzzer's bits, or with `fractional` of an exponent where
// values below 2^52 have fractions, whose spelling is checked.
Value checked_float(std::uint64_t bits, bool fractional) {
  if (fractional) bits = (bits & 0x800FFFFFFFFFFFFF) | ((bits >> 52 & 0x7FF) % 112 + 963) << 52;
  const double x = std::bit_cast<double>(bits);
  const std::string written = format_float(x), expected = reference_spelling(x);
  FUZZ_CHECK(written == expected, written + " expected " + expected);
  return Value::floating(x);
}

class Generator {
 public:
  Generator(ByteSource& in, const FormatConfig& config, Document& document)
      : in_(in), config_(config), document_(document) {}

  void document() {
    for (std::size_t n = 0; !in_.empty() && n < 64; ++n) {
      const std::string_view key = this->key();
      document_.append(key, value(0));
    }
  }

 private:
  // `depth` counts the lists and objects around the value.
  Value value(std::size_t depth) {
    const std::uint8_t op = in_.byte();
    const bool may_nest = depth < max_nesting_depth;
    switch (op % 12) {
      case 0: return Value::null();
      case 1: return Value::boolean((op & 0x10) != 0);
      case 2: return Value::integer(static_cast<std::int64_t>(in_.u64()));
      case 3: return Value::integer(static_cast<std::int8_t>(in_.byte()));
      case 4: return checked_float(in_.u64(), (op & 0x10) != 0);
      case 5: return Value::floating(interesting_floats[in_.byte() % interesting_floats.size()]);
      case 6:
      case 7: return make_string(document_.arena(), text());
      case 8: return make_string(document_.arena(), tricky_text());
      case 9: return may_nest ? list(depth + 1) : Value::null();
      case 10: return may_nest ? object(depth + 1) : Value::null();
      default: return may_nest ? chain(depth) : Value::null();
    }
  }

  Value list(std::size_t item_depth) {
    std::vector<Value> items;
    for (std::size_t n = in_.byte() % 6; n > 0; --n) items.push_back(value(item_depth));
    return make_list(document_.arena(), items);
  }

  Value object(std::size_t value_depth) {
    std::vector<Member> members;
    for (std::size_t n = in_.byte() % 6; n > 0; --n) {
      const std::string_view key = this->key();
      members.push_back(Member{key, value(value_depth)});
    }
    return make_object(document_.arena(), members);
  }

  // A value wrapped in many one-element lists and objects: 255 goes
  // exactly to the nesting bound.
  Value chain(std::size_t depth) {
    const std::uint8_t length = in_.byte();
    const std::uint8_t pattern = in_.byte();
    const std::size_t room = max_nesting_depth - depth;
    const std::size_t levels = length == 255 ? room : std::min<std::size_t>(room, length % 64 + 1u);
    Value v = value(depth + levels);
    for (std::size_t i = levels; i > 0; --i) {
      if ((pattern >> (i % 8)) & 1) {
        v = make_list(document_.arena(), std::span(&v, 1));
      } else {
        Member m{"k", v};
        v = make_object(document_.arena(), std::span(&m, 1));
      }
    }
    return v;
  }

  std::string_view key() {
    static constexpr std::array<std::string_view, 8> pool = {"", "a", "b", "B", "k", "_", "é", "ab"};
    const std::uint8_t choice = in_.byte();
    if (choice < 128) return document_.arena().copy(text());
    if (choice < 192) return pool[choice % pool.size()];
    return document_.arena().copy(tricky_text());
  }

  std::string text() {
    std::size_t length = in_.byte();
    length = length >= 0xF8 ? (length - 0xF7u) * 256u : length % 24;
    return repair_utf8(in_.bytes(length));
  }

  // Spellings that the reader types, and delimiters that need escapes.
  std::string tricky_text() {
    static constexpr std::array<std::string_view, 30> pool = {"",
                                                              "0",
                                                              "-0",
                                                              "007",
                                                              "+1",
                                                              "9223372036854775807",
                                                              "9223372036854775808",
                                                              "-9223372036854775808",
                                                              "-9223372036854775809",
                                                              "1.",
                                                              ".5",
                                                              "-.5",
                                                              "1e5",
                                                              "1E-5",
                                                              "1e",
                                                              "inf",
                                                              "-Infinity",
                                                              "nan",
                                                              "-nan",
                                                              "NaN",
                                                              "1e400",
                                                              "1e-400",
                                                              "0x10",
                                                              "1_000",
                                                              " 1",
                                                              "1 ",
                                                              ".",
                                                              "e5",
                                                              "infin",
                                                              std::string_view("\0", 1)};
    const std::uint8_t choice = in_.byte();
    const std::uint8_t which = in_.byte();
    switch (choice % 4) {
      case 0: return std::string(pool[which % pool.size()]);
      case 1: return config_.keyword(static_cast<Keyword>(which % keyword_count));
      case 2: {
        // A run of delimiters, the escape among them.
        std::string out;
        for (std::size_t i = 0; i < delimiter_count; ++i) {
          if ((which >> i) & 1) out += config_.byte(static_cast<Delimiter>(i));
        }
        return out;
      }
      default:
        return std::string(pool[which % pool.size()]) + config_.byte(static_cast<Delimiter>(choice % 8)) +
               config_.keyword(static_cast<Keyword>(which % keyword_count));
    }
  }

  ByteSource& in_;
  const FormatConfig& config_;
  Document& document_;
};

}  // namespace
}  // namespace vardelquin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vardelquin;
  fuzz::ByteSource in(data, size);
  const FormatConfig config = fuzz::config_from(in);
  Document document;
  fuzz::Generator(in, config, document).document();
  fuzz::check_reads_back(document, config);
  return 0;
}
