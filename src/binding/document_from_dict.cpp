#include "binding/document_from_dict.h"

#include <optional>
#include <string>
#include <utility>

#include "binding/arguments.h"
#include "binding/text.h"
#include "failure.h"
#include "support/spare.h"

namespace vardelquin {
namespace {

// One list or dict being converted. Its converted children gather on the
// converter's stacks (items_ or members_) from `base` on until it is
// complete. The strong references keep the container and the pair being
// converted alive while the caller's Python code may run.
struct Frame {
  PyRef container;
  bool is_dict;
  Py_ssize_t start_size;  // dict size, or list length, at the start
  Py_ssize_t remaining;   // entries a dict may still yield
  Py_ssize_t position;    // dict iteration position, or list index
  std::size_t base;
  PyRef key;  // the dict entry whose value is being converted
  PyRef value;
  std::string_view key_text;
};

// One conversion: the document being built, the stacks on which children
// gather, and the objects whose bytes the document's strings view.
//
// The walk is a loop over an explicit stack of frames, not a recursion,
// so the native stack stays flat however deep the structure is; the depth
// bound is a property of the format, not of the stack. The first failure
// is kept in failure_ and ends the walk.
class Converter {
 public:
  explicit Converter(PyDocument& out) : out_(out) {
    if (Spares* spares = spare::ThreadSpares<Spares>::find()) {
      spare::take(spares->frames, frames_);
      spare::take(spares->items, items_);
      spare::take(spares->members, members_);
    }
  }
  // The stacks go back emptied, holding no reference: the thread's spares
  // may be destroyed at its exit, when the interpreter lock is not held.
  ~Converter() {
    Spares& spares = spare::ThreadSpares<Spares>::get();
    spare::give(spares.frames, frames_);
    spare::give(spares.items, items_);
    spare::give(spares.members, members_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  PyResult<Ok> convert(PyHandle top) {
    open(top, true);
    while (!failed()) {
      Frame& frame = frames_.back();
      const PyHandle child = frame.is_dict ? next_value(frame) : next_item(frame);
      if (failed()) break;
      if (child) {
        convert_child(child);
        continue;
      }
      if (frames_.size() == 1) break;  // the top-level dict is complete
      const Value done = close(frame);
      frames_.pop_back();
      deliver(done);
    }
    if (failed()) return failure(std::move(*failure_));
    Document& document = out_.document;
    document.reserve(members_.size());
    for (const Member& entry : members_) document.append(entry.key, entry.value);
    return Ok{};
  }

 private:
  bool failed() const noexcept { return failure_.has_value(); }

  [[gnu::cold]] void fail(PendingException e) { failure_.emplace(std::move(e)); }

  void open(PyHandle container, bool is_dict) {
    const Py_ssize_t size = is_dict ? PyDict_Size(container.get()) : PyList_Size(container.get());
    frames_.push_back(Frame{PyRef::borrow(container),
                            is_dict,
                            size,
                            size,
                            0,
                            is_dict ? members_.size() : items_.size(),
                            PyRef(),
                            PyRef(),
                            {}});
  }

  // The next dict entry: its key converted into frame.key_text, its value
  // returned (the frame holds it). Null when the dict is done or on
  // failure.
  PyHandle next_value(Frame& frame) {
    PyObject* dict = frame.container.get();
    // Only the caller's code, run by str(), can change a dict under us, so
    // until str() has run once there is no size to check.
    if (foreign_code_ran_ && PyDict_Size(dict) != frame.start_size) {
      fail(PendingException::internal("dictionary changed size during iteration"));
      return PyHandle();
    }
    if (frame.remaining == -1) {
      fail(PendingException::internal("dictionary keys changed during iteration"));
      return PyHandle();
    }
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    if (!PyDict_Next(dict, &frame.position, &key, &value)) return PyHandle();
    --frame.remaining;
    const PyHandle key_handle(key);
    const PyHandle value_handle(value);
    frame.key = PyRef::borrow(key_handle);
    frame.value = PyRef::borrow(value_handle);
    if (key_handle.type() != &PyUnicode_Type && !is_str(key_handle)) {
      fail(cast_failure(key_handle, &PyUnicode_Type));
      return PyHandle();
    }
    const std::optional<std::string_view> text = borrow_text(key_handle);
    if (!text) return PyHandle();
    frame.key_text = *text;
    return value_handle;
  }

  // The next list item (the frame holds it), or null at the end.
  // The bound is re-read before every item: str() of an item may shrink
  // the list, and a list that grows is read to its first length only.
  PyHandle next_item(Frame& frame) {
    PyObject* list = frame.container.get();
    if (frame.position >= frame.start_size) return PyHandle();
    if (foreign_code_ran_ && frame.position >= PyList_Size(list)) return PyHandle();
    frame.value = PyRef::borrow(PyHandle(PyList_GetItem(list, frame.position++)));
    return frame.value.handle();
  }

  // A scalar is delivered at once; a list or dict opens a frame. The type
  // tests run in this order, the first that matches deciding; the exact
  // built-in types come first, which settles nearly every object without
  // asking the interpreter for type flags.
  void convert_child(PyHandle object) {
    if (object.get() == Py_None) return deliver(Value::null());
    PyTypeObject* type = object.type();
    if (type == &PyBool_Type) return deliver(Value::boolean(object.get() == Py_True));
    if (type == &PyUnicode_Type) return deliver_string(object);
    if (type == &PyLong_Type) return deliver_integer(object);
    if (type == &PyFloat_Type) return deliver_float(object);
    if (type == &PyList_Type || type == &PyDict_Type) return open_nested(object, type == &PyDict_Type);
    const unsigned long flags = PyType_GetFlags(type);
    if (flags & Py_TPFLAGS_LONG_SUBCLASS) return deliver_integer(object);
    if (PyType_IsSubtype(type, &PyFloat_Type)) return deliver_float(object);
    if (flags & Py_TPFLAGS_UNICODE_SUBCLASS) return deliver_string(object);
    if (flags & (Py_TPFLAGS_LIST_SUBCLASS | Py_TPFLAGS_DICT_SUBCLASS)) {
      return open_nested(object, (flags & Py_TPFLAGS_DICT_SUBCLASS) != 0);
    }
    // Anything else is written as its str(), which runs the caller's code.
    foreign_code_ran_ = true;
    const PyRef text = PyRef::steal(PyObject_Str(object.get()));
    if (!text) return fail(fetch_exception());
    deliver_string(text.handle());
  }

  void open_nested(PyHandle container, bool is_dict) {
    // The top-level dict is frame 0, so a container opened with n frames
    // below it sits at nesting level n.
    if (frames_.size() > max_nesting_depth) {
      return fail(
          PendingException::lazy(PyHandle(PyExc_RecursionError),
                                 failure_message(Failure{.kind = FailureKind::nesting_too_deep_to_write})));
    }
    open(container, is_dict);
  }

  void deliver_integer(PyHandle object) {
    const long long integer = PyLong_AsLongLong(object.get());
    if (integer == -1 && PyErr_Occurred()) return fail(fetch_exception());
    deliver(Value::integer(integer));
  }

  void deliver_float(PyHandle object) {
    const double number = PyFloat_AsDouble(object.get());
    if (number == -1.0 && PyErr_Occurred()) return fail(fetch_exception());
    deliver(Value::floating(number));
  }

  void deliver_string(PyHandle str) {
    if (const std::optional<std::string_view> text = borrow_text(str)) deliver(Value::string(*text));
  }

  // Hands a converted child to the innermost open frame.
  void deliver(Value value) {
    Frame& frame = frames_.back();
    if (frame.is_dict) {
      members_.push_back(Member{frame.key_text, value});
    } else {
      items_.push_back(value);
    }
    frame.key = PyRef();
    frame.value = PyRef();
  }

  // The finished container as a value; its children leave the stack.
  // Keys equal as text (possible with str subclasses) merge, the later
  // value winning.
  Value close(const Frame& frame) {
    Arena& arena = out_.document.arena();
    if (frame.is_dict) {
      const Value object = make_object(arena, std::span(members_).subspan(frame.base));
      members_.resize(frame.base);
      return object;
    }
    const Value list = make_list(arena, std::span(items_).subspan(frame.base));
    items_.resize(frame.base);
    return list;
  }

  // The str's strict UTF-8 bytes, for as long as the document lives, had
  // as utf8_view has them. Short texts are copied into the arena; longer
  // ones stay where they are, and the document keeps their owner alive.
  std::optional<std::string_view> borrow_text(PyHandle str) {
    constexpr std::size_t longest_copied = 64;
    Py_ssize_t size = 0;
    PyRef made;
    const char* data = lender_.utf8(str, size, made);
    if (data == nullptr) {
      fail(fetch_exception());
      return std::nullopt;
    }
    const std::string_view text(data, static_cast<std::size_t>(size));
    if (text.size() <= longest_copied) return out_.document.arena().copy(text);
    out_.owners.push_back(made ? std::move(made) : PyRef::borrow(str));
    return text;
  }

  // The stacks of the last conversion on this thread (see support/spare.h).
  struct Spares {
    std::vector<Frame> frames;
    std::vector<Value> items;
    std::vector<Member> members;
  };

  PyDocument& out_;
  const Utf8Lender lender_;
  std::vector<Frame> frames_;
  std::vector<Value> items_;
  std::vector<Member> members_;
  std::optional<PendingException> failure_;
  bool foreign_code_ran_ = false;
};

}  // namespace

PyResult<PyDocument> document_from_dict(PyHandle dict) {
  PyDocument out;
  if (auto converted = Converter(out).convert(dict); !converted) return failure(std::move(converted).error());
  return out;
}

}  // namespace vardelquin
