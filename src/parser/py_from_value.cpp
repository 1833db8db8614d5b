#include "parser/py_from_value.h"

#include <string>

namespace vardelquin {
namespace {

PyResult<PyRef> created(PyObject* object) {
  if (object == nullptr) return failure(api_call_failed());
  return PyRef::steal(object);
}

PyResult<PyRef> new_str(const std::string& text) {
  return created(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// Stores the pair; a failure of the store is the interpreter's exception.
PyResult<Ok> store(PyObject* dict, const std::string& key, const Value& value) {
  PyResult<PyRef> item = value_to_python(value);
  if (!item) return failure(std::move(item).error());
  PyResult<PyRef> name = new_str(key);
  if (!name) return failure(std::move(name).error());
  if (PyDict_SetItem(dict, name->get(), item->get()) < 0) return failure(fetch_exception());
  return Ok{};
}

template <class Entries>
PyResult<PyRef> dict_from(const Entries& entries) {
  PyResult<PyRef> dict = created(PyDict_New());
  if (!dict) return dict;
  for (const auto& [key, value] : entries) {
    if (auto stored = store(dict->get(), key, value); !stored) return failure(std::move(stored).error());
  }
  return dict;
}

PyResult<PyRef> list_from(const List& items) {
  PyResult<PyRef> list = created(PyList_New(0));
  if (!list) return list;
  for (const Value& item : items) {
    PyResult<PyRef> converted = value_to_python(item);
    if (!converted) return converted;
    if (PyList_Append(list->get(), converted->get()) < 0) return failure(fetch_exception());
  }
  return list;
}

}  // namespace

PyResult<PyRef> value_to_python(const Value& value) {
  switch (value.tag()) {
    case ValueTag::Null: return PyRef::borrow(Py_None);
    case ValueTag::Bool: return PyRef::borrow(value.as_bool() ? Py_True : Py_False);
    case ValueTag::Int: return created(PyLong_FromLongLong(value.as_int()));
    case ValueTag::Float: return created(PyFloat_FromDouble(value.as_float()));
    case ValueTag::Str: return new_str(value.as_str());
    case ValueTag::List: return list_from(value.as_list());
    case ValueTag::Object: return dict_from(value.as_object());
  }
  return internal_failure("unknown value tag");
}

PyResult<PyRef> document_to_dict(const Document& document) { return dict_from(document); }

}  // namespace vardelquin
