// Text across the boundary: a str's strict UTF-8 bytes, and a str made
// from UTF-8 bytes. Every conversion in either direction goes through
// here, so the whole module follows one policy for when a str lends its
// own bytes and when the call encodes a copy of its own.
#pragma once

#include <string>
#include <string_view>

#include "binding/call_frame.h"
#include "binding/interpreter.h"
#include "binding/type_tests.h"
#include "support/output_buffer.h"

namespace vardelquin {

// A new str from UTF-8 bytes, or empty with the interpreter's exception
// set. Inline: loads makes one for nearly every key and string it reads.
inline PyRef str_from_utf8(std::string_view text) {
  return PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// As str_from_utf8, for bytes that are all ASCII. The interpreter's
// Latin-1 decoder makes such a str with less work per call than its UTF-8
// decoder, which loads pays for every short string it reads.
inline PyRef str_from_ascii(std::string_view text) {
  return PyRef::steal(PyUnicode_DecodeLatin1(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

// As str_from_utf8, cheaper for text that is not all ASCII: the
// interpreter's UTF-8 decoder takes 20 to 25 instructions a character
// there, and several hundred to start. The code points are decoded here
// into `room` (text.size() units at least) and handed over as Latin-1
// bytes when they all fit, as wide characters otherwise; the interpreter
// takes either for a few instructions a character. Where wchar_t is too
// narrow for a code point, the text goes to the UTF-8 decoder.
PyRef str_from_code_points(std::string_view text, wchar_t* room);

// As str_from_utf8, for text of hundreds of bytes or more. Text mostly of
// multi-byte characters is transcoded here to UTF-16, or to code points
// where a character lies beyond the BMP (see utf8::str_route), which the
// interpreter's UTF-16 decoder and wide-character constructor take for a
// few instructions a character; its UTF-8 decoder branches on every
// character, mispredicting wherever scripts and punctuation mix, and takes
// most of the time of such a text. Other text goes to the UTF-8 decoder.
PyRef str_from_long_utf8(std::string_view text);

// As str_from_utf8, by the cheapest route for the text's size and
// content, with the failure as a value: for a whole text made at once,
// of any size.
PyResult<PyRef> checked_str_from_utf8(std::string_view text);
// As checked_str_from_utf8(text.view()), for a text that is no longer
// needed once read: one that goes through UTF-16 is transcoded over its
// own bytes, in the buffer's room, which may be left emptied. Room of its
// own would be memory as large again, which the kernel hands over a page
// at a time, each call anew, at more cost than the transcoding.
PyResult<PyRef> checked_str_from_utf8(OutputBuffer& text);

// Where the UTF-8 bytes of a str come from.
//
// From 3.10 on the interpreter lends a str its own UTF-8 bytes. An ASCII
// str holds them already; any other str is given a UTF-8 copy that stays
// attached to it for the rest of its life. For a small str that copy costs
// less than finding out whether it would be made, so a small str is always
// asked to lend. A large str that is not ASCII is encoded into a bytes
// object of our own instead, so that a call leaves the caller's strings as
// they were. 3.9 lends nothing, and there every str is encoded.
//
// The interpreter's offer is read once, when the lender is made. dumps
// keeps one for the whole call and asks it for every key and string it
// writes, so the common case (a small str lends) is inline and builds no
// result object.
class Utf8Lender {
 public:
  Utf8Lender() noexcept : as_utf8_(interpreter_api().unicode_as_utf8_and_size) {}

  // The strict UTF-8 bytes of `str` (a str) and their size. Where the str
  // does not lend its own, `made` receives the bytes object that holds
  // them. NULL, with the interpreter's exception set, on failure.
  const char* utf8(PyHandle str, Py_ssize_t& size, PyRef& made) const {
    constexpr Py_ssize_t small = 4096;
    if (as_utf8_ == nullptr) return encode(str, size, made);
    if (PyUnicode_GetLength(str.get()) < small) [[likely]]
      return as_utf8_(str.get(), &size);
    return large_utf8(str, size, made);
  }
  // As utf8(), for a str whose length in characters the caller has.
  const char* utf8(PyHandle str, Py_ssize_t length, Py_ssize_t& size, PyRef& made) const {
    constexpr Py_ssize_t small = 4096;
    if (as_utf8_ == nullptr) return encode(str, size, made);
    if (length < small) [[likely]]
      return as_utf8_(str.get(), &size);
    return large_utf8(str, size, made);
  }

 private:
  static const char* encode(PyHandle str, Py_ssize_t& size, PyRef& made) {
    made = PyRef::steal(PyUnicode_AsUTF8String(str.get()));
    if (!made) return nullptr;
    size = PyBytes_Size(made.get());
    return PyBytes_AsString(made.get());
  }
  // Lent only by an ASCII str, else encoded.
  const char* large_utf8(PyHandle str, Py_ssize_t& size, PyRef& made) const;

  const char* (*as_utf8_)(PyObject*, Py_ssize_t*);
};

// Whether `str` is an exact str of ASCII only, which lends its own bytes
// without growing (see Utf8Lender). No for a subclass: asking it would run
// its code.
bool is_ascii_str(PyHandle str);

// The strict UTF-8 bytes of a str, had by that policy, for as long as this
// view lives.
class Utf8View {
 public:
  std::string_view text() const noexcept { return text_; }

 private:
  friend PyResult<Utf8View> utf8_view(PyHandle str);
  std::string_view text_;
  PyRef bytes_;  // empty when the str lent its own bytes
};

// `str` must be a str (see is_str). Fails with the interpreter's
// UnicodeEncodeError on a lone surrogate.
PyResult<Utf8View> utf8_view(PyHandle str);

// The strict UTF-8 encoding of `object`, owned; a cast failure naming
// 'str' when it is not one.
PyResult<std::string> text_from_str(PyHandle object);

}  // namespace vardelquin
