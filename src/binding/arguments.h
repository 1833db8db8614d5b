// Binding of positional and keyword arguments to parameters, and the
// conversions of single arguments, with the messages callers see.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "binding/call_frame.h"
#include "binding/interpreter.h"

namespace vardelquin {

struct ArgumentSpec {
  std::string_view function_name;
  std::string_view class_name;  // empty unless this is a constructor
  std::span<const std::string_view> parameters;
  std::size_t required;

  // "dumps()" or "FormatConfig.__new__()".
  std::string label() const;
};

// Fills `slots` (one per parameter, borrowed references, NULL when not
// given). `kwargs` may be NULL. Fails with TypeError only.
PyResult<Ok> bind_arguments(const ArgumentSpec& signature, PyObject* args, PyObject* kwargs,
                            std::span<PyObject*> slots);

// The failure to report for a conversion failure of the named parameter or
// property: an exact TypeError is prefixed with "argument '<name>': ",
// anything else passes unchanged.
PendingException wrap_argument_error(std::string_view name, PendingException failure);

// "'<type>' object cannot be cast as '<target>'".
PendingException cast_failure(PyObject* object, PyTypeObject* target);

inline bool is_str(PyObject* object) {
  return PyType_GetFlags(Py_TYPE(object)) & Py_TPFLAGS_UNICODE_SUBCLASS;
}

// The strict UTF-8 encoding of a str, owned.
PyResult<std::string> text_from_str(PyObject* object);

// How the UTF-8 bytes of a str are had, in both directions.
//
// From 3.10 on the interpreter lends a str its own UTF-8 bytes. An ASCII
// str holds them already; any other str is given a UTF-8 copy that stays
// attached to it for the rest of its life. For a small str that copy costs
// less than finding out whether it would be made, so a small str is always
// asked to lend. A large str that is not ASCII is encoded into a bytes
// object of our own instead, so that a call leaves the caller's strings as
// they were. 3.9 lends nothing, and there every str is encoded.

// That policy, with the interpreter's offer read once. dumps keeps one for
// the whole call and asks it for every key and string it writes, so the
// common case (a small str lends) is inline and builds no result object.
class Utf8Lender {
 public:
  Utf8Lender() noexcept : as_utf8_(interpreter_api().unicode_as_utf8_and_size) {}

  // The strict UTF-8 bytes of `str` (a str) and their size. Where the str
  // does not lend its own, `made` receives the bytes object that holds
  // them. NULL, with the interpreter's exception set, on failure.
  const char* utf8(PyObject* str, Py_ssize_t& size, PyRef& made) const {
    constexpr Py_ssize_t small = 4096;
    if (as_utf8_ == nullptr) return encode(str, size, made);
    if (PyUnicode_GetLength(str) < small) [[likely]] return as_utf8_(str, &size);
    return large_utf8(str, size, made);
  }

 private:
  static const char* encode(PyObject* str, Py_ssize_t& size, PyRef& made) {
    made = PyRef::steal(PyUnicode_AsUTF8String(str));
    if (!made) return nullptr;
    size = PyBytes_Size(made.get());
    return PyBytes_AsString(made.get());
  }
  // Lent only by an ASCII str, else encoded.
  const char* large_utf8(PyObject* str, Py_ssize_t& size, PyRef& made) const;

  const char* (*as_utf8_)(PyObject*, Py_ssize_t*);
};

// The strict UTF-8 bytes of a str, had by that policy, for as long as this
// view lives.
class Utf8View {
 public:
  std::string_view text() const noexcept { return text_; }

 private:
  friend PyResult<Utf8View> utf8_view(PyObject* str);
  std::string_view text_;
  PyRef bytes_;  // empty when the str lent its own bytes
};

// `str` must be a str (see is_str). Fails with the interpreter's
// UnicodeEncodeError on a lone surrogate.
PyResult<Utf8View> utf8_view(PyObject* str);

// The one code point of a one-character str.
PyResult<char32_t> extract_char(PyObject* object);

}  // namespace vardelquin
