#include "binding/document_to_dict.h"

#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "binding/collector_pause.h"
#include "binding/text.h"

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
  ObjectStack() = default;
  ObjectStack(const ObjectStack&) = delete;
  ObjectStack& operator=(const ObjectStack&) = delete;
  ~ObjectStack() {
    for (PyObject* object : objects_) Py_DECREF(object);
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
    const PyRef name = PyRef::steal(cached_key(key));
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

  // Documents repeat their keys: records in a list share one set. Reusing
  // the str made for an earlier occurrence saves making it again, and the
  // dict store reuses the hash cached in it. Direct-mapped, for one call;
  // the keys it compares are bytes of the document, which outlives it.
  PyObject* cached_key(std::string_view key) {
    if (key.size() > longest_cached_key) return make_str(key);
    KeySlot& slot = key_slots_[slot_of(key)];
    if (slot.str && slot.key == key) return slot.str.new_reference();
    PyObject* str = make_str(key);
    if (str != nullptr) {
      slot.key = key;
      slot.str = PyRef::borrow(PyHandle(str));
    }
    return str;
  }

  static constexpr std::size_t longest_cached_key = 64;
  static constexpr std::size_t key_slot_count = 512;

  // Length and the first and last eight bytes: enough to spread the keys
  // of one document, and cheap for the short keys that documents repeat.
  static std::size_t slot_of(std::string_view key) noexcept {
    const std::size_t n = key.size();
    std::uint64_t head;
    std::uint64_t tail;
    if (n >= 8) {
      std::memcpy(&head, key.data(), 8);
      std::memcpy(&tail, key.data() + n - 8, 8);
    } else {
      head = tail = short_key_bytes(key);
    }
    const std::uint64_t h = (head * 0x9E3779B97F4A7C15u) ^ (tail * 0xC2B2AE3D27D4EB4Fu) ^ n;
    return static_cast<std::size_t>((h ^ (h >> 32)) % key_slot_count);
  }

  // The bytes of a key shorter than eight as one little-endian number,
  // zero-padded: fixed-size loads that overlap, where a copy of the exact
  // length would be slower. An empty key's data may be null: never read.
  static std::uint64_t short_key_bytes(std::string_view key) noexcept {
    const char* const data = key.data();
    const std::size_t n = key.size();
    if (n >= 4) {
      std::uint32_t first;
      std::uint32_t last;
      std::memcpy(&first, data, 4);
      std::memcpy(&last, data + n - 4, 4);
      return first | (std::uint64_t{last} >> (8 * (8 - n))) << 32;
    }
    if (n == 0) return 0;
    const auto at = [&](std::size_t i) {
      return std::uint64_t{static_cast<unsigned char>(data[i])} << (8 * i);
    };
    return at(0) | at(n / 2) | at(n - 1);
  }

  struct KeySlot {
    std::string_view key;
    PyRef str;
  };
  std::array<KeySlot, key_slot_count> key_slots_;
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
