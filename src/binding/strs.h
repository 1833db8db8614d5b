// Strs made from UTF-8: every key and string value that loads reads, and
// every whole text made a str at once (the result of dumps, a
// FormatConfig's repr). Each is made the cheapest way there is for its
// size and content; the ways, the thresholds between them, and the caches
// of keys and short values that loads reuses are all here.
//
// The interpreter's UTF-8 decoder costs several hundred instructions to
// start and then 20 to 25 a character where the text is not ASCII,
// branching on every character where scripts and punctuation mix. So:
// - ASCII goes to the Latin-1 decoder, cheaper to start;
// - a short text that is not ASCII is decoded here into code points on the
//   stack, handed over as Latin-1 bytes where they all fit, else as wide
//   characters, which the interpreter takes for a few instructions each;
// - a long text mostly of multi-byte characters is block-transcoded to
//   UTF-16, or to code points where a character lies beyond the Basic
//   Multilingual Plane (the route utf8::str_route picks), and handed to
//   the UTF-16 decoder or the wide-character constructor;
// - what is left goes to the UTF-8 decoder.
// Where wchar_t is too narrow for a code point (Windows), the code-point
// routes give way to the UTF-8 decoder.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "binding/call_frame.h"
#include "support/output_buffer.h"
#include "support/utf8.h"

namespace vardelquin {

// A new str from UTF-8 bytes by the interpreter's UTF-8 decoder, or empty
// with the interpreter's exception set.
inline PyRef str_from_utf8(std::string_view text) {
  return PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// As str_from_utf8, for bytes that are all ASCII, by the Latin-1 decoder,
// which costs less per call: loads pays it for every short string.
inline PyRef str_from_ascii(std::string_view text) {
  return PyRef::steal(PyUnicode_DecodeLatin1(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

// A str of a whole text of any size, by the cheapest route for it, with
// the failure as a value.
PyResult<PyRef> checked_str_from_utf8(std::string_view text);
// As checked_str_from_utf8(text.view()), for a text that is no longer
// needed once read: one that goes through UTF-16 is transcoded over its
// own bytes, in the buffer's room, which may be left emptied. Room of its
// own would be memory as large again, which the kernel hands over a page
// at a time, each call anew, at more cost than the transcoding.
PyResult<PyRef> checked_str_from_utf8(OutputBuffer& text);

// The strs of one loads call: its keys and string values, read from
// `text`, the UTF-8 of the str `source`, which outlive this. Call with the
// interpreter lock held.
//
// Strings are most of many texts, short ones above all. A short one made
// before, in this call or an earlier one, is reused from a cache (keys
// and values have one each), which costs a tenth of making it; the dict
// store then reuses the hash cached in a key. Where short values seldom
// repeat, a miss costs more than making one, so a call stops looking once
// misses outrun hits (see value_credit_). A string read straight from an
// ASCII str is a part of that str (a character's index is its byte's),
// which the interpreter copies without decoding. A long string of mostly
// multi-byte characters is a part of the str too, where that str is not
// one of four bytes a character, from which the interpreter narrows parts
// slowly: the characters up to it are counted from where the last such
// string ended. That costs less than code points from 64 bytes on, which
// cost less than the UTF-8 decoder up to a few hundred.
class LoadsStrs {
 public:
  LoadsStrs(PyHandle source, std::string_view text) noexcept
      : source_(source), text_(text.data()), text_view_(text) {
    const auto characters = static_cast<std::size_t>(PyUnicode_GetLength(source.get()));
    // As long in UTF-8 bytes as in characters: ASCII.
    if (characters == text.size()) ascii_source_ = source;
    // Parts of the str are worth taking only where multi-byte characters
    // abound (a quarter more bytes than characters), which few texts have.
    if (4 * text.size() < 5 * characters) parts_worth_taking_ = false;
  }
  LoadsStrs(const LoadsStrs&) = delete;
  LoadsStrs& operator=(const LoadsStrs&) = delete;

  // An exact str holding `key`, from the key cache where it is short
  // enough; empty with the interpreter's exception set on failure.
  static PyRef key(std::string_view key) noexcept;

  // A new reference to a str holding `text`, a string value read from the
  // text (`lasting`: its bytes are the text's own, not an unescaped copy),
  // or NULL with the interpreter's exception set.
  PyObject* value(std::string_view text, bool lasting) {
    if (text.size() <= longest_cached_value && value_credit_ > 0) return from_value_cache(text);
    const bool ascii_text = ascii_source_.get() != nullptr;
    if (lasting && ascii_text) {
      const auto start = static_cast<Py_ssize_t>(text.data() - text_);
      return PyUnicode_Substring(ascii_source_.get(), start, start + static_cast<Py_ssize_t>(text.size()));
    }
    if (ascii_text || (text.size() <= short_string && utf8::is_ascii(text)))
      return str_from_ascii(text).release();
    if (text.size() <= short_string) return short_str_via_code_points(text);
    // Zero where there is no part to take.
    const std::size_t length = lasting && parts_worth_taking() ? utf8::count_characters(text) : 0;
    if (length == 0 || 2 * text.size() < 3 * length) {
      const bool ascii = length != 0 ? length == text.size() : utf8::is_ascii(text);
      if (ascii) return str_from_ascii(text).release();
      return text.size() > longest_on_stack ? long_str(text) : short_str_via_code_points(text);
    }
    return part_of_source(text, length);
  }

  // The longest string value worth a look in the value cache: short values
  // (codes, names, flags, dates) repeat as keys do, longer ones seldom.
  static constexpr std::size_t longest_cached_value = 32;
  // Up to this many bytes a value not all ASCII goes through code points,
  // never as a part of the source.
  static constexpr std::size_t short_string = 64;
  // Up to this many bytes a string's code points are decoded onto the
  // stack; beyond, the UTF-8 decoder wins back its start a character at a
  // time, and the string takes utf8::str_route's route instead.
  static constexpr std::size_t longest_on_stack = 512;

 private:
  [[gnu::noinline]] PyObject* from_value_cache(std::string_view text);
  // `text` has at most longest_on_stack bytes. Out of line, so that only
  // this path has the room in its frame.
  [[gnu::noinline]] static PyObject* short_str_via_code_points(std::string_view text);
  static PyObject* long_str(std::string_view text);
  // The part of source_ that `text` (`length` characters) was read from.
  PyObject* part_of_source(std::string_view text, std::size_t length) {
    const auto start = static_cast<std::size_t>(text.data() - text_);
    characters_read_ += utf8::count_characters({text_ + bytes_read_, start - bytes_read_});
    const auto first = static_cast<Py_ssize_t>(characters_read_);
    bytes_read_ = start + text.size();
    characters_read_ += length;
    return PyUnicode_Substring(source_.get(), first, first + static_cast<Py_ssize_t>(length));
  }

  // Settled by the text's length for most texts, else by a scan of the
  // text the first time it matters.
  bool parts_worth_taking() {
    if (!parts_worth_taking_) parts_worth_taking_ = !utf8::has_four_byte_characters(text_view_);
    return *parts_worth_taking_;
  }

  const PyHandle source_;
  const char* const text_;
  const std::string_view text_view_;
  // The str read, when it is ASCII: a character's index is then its byte's.
  PyHandle ascii_source_;
  std::optional<bool> parts_worth_taking_;
  // Looks in the value cache left: a hit earns four, a miss costs one.
  static constexpr int max_value_credit = 256;
  int value_credit_ = 64;
  // Where in the text the last string made as a part of source_ ended, in
  // bytes and in characters.
  std::size_t bytes_read_ = 0;
  std::size_t characters_read_ = 0;
};

}  // namespace vardelquin
