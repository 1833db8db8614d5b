#include "serializer/writer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace vardelquin {
namespace {

// Everything is appended to one caller-owned buffer, so a whole document
// costs one growing allocation instead of one string per value.

void append_integer(std::string& out, std::int64_t value) {
  // A sign and the 19 digits of the largest magnitude, 2^63.
  std::array<char, 20> buffer;
  char* first = buffer.data();
  auto magnitude = static_cast<std::uint64_t>(value);
  if (value < 0) {
    *first++ = '-';
    // Negating as unsigned is defined for the most negative value too.
    magnitude = 0 - magnitude;
  }
  const auto result = std::to_chars(first, buffer.data() + buffer.size(), magnitude);
  out.append(buffer.data(), result.ptr);
}

// A finite value without a fractional part: its exact decimal integer, then
// ".0". The sign comes from the sign bit so that -0.0 keeps its "-".
void append_integral_float(std::string& out, double value) {
  constexpr double two_to_64 = 18446744073709551616.0;
  const double magnitude = std::fabs(value);
  if (magnitude < two_to_64) {
    // Every integral double below 2^64 is exactly a 64-bit unsigned value,
    // and integer formatting is far cheaper than the general path.
    if (std::signbit(value)) out.push_back('-');
    std::array<char, 20> buffer;
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                      static_cast<std::uint64_t>(magnitude));
    out.append(buffer.data(), result.ptr);
  } else {
    // The largest finite double has 309 integer digits.
    std::array<char, 320> buffer;
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, 0);
    out.append(buffer.data(), result.ptr);
  }
  out.append(".0");
}

// A finite value with a fractional part: the shortest digits that read back
// to the same double, laid out positionally. Such a value is below 2^52 in
// magnitude, and the longest spelling is a small subnormal: "0.", about 320
// zeros and up to 17 digits.
void append_fractional_float(std::string& out, double value) {
  std::array<char, 400> buffer;
  const auto result =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed);
  out.append(buffer.data(), result.ptr);
}

void append_float(std::string& out, double value) {
  // NaN and the infinities fail this test, since x - trunc(x) is NaN for them.
  if (value - std::trunc(value) == 0.0) {
    append_integral_float(out, value);
  } else if (std::isnan(value)) {
    out.append("NaN");
  } else if (std::isinf(value)) {
    out.append(value < 0 ? "-inf" : "inf");
  } else {
    append_fractional_float(out, value);
  }
}

// Which bytes get the escape character in front of them. Only ASCII bytes
// can be marked: bytes of multi-byte sequences are always copied as they are.
class EscapeSet {
 public:
  explicit EscapeSet(const FormatConfig& config) : escape_(config.byte(Delimiter::escape)) {
    const auto& special = config.special_table();
    for (std::size_t c = 0; c < 0x80; ++c) marked_[c] = special[c] != 0;
  }

  // Copies runs of unmarked bytes in one go; a marked byte starts the next
  // run after its escape character.
  void append(std::string& out, std::string_view text) const {
    const char* run = text.data();
    const char* const end = run + text.size();
    for (const char* p = run; p != end; ++p) {
      if (marked_[static_cast<unsigned char>(*p)]) {
        out.append(run, p);
        out.push_back(escape_);
        run = p;
      }
    }
    out.append(run, end);
  }

 private:
  std::array<bool, 256> marked_{};
  char escape_;
};

class Writer {
 public:
  Writer(const FormatConfig& config, std::string& out)
      : out_(out),
        escapes_(config),
        null_str_(config.null_str()),
        true_str_(config.true_str()),
        false_str_(config.false_str()),
        field_sep_(config.byte(Delimiter::field_sep)),
        kv_sep_(config.byte(Delimiter::kv_sep)),
        list_open_(config.byte(Delimiter::list_open)),
        list_close_(config.byte(Delimiter::list_close)),
        list_sep_(config.byte(Delimiter::list_sep)),
        obj_open_(config.byte(Delimiter::obj_open)),
        obj_close_(config.byte(Delimiter::obj_close)) {}

  // Top-level entries are terminated by field_sep, the last one included.
  void document(const Document& document) {
    for (const auto& [key, value] : document) {
      escapes_.append(out_, key);
      out_.push_back(kv_sep_);
      this->value(value);
      out_.push_back(field_sep_);
    }
  }

  void value(const Value& value) {
    switch (value.tag()) {
      case ValueTag::Null: out_.append(null_str_); return;
      case ValueTag::Bool: out_.append(value.as_bool() ? true_str_ : false_str_); return;
      case ValueTag::Int: append_integer(out_, value.as_int()); return;
      case ValueTag::Float: append_float(out_, value.as_float()); return;
      case ValueTag::Str: escapes_.append(out_, value.as_str()); return;
      case ValueTag::List: list(value.as_list()); return;
      case ValueTag::Object: object(value.as_object()); return;
    }
  }

 private:
  void list(const List& items) {
    out_.push_back(list_open_);
    bool first = true;
    for (const Value& item : items) {
      if (!first) out_.push_back(list_sep_);
      first = false;
      value(item);
    }
    out_.push_back(list_close_);
  }

  // Inside braces pairs are separated, not terminated, unlike the top level.
  void object(const Object& members) {
    out_.push_back(obj_open_);
    bool first = true;
    for (const auto& [key, member] : members) {
      if (!first) out_.push_back(field_sep_);
      first = false;
      escapes_.append(out_, key);
      out_.push_back(kv_sep_);
      value(member);
    }
    out_.push_back(obj_close_);
  }

  std::string& out_;
  const EscapeSet escapes_;
  const std::string& null_str_;
  const std::string& true_str_;
  const std::string& false_str_;
  const char field_sep_;
  const char kv_sep_;
  const char list_open_;
  const char list_close_;
  const char list_sep_;
  const char obj_open_;
  const char obj_close_;
};

}  // namespace

std::string write_document(const Document& document, const FormatConfig& config) {
  std::string out;
  Writer(config, out).document(document);
  return out;
}

std::string write_value(const Value& value, const FormatConfig& config) {
  std::string out;
  Writer(config, out).value(value);
  return out;
}

std::string escape_text(std::string_view text, const FormatConfig& config) {
  std::string out;
  if (text.empty()) return out;
  out.reserve(text.size());
  EscapeSet(config).append(out, text);
  return out;
}

std::string format_integer(std::int64_t value) {
  std::string out;
  append_integer(out, value);
  return out;
}

std::string format_float(double value) {
  std::string out;
  append_float(out, value);
  return out;
}

}  // namespace vardelquin
