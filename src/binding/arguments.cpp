#include "binding/arguments.h"

#include <vector>

#include "binding/messages.h"
#include "binding/text.h"
#include "support/utf8.h"

namespace vardelquin {
namespace {

PendingException type_error(std::string message) {
  return PendingException::lazy(PyHandle(PyExc_TypeError), std::move(message));
}

// The index of the parameter called `key`, or `parameters.size()`. A key
// that is not a str, or holds a lone surrogate, matches no parameter.
std::size_t find_parameter(const ArgumentSpec& signature, PyHandle key) {
  if (!is_str(key)) return signature.parameters.size();
  for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
    // Parameter names are ASCII, so comparing code points compares bytes.
    if (PyUnicode_CompareWithASCIIString(key.get(), signature.parameters[i].data()) == 0) return i;
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

PyResult<Ok> bind_arguments(const ArgumentSpec& signature, PyHandle args, PyHandle kwargs,
                            std::span<PyHandle> slots) {
  const std::size_t parameter_count = signature.parameters.size();
  const auto given = static_cast<std::size_t>(PyTuple_Size(args.get()));
  for (std::size_t i = 0; i < given && i < parameter_count; ++i) {
    slots[i] = PyHandle(PyTuple_GetItem(args.get(), static_cast<Py_ssize_t>(i)));
  }
  if (given > parameter_count) {
    return failure(type_error(
        message::too_many_positional(signature.label(), signature.required, parameter_count, given)));
  }

  if (kwargs) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs.get(), &position, &key, &value)) {
      const std::size_t index = find_parameter(signature, PyHandle(key));
      if (index == parameter_count) {
        PyRef message = PyRef::steal(
            PyUnicode_FromFormat(message::unexpected_keyword_format(signature.label()).c_str(), key));
        if (!message) return failure(fetch_exception());
        return failure(PendingException::lazy_object(PyHandle(PyExc_TypeError), std::move(message)));
      }
      if (slots[index]) {
        return failure(type_error(message::multiple_values(signature.label(), signature.parameters[index])));
      }
      slots[index] = PyHandle(value);
    }
  }

  if (given < signature.required) {
    std::vector<std::string_view> missing;
    for (std::size_t i = given; i < signature.required; ++i) {
      if (!slots[i]) missing.push_back(signature.parameters[i]);
    }
    if (!missing.empty()) {
      return failure(type_error(message::missing_positional(signature.label(), missing)));
    }
  }
  return Ok{};
}

PendingException wrap_argument_error(std::string_view name, PendingException original) {
  PendingException fetched = std::move(original).fetch();
  if (fetched.kind() != PendingException::Kind::Fetched ||
      fetched.exception_class() != PyHandle(PyExc_TypeError)) {
    return fetched;
  }
  const PyHandle first = fetched.value().handle();
  PyRef message = PyRef::steal(PyUnicode_FromFormat(message::argument_format(name).c_str(), first.get()));
  if (!message) return fetch_exception();
  PyRef cause = PyRef::steal(PyException_GetCause(first.get()));
  PendingException wrapped = PendingException::lazy_object(PyHandle(PyExc_TypeError), std::move(message));
  if (!cause) return wrapped;
  wrapped = std::move(wrapped).fetch();
  if (wrapped.kind() == PendingException::Kind::Fetched) {
    // PyException_SetCause steals the reference it is given.
    PyException_SetCause(wrapped.value().get(), cause.release());
  }
  return wrapped;
}

PendingException cast_failure(PyHandle object, PyTypeObject* target) {
  return PendingException::cast(object, PyHandle(target));
}

PyResult<char32_t> extract_char(PyHandle object) {
  PyResult<std::string> text = text_from_str(object);
  if (!text) return failure(std::move(text).error());
  if (!text->empty()) {
    const utf8::Decoded first = utf8::decode(*text);
    if (first.length == text->size()) return first.code_point;
  }
  return failure(PendingException::lazy(PyHandle(PyExc_ValueError), message::not_one_character));
}

}  // namespace vardelquin
