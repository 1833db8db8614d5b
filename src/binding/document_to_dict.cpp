#include "binding/document_to_dict.h"

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "binding/collector_pause.h"
#include "binding/key_cache.h"
#include "binding/text.h"
#include "support/spare.h"

namespace vardelquin {
namespace {

bool is_container(const Value& value) noexcept {
  return value.tag() == ValueTag::List || value.tag() == ValueTag::Object;
}

// New references on their way into a container, stacked for all levels at
// once. It owns what it holds: what is not handed on is dropped with it.
// The references are bare pointers rather than PyRefs so that handing a
// run of them to a new list leaves nothing to destroy: the stack is one
// of loads' hottest paths, and this class is the RAII owner instead.
class ObjectStack {
 public:
  ObjectStack() {
    if (Spares* spares = spare::ThreadSpares<Spares>::find()) spare::take(spares->objects, objects_);
  }
  ObjectStack(const ObjectStack&) = delete;
  ObjectStack& operator=(const ObjectStack&) = delete;
  ~ObjectStack() {
    for (PyObject* object : objects_) Py_DECREF(object);
    objects_.clear();
    spare::give(spare::ThreadSpares<Spares>::get().objects, objects_);
  }

  std::size_t size() const noexcept { return objects_.size(); }
  PyHandle at(std::size_t i) const noexcept { return PyHandle(objects_[i]); }
  // Takes over a new reference, which is dropped if there is no room.
  void push(PyObject* object) {
    try {
      objects_.push_back(object);
    } catch (...) {
      Py_DECREF(object);
      throw;
    }
  }
  // Hands the top reference to the caller.
  PyObject* pop() noexcept {
    PyObject* object = objects_.back();
    objects_.pop_back();
    return object;
  }
  // The references from `base` on, for the caller to take over with forget_from.
  std::span<PyObject* const> from(std::size_t base) const noexcept {
    return std::span(objects_).subspan(base);
  }
  void forget_from(std::size_t base) noexcept { objects_.resize(base); }

 private:
  std::vector<PyObject*> objects_;
  // The storage of the last stack on this thread (see support/spare.h);
  // it goes back empty, so the thread's spare holds no reference.
  struct Spares {
    std::vector<PyObject*> objects;
  };
};

// One list or object whose children are being made. A list's finished
// children wait on the builder's stack from `base` on; an object's go
// straight into its dict, which waits on the stack just below `base`.
struct Frame {
  Value container;
  std::size_t next;  // the child to make next
  std::size_t base;
};

// Builds the result on an explicit stack of frames, not by recursion, so
// the native stack stays flat however deep the tree is.
//
// A list is made only once all of its items exist, at its final size, and
// filled at once: nothing between the two allocates or runs code, so no
// code that the collector runs (callbacks, finalisers) ever sees one with
// an empty slot. A dict is consistent after every store, so it is made
// first and filled as its values are made.
//
// Objects made here are new references handed up as bare pointers: NULL
// means failure, whose record waits in failure_. Until a pointer is stored
// into a container, a PyRef or the stack owns it.
class Builder {
 public:
  Builder() {
    if (Spares* spares = spare::ThreadSpares<Spares>::find()) spare::take(spares->frames, frames_);
  }
  ~Builder() { spare::give(spare::ThreadSpares<Spares>::get().frames, frames_); }
  Builder(const Builder&) = delete;
  Builder& operator=(const Builder&) = delete;

  // The top level goes through the same walk as a nested object, but its
  // entries keep the text's order, and a key that repeats keeps its first
  // place in the dict and takes the last value.
  PyResult<PyRef> document(const Document& document) {
    const std::span<const Member> entries(document.begin(), document.end());
    if (!build(Value::object(entries))) return failure(std::move(*failure_));
    return PyRef::steal(stack_.pop());
  }

 private:
  // On success the finished container is left on top of the stack.
  bool build(const Value& outermost) {
    if (!open(outermost)) return false;
    for (;;) {
      Frame& frame = frames_.back();
      const bool is_list = frame.container.tag() == ValueTag::List;
      if (is_list ? make_items(frame) : make_members(frame)) continue;  // a container child was opened
      if (failed() || (is_list && !close_list(frame.base))) return false;
      frames_.pop_back();
      if (frames_.empty()) return true;
      // A finished child of a list is in its place on the stack already.
      Frame& parent = frames_.back();
      if (parent.container.tag() == ValueTag::Object &&
          !store(parent, parent.container.as_object()[parent.next - 1].key, stack_.pop())) {
        return false;
      }
    }
  }

  // False on failure.
  bool open(const Value& container) {
    if (container.tag() == ValueTag::Object) {
      PyObject* dict = created(PyDict_New());
      if (dict == nullptr) return false;
      stack_.push(dict);
    }
    frames_.push_back(Frame{container, 0, stack_.size()});
    return true;
  }

  // Makes a list's items in order, up to the next container item, which it
  // opens (true). False once every item is made, or on failure.
  bool make_items(Frame& frame) {
    const std::span<const Value> items = frame.container.as_list();
    while (frame.next < items.size()) {
      const Value& item = items[frame.next++];
      if (is_flat_list(item)) {
        if (!make_flat_list(item.as_list())) return false;
      } else if (is_container(item)) {
        return open(item);  // invalidates `frame`
      } else {
        PyObject* made = scalar(item);
        if (made == nullptr) return false;
        stack_.push(made);
      }
    }
    return false;
  }

  // As make_items, for an object's members, each stored as it is made.
  bool make_members(Frame& frame) {
    const std::span<const Member> members = frame.container.as_object();
    while (frame.next < members.size()) {
      const Member& member = members[frame.next++];
      if (is_flat_list(member.value)) {
        if (!make_flat_list(member.value.as_list()) || !store(frame, member.key, stack_.pop())) return false;
      } else if (is_container(member.value)) {
        return open(member.value);  // invalidates `frame`
      } else {
        PyObject* made = scalar(member.value);
        if (made == nullptr || !store(frame, member.key, made)) return false;
      }
    }
    return false;
  }

  // A list of scalars only, the commonest innermost container, is made in
  // one go, without a frame of its own.
  static bool is_flat_list(const Value& value) noexcept {
    if (value.tag() != ValueTag::List) return false;
    for (const Value& item : value.as_list()) {
      if (is_container(item)) return false;
    }
    return true;
  }

  // Leaves the list on top of the stack.
  bool make_flat_list(std::span<const Value> items) {
    const std::size_t base = stack_.size();
    for (const Value& item : items) {
      PyObject* made = scalar(item);
      if (made == nullptr) return false;
      stack_.push(made);
    }
    return close_list(base);
  }

  // Value first, then key; takes over `value`.
  bool store(const Frame& frame, std::string_view key, PyObject* value) {
    const PyRef item = PyRef::steal(value);
    const PyRef name = PyRef::steal(created(cached_key(key)));
    if (!name) return false;
    if (PyDict_SetItem(stack_.at(frame.base - 1).get(), name.get(), item.get()) < 0) {
      fail(fetch_exception);
      return false;
    }
    return true;
  }

  // Replaces the items stacked from `base` on by their list.
  bool close_list(std::size_t base) {
    const std::span<PyObject* const> items = stack_.from(base);
    PyObject* list = created(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (list == nullptr) return false;  // the items stay on the stack, which drops them
    for (std::size_t i = 0; i < items.size(); ++i) PyList_SetItem(list, static_cast<Py_ssize_t>(i), items[i]);
    stack_.forget_from(base);
    stack_.push(list);
    return true;
  }

  PyObject* scalar(const Value& value) {
    switch (value.tag()) {
      case ValueTag::Null: return new_reference(PyHandle(Py_None));
      case ValueTag::Bool: return new_reference(PyHandle(value.as_bool() ? Py_True : Py_False));
      case ValueTag::Int: return created(PyLong_FromLongLong(value.as_int()));
      case ValueTag::Float: return created(PyFloat_FromDouble(value.as_float()));
      case ValueTag::Str: return make_str(value.as_str());
      case ValueTag::List:
      case ValueTag::Object: break;
    }
    fail([] { return PendingException::internal("unknown value tag"); });
    return nullptr;
  }

  static PyObject* new_reference(PyHandle singleton) { return PyRef::borrow(singleton).release(); }

  PyObject* created(PyObject* object) {
    if (object == nullptr) fail(api_call_failed);
    return object;
  }

  bool failed() const noexcept { return failure_.has_value(); }

  [[gnu::noinline, gnu::cold]] void fail(PendingException (*make)()) { failure_.emplace(make()); }

  PyObject* make_str(std::string_view text) { return created(str_from_utf8(text).release()); }

  struct Spares {  // see support/spare.h
    std::vector<Frame> frames;
  };
  std::vector<Frame> frames_;
  ObjectStack stack_;
  std::optional<PendingException> failure_;
};

}  // namespace

PyResult<PyRef> document_to_dict(const Document& document) {
  const CollectorPause pause;
  Builder builder;
  return builder.document(document);
}

}  // namespace vardelquin
