#include "serializer/py_to_value.h"

#include <string>
#include <utility>

#include "module/arguments.h"
#include "module/interpreter_version.h"

namespace vardelquin {
namespace {

Unexpected<PendingException> too_deep() {
  return failure(PendingException::lazy(
      PyExc_RecursionError, "Maximum nesting depth of " + std::to_string(max_nesting_depth) + " exceeded"));
}

// One conversion: the document being built, the stacks on which list items
// and object members gather until their container is complete, and the
// objects whose bytes the document's strings view.
class Converter {
 public:
  explicit Converter(PyDocument& out) : out_(out) {}

  PyResult<Ok> top_level(PyObject* dict) {
    out_.document.reserve(static_cast<std::size_t>(PyDict_Size(dict)));
    return convert_entries(dict, 0, [&](std::string_view key, Value value) {
      out_.document.append(key, value);
    });
  }

 private:
  // The type tests run in this order; the first that matches decides.
  PyResult<Value> value(PyObject* object, std::size_t depth) {
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
    if (flags & Py_TPFLAGS_UNICODE_SUBCLASS) return string(PyRef::borrow(object));
    if (flags & (Py_TPFLAGS_LIST_SUBCLASS | Py_TPFLAGS_DICT_SUBCLASS)) {
      if (depth >= max_nesting_depth) return too_deep();
      return (flags & Py_TPFLAGS_LIST_SUBCLASS) ? list(object, depth + 1) : dict(object, depth + 1);
    }
    PyRef text = PyRef::steal(PyObject_Str(object));
    if (!text) return failure(fetch_exception());
    return string(std::move(text));
  }

  PyResult<Value> string(PyRef str) {
    PyResult<std::string_view> text = borrow_text(std::move(str));
    if (!text) return failure(std::move(text).error());
    return Value::string(*text);
  }

  // The str's strict UTF-8 bytes, kept alive with the document: the
  // interpreter's own copy where it lends one, else a bytes object.
  PyResult<std::string_view> borrow_text(PyRef str) {
    if (auto as_utf8 = interpreter_api().unicode_as_utf8_and_size) {
      Py_ssize_t size = 0;
      const char* data = as_utf8(str.get(), &size);
      if (data == nullptr) return failure(fetch_exception());
      out_.owners.push_back(std::move(str));
      return std::string_view(data, static_cast<std::size_t>(size));
    }
    PyRef bytes = PyRef::steal(PyUnicode_AsUTF8String(str.get()));
    if (!bytes) return failure(fetch_exception());
    const std::string_view text(PyBytes_AsString(bytes.get()), static_cast<std::size_t>(PyBytes_Size(bytes.get())));
    out_.owners.push_back(std::move(bytes));
    return text;
  }

  // Keys must be str: their text; never str() of anything else.
  PyResult<std::string_view> key(PyObject* object) {
    if (!is_str(object)) return failure(cast_failure(object, &PyUnicode_Type));
    return borrow_text(PyRef::borrow(object));
  }

  PyResult<Value> list(PyObject* list, std::size_t item_depth) {
    const PyRef hold = PyRef::borrow(list);
    const Py_ssize_t start_length = PyList_Size(list);
    const std::size_t base = items_.size();
    // The bound is re-read before every item: str() of an item may shrink
    // the list, and a list that grows is read to its first length only.
    for (Py_ssize_t i = 0; i < start_length && i < PyList_Size(list); ++i) {
      const PyRef item = PyRef::borrow(PyList_GetItem(list, i));
      PyResult<Value> converted = value(item.get(), item_depth);
      if (!converted) return converted;
      items_.push_back(*converted);
    }
    const Value result = make_list(out_.document.arena(), std::span(items_).subspan(base));
    items_.resize(base);
    return result;
  }

  PyResult<Value> dict(PyObject* dict, std::size_t value_depth) {
    const std::size_t base = members_.size();
    PyResult<Ok> walked = convert_entries(dict, value_depth, [&](std::string_view key, Value value) {
      members_.push_back(Member{key, value});
    });
    if (!walked) return failure(std::move(walked).error());
    // Keys equal as text (possible with str subclasses) merge, the later
    // value winning.
    const Value result = make_object(out_.document.arena(), std::span(members_).subspan(base));
    members_.resize(base);
    return result;
  }

  // Walks a dict's own storage, key before value, handing each converted
  // pair to `sink`. Python code run by str() may change the dict under us;
  // the size and count checks stop the walk before it reads stale entries,
  // and the strong references keep the current pair alive meanwhile.
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
      const PyRef key_object = PyRef::borrow(borrowed_key);
      const PyRef value_object = PyRef::borrow(borrowed_value);
      PyResult<std::string_view> text = key(key_object.get());
      if (!text) return failure(std::move(text).error());
      PyResult<Value> converted = value(value_object.get(), value_depth);
      if (!converted) return failure(std::move(converted).error());
      sink(*text, *converted);
    }
    return Ok{};
  }

  PyDocument& out_;
  std::vector<Value> items_;
  std::vector<Member> members_;
};

}  // namespace

PyResult<PyDocument> document_from_dict(PyObject* dict) {
  PyDocument out;
  if (auto converted = Converter(out).top_level(dict); !converted) return failure(std::move(converted).error());
  return out;
}

}  // namespace vardelquin
