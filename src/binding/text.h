// A str's strict UTF-8 bytes. Every str read as UTF-8 (the keys and
// strings dumps writes, the text loads reads, the arguments) is read
// through here, so the whole module follows one policy for when a str
// lends its own bytes and when the call encodes a copy of its own. The
// other direction, strs made from UTF-8, is strs.h's.
#pragma once

#include <string>
#include <string_view>

#include "binding/call_frame.h"
#include "binding/interpreter.h"
#include "binding/type_tests.h"

namespace vardelquin {

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
  // A str of fewer characters than this is small: always asked to lend.
  static constexpr Py_ssize_t small_str = 4096;

  Utf8Lender() noexcept : as_utf8_(interpreter_api().unicode_as_utf8_and_size) {}

  // The strict UTF-8 bytes of `str` (a str) and their size. Where the str
  // does not lend its own, `made` receives the bytes object that holds
  // them. NULL, with the interpreter's exception set, on failure.
  const char* utf8(PyHandle str, Py_ssize_t& size, PyRef& made) const {
    if (as_utf8_ == nullptr) return encode(str, size, made);
    if (PyUnicode_GetLength(str.get()) < small_str) [[likely]]
      return as_utf8_(str.get(), &size);
    return large_utf8(str, size, made);
  }
  // As utf8(), for a str whose length in characters the caller has.
  const char* utf8(PyHandle str, Py_ssize_t length, Py_ssize_t& size, PyRef& made) const {
    if (as_utf8_ == nullptr) return encode(str, size, made);
    if (length < small_str) [[likely]]
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
