// Binding of positional and keyword arguments to parameters, and the
// conversions of single arguments, with the messages callers see.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "module/call_frame.h"

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

// The strict UTF-8 encoding of a str, viewed for as long as this lives.
// Cheaper than text_from_str where the interpreter can lend its own bytes.
class Utf8View {
 public:
  std::string_view text() const noexcept { return text_; }

 private:
  friend PyResult<Utf8View> utf8_view(PyObject* str);
  std::string_view text_;
  PyRef keep_alive_;
};

// `str` must be a str (see is_str).
PyResult<Utf8View> utf8_view(PyObject* str);

// The one code point of a one-character str.
PyResult<char32_t> extract_char(PyObject* object);

}  // namespace vardelquin
