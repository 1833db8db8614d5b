#include "serializer/py_to_value.h"

#include <utility>
#include <vector>

#include "module/arguments.h"

namespace vardelquin {
namespace {

bool has_flag(PyObject* object, unsigned long flag) { return (PyType_GetFlags(Py_TYPE(object)) & flag) != 0; }

PyResult<std::string> str_text(PyObject* str) {
  PyResult<Utf8View> view = utf8_view(str);
  if (!view) return failure(std::move(view).error());
  return std::string(view->text());
}

Unexpected<PendingException> too_deep() {
  return failure(PendingException::lazy(
      PyExc_RecursionError, "Maximum nesting depth of " + std::to_string(max_nesting_depth) + " exceeded"));
}

// Walks a dict's own storage, converting each key and value and handing
// them to `sink`. Python code run by str() may change the dict under us;
// the size and count checks stop the walk before it reads stale entries.
template <class Sink>
PyResult<Ok> convert_entries(PyObject* dict, std::size_t value_depth, Sink&& sink) {
  const PyRef hold = PyRef::borrow(dict);
  const Py_ssize_t start_size = PyDict_Size(dict);
  Py_ssize_t remaining = start_size;
  Py_ssize_t position = 0;
  for (;;) {
    if (PyDict_Size(dict) != start_size) return internal_failure("dictionary changed size during iteration");
    if (remaining == -1) return internal_failure("dictionary keys changed during iteration");
    PyObject* borrowed_key = nullptr;
    PyObject* borrowed_value = nullptr;
    if (!PyDict_Next(dict, &position, &borrowed_key, &borrowed_value)) break;
    --remaining;
    const PyRef key = PyRef::borrow(borrowed_key);
    const PyRef value = PyRef::borrow(borrowed_value);
    PyResult<std::string> text = key_text(key.get());
    if (!text) return failure(std::move(text).error());
    PyResult<Value> converted = value_from_object(value.get(), value_depth);
    if (!converted) return failure(std::move(converted).error());
    sink(std::move(*text), std::move(*converted));
  }
  return Ok{};
}

PyResult<Value> list_value(PyObject* list, std::size_t depth) {
  const PyRef hold = PyRef::borrow(list);
  const Py_ssize_t start_length = PyList_Size(list);
  List items;
  items.reserve(static_cast<std::size_t>(start_length));
  // The bound is re-read before every item: str() of an item may shrink it.
  for (Py_ssize_t i = 0; i < start_length && i < PyList_Size(list); ++i) {
    const PyRef item = PyRef::borrow(PyList_GetItem(list, i));
    PyResult<Value> converted = value_from_object(item.get(), depth + 1);
    if (!converted) return failure(std::move(converted).error());
    items.push_back(std::move(*converted));
  }
  return Value::list(std::move(items));
}

PyResult<Value> object_value(PyObject* dict, std::size_t depth) {
  std::vector<Object::Entry> entries;
  entries.reserve(static_cast<std::size_t>(PyDict_Size(dict)));
  PyResult<Ok> walked = convert_entries(dict, depth + 1, [&](std::string key, Value value) {
    entries.emplace_back(std::move(key), std::move(value));
  });
  if (!walked) return failure(std::move(walked).error());
  // Keys that are equal as text (possible with str subclasses) merge, the
  // later value winning.
  return Value::object(Object::from_entries(std::move(entries)));
}

}  // namespace

PyResult<std::string> key_text(PyObject* key) {
  if (!has_flag(key, Py_TPFLAGS_UNICODE_SUBCLASS)) return failure(cast_failure(key, &PyUnicode_Type));
  return str_text(key);
}

PyResult<Value> value_from_object(PyObject* object, std::size_t depth) {
  if (object == Py_None) return Value::null();
  PyTypeObject* type = Py_TYPE(object);
  if (type == &PyBool_Type) return Value::boolean(object == Py_True);
  const unsigned long flags = PyType_GetFlags(type);
  if (flags & Py_TPFLAGS_LONG_SUBCLASS) {
    const long long integer = PyLong_AsLongLong(object);
    if (integer == -1 && PyErr_Occurred()) return failure(fetch_exception());
    return Value::integer(integer);
  }
  if (type == &PyFloat_Type || PyType_IsSubtype(type, &PyFloat_Type)) {
    const double number = PyFloat_AsDouble(object);
    if (number == -1.0 && PyErr_Occurred()) return failure(fetch_exception());
    return Value::floating(number);
  }
  if (flags & Py_TPFLAGS_UNICODE_SUBCLASS) {
    PyResult<std::string> text = str_text(object);
    if (!text) return failure(std::move(text).error());
    return Value::string(std::move(*text));
  }
  if (flags & (Py_TPFLAGS_LIST_SUBCLASS | Py_TPFLAGS_DICT_SUBCLASS)) {
    if (depth >= max_nesting_depth) return too_deep();
    return (flags & Py_TPFLAGS_LIST_SUBCLASS) ? list_value(object, depth) : object_value(object, depth);
  }
  PyRef text = PyRef::steal(PyObject_Str(object));
  if (!text) return failure(fetch_exception());
  PyResult<std::string> utf8 = str_text(text.get());
  if (!utf8) return failure(std::move(utf8).error());
  return Value::string(std::move(*utf8));
}

PyResult<Document> document_from_dict(PyObject* dict) {
  Document document;
  document.reserve(static_cast<std::size_t>(PyDict_Size(dict)));
  PyResult<Ok> walked = convert_entries(dict, 0, [&](std::string key, Value value) {
    document.append(std::move(key), std::move(value));
  });
  if (!walked) return failure(std::move(walked).error());
  return document;
}

}  // namespace vardelquin
