#include "serializer/py_to_value.h"

#include <optional>
#include <string>
#include <utility>

#include "module/arguments.h"
#include "module/interpreter_version.h"

namespace vardelquin {
namespace {

// One conversion: the document being built, the stacks on which list items
// and object members gather until their container is complete, and the
// objects whose bytes the document's strings view.
//
// The first failure is kept in failure_ and every step returns at once;
// values come back bare, small enough to travel in registers.
class Converter {
 public:
  explicit Converter(PyDocument& out) : out_(out) {}

  PyResult<Ok> top_level(PyObject* dict) {
    out_.document.reserve(static_cast<std::size_t>(PyDict_Size(dict)));
    convert_entries(dict, 0, [&](std::string_view key, Value value) { out_.document.append(key, value); });
    if (failure_) return failure(std::move(*failure_));
    return Ok{};
  }

 private:
  bool failed() const noexcept { return failure_.has_value(); }

  Value fail(PendingException e) {
    failure_.emplace(std::move(e));
    return Value();
  }

  Value fail_too_deep() {
    return fail(PendingException::lazy(
        PyExc_RecursionError, "Maximum nesting depth of " + std::to_string(max_nesting_depth) + " exceeded"));
  }

  // The type tests run in this order; the first that matches decides.
  // The exact built-in types are tested by identity first: that settles
  // nearly every object without asking the interpreter for type flags.
  Value value(PyObject* object, std::size_t depth) {
    if (object == Py_None) return Value::null();
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyBool_Type) return Value::boolean(object == Py_True);
    if (type == &PyUnicode_Type) return string(object);
    if (type == &PyLong_Type) return integer(object);
    if (type == &PyFloat_Type) return floating(object);
    if (type == &PyList_Type || type == &PyDict_Type) {
      if (depth >= max_nesting_depth) return fail_too_deep();
      return type == &PyList_Type ? list(object, depth + 1) : dict(object, depth + 1);
    }
    const unsigned long flags = PyType_GetFlags(type);
    if (flags & Py_TPFLAGS_LONG_SUBCLASS) return integer(object);
    if (PyType_IsSubtype(type, &PyFloat_Type)) return floating(object);
    if (flags & Py_TPFLAGS_UNICODE_SUBCLASS) return string(object);
    if (flags & (Py_TPFLAGS_LIST_SUBCLASS | Py_TPFLAGS_DICT_SUBCLASS)) {
      if (depth >= max_nesting_depth) return fail_too_deep();
      return (flags & Py_TPFLAGS_LIST_SUBCLASS) ? list(object, depth + 1) : dict(object, depth + 1);
    }
    // Anything else is written as its str(), which runs the caller's code.
    const PyRef text = PyRef::steal(PyObject_Str(object));
    if (!text) return fail(fetch_exception());
    return string(text.get());
  }

  Value integer(PyObject* object) {
    const long long integer = PyLong_AsLongLong(object);
    if (integer == -1 && PyErr_Occurred()) return fail(fetch_exception());
    return Value::integer(integer);
  }

  Value floating(PyObject* object) {
    const double number = PyFloat_AsDouble(object);
    if (number == -1.0 && PyErr_Occurred()) return fail(fetch_exception());
    return Value::floating(number);
  }

  Value string(PyObject* str) {
    const std::optional<std::string_view> text = borrow_text(str);
    return text ? Value::string(*text) : Value();
  }

  // The str's strict UTF-8 bytes, for as long as the document lives. Short
  // texts are copied into the arena; longer ones stay where they are, and
  // the document keeps their owner alive: the str itself where the
  // interpreter lends its own UTF-8 bytes, else a bytes object.
  std::optional<std::string_view> borrow_text(PyObject* str) {
    constexpr std::size_t longest_copied = 64;
    if (auto as_utf8 = interpreter_api().unicode_as_utf8_and_size) {
      Py_ssize_t size = 0;
      const char* data = as_utf8(str, &size);
      if (data == nullptr) {
        fail(fetch_exception());
        return std::nullopt;
      }
      const std::string_view text(data, static_cast<std::size_t>(size));
      if (text.size() <= longest_copied) return out_.document.arena().copy(text);
      out_.owners.push_back(PyRef::borrow(str));
      return text;
    }
    PyRef bytes = PyRef::steal(PyUnicode_AsUTF8String(str));
    if (!bytes) {
      fail(fetch_exception());
      return std::nullopt;
    }
    const std::string_view text(PyBytes_AsString(bytes.get()), static_cast<std::size_t>(PyBytes_Size(bytes.get())));
    out_.owners.push_back(std::move(bytes));
    return text;
  }

  // Keys must be str: their text; never str() of anything else.
  std::optional<std::string_view> key(PyObject* object) {
    if (Py_TYPE(object) != &PyUnicode_Type && !is_str(object)) {
      fail(cast_failure(object, &PyUnicode_Type));
      return std::nullopt;
    }
    return borrow_text(object);
  }

  Value list(PyObject* list, std::size_t item_depth) {
    const PyRef hold = PyRef::borrow(list);
    const Py_ssize_t start_length = PyList_Size(list);
    const std::size_t base = items_.size();
    // The bound is re-read before every item: str() of an item may shrink
    // the list, and a list that grows is read to its first length only.
    for (Py_ssize_t i = 0; i < start_length && i < PyList_Size(list); ++i) {
      const PyRef item = PyRef::borrow(PyList_GetItem(list, i));
      const Value converted = value(item.get(), item_depth);
      if (failed()) return Value();
      items_.push_back(converted);
    }
    const Value result = make_list(out_.document.arena(), std::span(items_).subspan(base));
    items_.resize(base);
    return result;
  }

  Value dict(PyObject* dict, std::size_t value_depth) {
    const std::size_t base = members_.size();
    convert_entries(dict, value_depth, [&](std::string_view key, Value value) {
      members_.push_back(Member{key, value});
    });
    if (failed()) return Value();
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
  void convert_entries(PyObject* dict, std::size_t value_depth, Sink&& sink) {
    const PyRef hold = PyRef::borrow(dict);
    const Py_ssize_t start_size = PyDict_Size(dict);
    Py_ssize_t remaining = start_size;
    Py_ssize_t position = 0;
    for (;;) {
      if (PyDict_Size(dict) != start_size) {
        fail(PendingException::internal("dictionary changed size during iteration"));
        return;
      }
      if (remaining == -1) {
        fail(PendingException::internal("dictionary keys changed during iteration"));
        return;
      }
      PyObject* borrowed_key = nullptr;
      PyObject* borrowed_value = nullptr;
      if (!PyDict_Next(dict, &position, &borrowed_key, &borrowed_value)) return;
      --remaining;
      const PyRef key_object = PyRef::borrow(borrowed_key);
      const PyRef value_object = PyRef::borrow(borrowed_value);
      const std::optional<std::string_view> text = key(key_object.get());
      if (!text) return;
      const Value converted = value(value_object.get(), value_depth);
      if (failed()) return;
      sink(*text, converted);
    }
  }

  PyDocument& out_;
  std::vector<Value> items_;
  std::vector<Member> members_;
  std::optional<PendingException> failure_;
};

}  // namespace

PyResult<PyDocument> document_from_dict(PyObject* dict) {
  PyDocument out;
  if (auto converted = Converter(out).top_level(dict); !converted) return failure(std::move(converted).error());
  return out;
}

}  // namespace vardelquin
