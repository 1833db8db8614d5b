#include "binding/arguments.h"

#include <vector>

#include "binding/interpreter.h"
#include "binding/names.h"
#include "support/utf8.h"

namespace vardelquin {
namespace {

std::string quoted_name_list(std::span<const std::string_view> names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() > 2) out += ',';
      out += ' ';
      if (i + 1 == names.size()) out += "and ";
    }
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

PendingException type_error(std::string message) {
  return PendingException::lazy(PyExc_TypeError, std::move(message));
}

// The index of the parameter called `key`, or `parameters.size()`. A key
// that is not a str, or holds a lone surrogate, matches no parameter.
std::size_t find_parameter(const ArgumentSpec& signature, PyObject* key) {
  if (!is_str(key)) return signature.parameters.size();
  for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
    // Parameter names are ASCII, so comparing code points compares bytes.
    if (PyUnicode_CompareWithASCIIString(key, signature.parameters[i].data()) == 0) return i;
  }
  return signature.parameters.size();
}

}  // namespace

std::string ArgumentSpec::label() const {
  std::string out;
  if (!class_name.empty()) {
    out += class_name;
    out += '.';
  }
  out += function_name;
  out += "()";
  return out;
}

PyResult<Ok> bind_arguments(const ArgumentSpec& signature, PyObject* args, PyObject* kwargs,
                            std::span<PyObject*> slots) {
  const std::size_t parameter_count = signature.parameters.size();
  const auto given = static_cast<std::size_t>(PyTuple_Size(args));
  for (std::size_t i = 0; i < given && i < parameter_count; ++i) {
    slots[i] = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));
  }
  if (given > parameter_count) {
    return failure(type_error(signature.label() + " takes from " + std::to_string(signature.required) + " to " +
                              std::to_string(parameter_count) + " positional arguments but " +
                              std::to_string(given) + (given == 1 ? " was" : " were") + " given"));
  }

  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      const std::size_t index = find_parameter(signature, key);
      if (index == parameter_count) {
        PyRef message = PyRef::steal(PyUnicode_FromFormat("%s got an unexpected keyword argument '%S'",
                                                          signature.label().c_str(), key));
        if (!message) return failure(fetch_exception());
        return failure(PendingException::lazy_object(PyExc_TypeError, std::move(message)));
      }
      if (slots[index] != nullptr) {
        return failure(type_error(signature.label() + " got multiple values for argument '" +
                                  std::string(signature.parameters[index]) + "'"));
      }
      slots[index] = value;
    }
  }

  if (given < signature.required) {
    std::vector<std::string_view> missing;
    for (std::size_t i = given; i < signature.required; ++i) {
      if (slots[i] == nullptr) missing.push_back(signature.parameters[i]);
    }
    if (!missing.empty()) {
      return failure(type_error(signature.label() + " missing " + std::to_string(missing.size()) +
                                " required positional " +
                                (missing.size() == 1 ? "argument" : "arguments") + ": " +
                                quoted_name_list(missing)));
    }
  }
  return Ok{};
}

PendingException wrap_argument_error(std::string_view name, PendingException original) {
  PendingException fetched = std::move(original).fetch();
  if (fetched.kind() != PendingException::Kind::Fetched || fetched.exception_class() != PyExc_TypeError) {
    return fetched;
  }
  PyObject* first = fetched.value().get();
  const std::string prefix = "argument '" + std::string(name) + "': %S";
  PyRef message = PyRef::steal(PyUnicode_FromFormat(prefix.c_str(), first));
  if (!message) return fetch_exception();
  PyRef cause = PyRef::steal(PyException_GetCause(first));
  PendingException wrapped = PendingException::lazy_object(PyExc_TypeError, std::move(message));
  if (!cause) return wrapped;
  wrapped = std::move(wrapped).fetch();
  if (wrapped.kind() == PendingException::Kind::Fetched) {
    // PyException_SetCause steals the reference it is given.
    PyException_SetCause(wrapped.value().get(), cause.release());
  }
  return wrapped;
}

PendingException cast_failure(PyObject* object, PyTypeObject* target) {
  return PendingException::cast(object, reinterpret_cast<PyObject*>(target));
}

namespace {

// Whether a large str is ASCII, and so lends its bytes without growing.
// Asking costs a method call, small beside encoding a large text.
bool is_ascii(PyObject* str) {
  // A subclass may override isascii(); asking it would run its code.
  if (Py_TYPE(str) != &PyUnicode_Type) return false;
  const InternedNames* names = interned_names();
  if (names == nullptr) {
    PyErr_Clear();
    return false;
  }
  const PyRef answer = PyRef::steal(PyObject_CallMethodObjArgs(str, names->isascii, nullptr));
  if (!answer) {
    PyErr_Clear();
    return false;
  }
  return answer.get() == Py_True;
}

}  // namespace

const char* Utf8Lender::large_utf8(PyObject* str, Py_ssize_t& size, PyRef& made) const {
  return is_ascii(str) ? as_utf8_(str, &size) : encode(str, size, made);
}

PyResult<Utf8View> utf8_view(PyObject* str) {
  Utf8View view;
  Py_ssize_t size = 0;
  const char* data = Utf8Lender().utf8(str, size, view.bytes_);
  if (data == nullptr) return failure(fetch_exception());
  view.text_ = std::string_view(data, static_cast<std::size_t>(size));
  return view;
}

PyResult<std::string> text_from_str(PyObject* object) {
  if (!is_str(object)) return failure(cast_failure(object, &PyUnicode_Type));
  PyResult<Utf8View> view = utf8_view(object);
  if (!view) return failure(std::move(view).error());
  return std::string(view->text());
}

PyResult<char32_t> extract_char(PyObject* object) {
  PyResult<std::string> text = text_from_str(object);
  if (!text) return failure(std::move(text).error());
  if (!text->empty()) {
    const utf8::Decoded first = utf8::decode(*text);
    if (first.length == text->size()) return first.code_point;
  }
  return failure(PendingException::lazy(PyExc_ValueError, "expected a string of length 1"));
}

}  // namespace vardelquin
