// Binding of positional and keyword arguments, and the casts of single
// arguments.
//
// The module binds arguments itself instead of calling
// PyArg_ParseTupleAndKeywords: that function words its failures its own
// way ("argument 1 must be dict, not list"), and the wording has moved
// between interpreter versions, while one build of this module serves them
// all and must read the same on each. Binding here also lets a failed cast
// name its parameter. METH_FASTCALL would spare the argument tuple, but
// the limited API offers it only from 3.10 on.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "binding/call_frame.h"

namespace vardelquin {

struct ArgumentSpec {
  std::string_view function_name;
  std::string_view class_name;  // empty unless this is a constructor
  std::span<const std::string_view> parameters;
  std::size_t required;

  // "dumps()" or "FormatConfig.__new__()".
  std::string label() const;
};

// Fills `slots` (one per parameter, borrowed from the call, null when not
// given). `kwargs` may be null. Fails with TypeError only.
PyResult<Ok> bind_arguments(const ArgumentSpec& signature, PyHandle args, PyHandle kwargs,
                            std::span<PyHandle> slots);

// A conversion failure of the named parameter or property, as the caller
// sees it. Only a TypeError gets the "argument '<name>': " prefix: the
// cast failed, and the name says which one; any other failure (a
// UnicodeEncodeError, a MemoryError) is the interpreter's own and passes
// unchanged.
PendingException wrap_argument_error(std::string_view name, PendingException failure);

// "'<type>' object cannot be cast as '<target>'". The type names are
// looked up only when the failure is raised, not when it is made.
PendingException cast_failure(PyHandle object, PyTypeObject* target);

// The one code point of a one-character str.
PyResult<char32_t> extract_char(PyHandle object);

}  // namespace vardelquin
