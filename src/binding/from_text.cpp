#include "binding/from_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "binding/collector_pause.h"
#include "binding/messages.h"
#include "binding/signal_poll.h"
#include "binding/strs.h"
#include "reader/text_reader.h"
#include "support/arena.h"
#include "support/key_words.h"
#include "support/pod_stack.h"
#include "support/spare.h"

namespace vardelquin {
namespace {

// New references on their way into a list, stacked for all levels at
// once. It owns what it holds: what is not handed on is dropped with it.
// The references are kept as bare pointers rather than PyRefs so that
// handing a run of them to a new list leaves nothing to destroy: the stack
// is one of loads' hottest paths, and this class is the RAII owner
// instead; they come in and go out as PyRefs.
class ObjectStack {
 public:
  // `objects` comes empty, and goes back so.
  explicit ObjectStack(PodStack<PyObject*>& objects) noexcept : objects_(objects) {}
  ObjectStack(const ObjectStack&) = delete;
  ObjectStack& operator=(const ObjectStack&) = delete;
  ~ObjectStack() {
    for (PyObject* object : objects_) PyRef::drop(object);
    objects_.clear();
  }

  std::size_t size() const noexcept { return objects_.size(); }
  // Takes over the reference, which is dropped if there is no room.
  void push(PyRef object) {
    objects_.push_back(object.get());
    (void)object.release();
  }
  // The references from `base` on, for the caller to take over with forget_from.
  std::span<PyObject* const> from(std::size_t base) const noexcept {
    return {objects_.data() + base, objects_.size() - base};
  }
  void forget_from(std::size_t base) noexcept { objects_.shrink_to(base); }

 private:
  // A long list's items all wait here: a PodStack does not copy them, nor
  // take fresh pages for all of them, at each doubling.
  PodStack<PyObject*>& objects_;
};

// A member of an object still open: its key's bytes and, once it is made,
// its value (a new reference).
struct PendingMember {
  std::string_view key;
  std::uint64_t order;  // order_word(key)
  PyObject* value;
};

// Whether `a`'s key comes before `b`'s: by their first eight bytes, as
// one number, and by all their bytes only where those are equal.
bool key_before(const PendingMember& a, const PendingMember& b) noexcept {
  if (a.order != b.order) return a.order < b.order;
  return a.key < b.key;
}

// The members of an object still open, for all levels at once. Owns the
// values it holds, as ObjectStack does.
class MemberStack {
 public:
  // `members` comes empty, and goes back so.
  explicit MemberStack(std::vector<PendingMember>& members) noexcept : members_(members) {}
  MemberStack(const MemberStack&) = delete;
  MemberStack& operator=(const MemberStack&) = delete;
  ~MemberStack() {
    for (const PendingMember& member : members_) PyRef::drop(member.value);
    members_.clear();
  }

  std::size_t size() const noexcept { return members_.size(); }
  void push(std::string_view key) { members_.push_back(PendingMember{key, order_word(key), nullptr}); }
  // Takes over a new reference, the value of the last member pushed.
  void set_last(PyObject* value) noexcept { members_.back().value = value; }
  std::span<PendingMember> from(std::size_t base) noexcept { return std::span(members_).subspan(base); }
  // The members from `base` on must have handed over their values.
  void forget_from(std::size_t base) noexcept { members_.resize(base); }

 private:
  std::vector<PendingMember>& members_;
};

// Orders members by key bytes (unsigned, a shorter prefix first), equal
// keys in text order, so that storing them in turn leaves each key once,
// in order, with its last value. Objects are small and often in order
// already: a stable insertion sort up to a few dozen; beyond, one pass
// finds whether they are in order already, as written objects usually
// are, and std::stable_sort orders them if not.
void order_by_key(std::span<PendingMember> members) {
  const std::size_t n = members.size();
  if (n <= 32) {
    for (std::size_t i = 1; i < n; ++i) {
      if (!key_before(members[i], members[i - 1])) continue;
      const PendingMember moving = members[i];
      std::size_t j = i;
      do {
        members[j] = members[j - 1];
      } while (--j > 0 && key_before(moving, members[j - 1]));
      members[j] = moving;
    }
    return;
  }
  const auto out_of_order = [](const PendingMember& a, const PendingMember& b) { return key_before(b, a); };
  if (std::adjacent_find(members.begin(), members.end(), out_of_order) == members.end()) return;
  std::stable_sort(members.begin(), members.end(), key_before);
}

// Makes the Python objects of what the reader reports (see text_reader.h).
//
// A list is made only once all of its items exist, at its final size, and
// filled at once: nothing between the two allocates or runs code, so no
// code that the collector runs (callbacks, finalisers) ever sees one with
// an empty slot. A nested object is made when it closes, from its members
// in key order. The top-level dict is made first and takes each entry as
// its value is complete. Until an object is stored into a container, one
// of the stacks here owns it, and drops it if the read ends early.
class ObjectSink {
 public:
  // One list or object still open; its children wait on items_ or
  // members_ from `base` on.
  struct Frame {
    bool is_list;
    std::size_t base;
  };
  // The working storage of loads, kept for the next call on the thread
  // (see support/spare.h). It goes back emptied, holding no reference.
  struct Storage {
    std::vector<Frame> frames;
    PodStack<PyObject*> objects;
    std::vector<PendingMember> members;
    Arena keys;
    std::string scratch;  // the reader's

    void give_back() noexcept {
      spare::empty(frames);
      spare::empty(objects);
      spare::empty(members);
      keys.clear();
      spare::empty(scratch);
    }
  };

  // `text` is the UTF-8 of `source`, a str.
  ObjectSink(PyHandle source, std::string_view text, Storage& storage, CollectorPause& pause)
      : pause_(pause),
        strs_(source, text),
        frames_(storage.frames),
        items_(storage.objects),
        members_(storage.members),
        keys_(storage.keys) {}
  ObjectSink(const ObjectSink&) = delete;
  ObjectSink& operator=(const ObjectSink&) = delete;

  // False with the failure recorded if the dict cannot be made.
  bool start() {
    result_ = PyRef::steal(created(PyDict_New()));
    return static_cast<bool>(result_);
  }

  bool entry_key(Token key) {
    entry_key_ = key.lasting ? key.text : entry_key_copy_.assign(key.text);
    return true;
  }
  bool member_key(Token key) {
    // A key read from scratch must outlive the tokens up to its object's end.
    members_.push(key.lasting || key.text.empty() ? key.text : keys_.copy(key.text));
    return true;
  }
  bool scalar(Value value, bool lasting) {
    PyObject* made = nullptr;
    switch (value.tag()) {
      case ValueTag::Null: made = new_reference(Py_None); break;
      case ValueTag::Bool: made = new_reference(value.as_bool() ? Py_True : Py_False); break;
      case ValueTag::Int: made = PyLong_FromLongLong(value.as_int()); break;
      case ValueTag::Float: made = PyFloat_FromDouble(value.as_float()); break;
      case ValueTag::Str: made = strs_.value(value.as_str(), lasting); break;
      case ValueTag::List:
      case ValueTag::Object:
        fail([] { return PendingException::internal(message::unknown_value_tag); });
        return false;
    }
    return complete(created(made));
  }
  bool open_list() {
    frames_.push_back(Frame{true, items_.size()});
    return true;
  }
  bool open_object() {
    frames_.push_back(Frame{false, members_.size()});
    return true;
  }
  bool close_list() {
    const std::size_t base = frames_.back().base;
    frames_.pop_back();
    const std::span<PyObject* const> items = items_.from(base);
    PyRef list = PyRef::steal(created(PyList_New(static_cast<Py_ssize_t>(items.size()))));
    if (!list) return false;  // the items stay on the stack, which drops them
    // PyList_SetItem takes an item over even when it fails: the stack lets
    // go of them first, and a failure drops those not yet handed over.
    items_.forget_from(base);
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), items[i]) != 0) [[unlikely]]
        return item_not_set(items.subspan(i + 1));
    }
    return complete(list.release());
  }
  bool close_object() {
    const std::size_t base = frames_.back().base;
    frames_.pop_back();
    const std::span<PendingMember> members = members_.from(base);
    order_by_key(members);
    PyRef dict = PyRef::steal(created(PyDict_New()));
    if (!dict) return false;
    for (PendingMember& member : members) {
      if (!store(dict.get(), member.key, member.value)) return false;
      PyRef::drop(std::exchange(member.value, nullptr));  // the dict holds it now
    }
    members_.forget_from(base);
    return complete(dict.release());
  }

  // Between two values of a long text (see signal_poll.h). Everything
  // made so far is held here by strong references, so a handler cannot
  // free it; one that finds the half-built containers (gc.get_objects()
  // lists them) and changes them changes the result, never the call's
  // safety.
  static constexpr std::size_t poll_interval = signal_poll_bytes;
  bool poll() {
    if (pause_.run_signal_handlers_unpaused()) return true;
    fail(fetch_exception);
    return false;
  }

  PyRef take_result() { return std::move(result_); }
  PendingException take_failure() { return std::move(*failure_); }

 private:
  // Takes over `value` (a new reference, or NULL after a failure) and
  // hands it to the innermost open container, else to the entry whose key
  // came last.
  bool complete(PyObject* value) {
    if (value == nullptr) return false;
    if (frames_.empty()) {
      const bool stored = store(result_.get(), entry_key_, value);
      PyRef::drop(value);  // the dict holds it now, if stored
      return stored;
    }
    if (frames_.back().is_list) {
      items_.push(PyRef::steal(value));
    } else {
      members_.set_last(value);
    }
    return true;
  }

  // Stores `value` (borrowed) under `key` in `dict`.
  bool store(PyObject* dict, std::string_view key, PyObject* value) {
    const PyRef name = LoadsStrs::key(key);
    if (!name) {
      fail(api_call_failed);
      return false;
    }
    if (PyDict_SetItem(dict, name.get(), value) < 0) {
      fail(fetch_exception);
      return false;
    }
    return true;
  }

  static PyObject* new_reference(PyObject* singleton) { return PyRef::borrow(PyHandle(singleton)).release(); }

  PyObject* created(PyObject* object) {
    if (object == nullptr) [[unlikely]]
      fail(api_call_failed);
    return object;
  }

  [[gnu::noinline, gnu::cold]] void fail(PendingException (*make)()) { failure_.emplace(make()); }

  // PyList_SetItem failed: drops the items it was not yet handed.
  [[gnu::noinline, gnu::cold]] bool item_not_set(std::span<PyObject* const> rest) {
    for (PyObject* item : rest) PyRef::drop(item);
    fail(fetch_exception);
    return false;
  }

  CollectorPause& pause_;
  LoadsStrs strs_;
  std::vector<Frame>& frames_;
  ObjectStack items_;
  MemberStack members_;
  // Member keys read from scratch, kept until the end of the call.
  Arena& keys_;
  std::string_view entry_key_;
  std::string entry_key_copy_;
  PyRef result_;
  std::optional<PendingException> failure_;
};

// A text that does not read: ValueError(message), whose `pos` attribute
// holds the failure's byte offset, so that callers need not parse it out
// of the message. The exception is made here, not when it is raised, to
// set the attribute on it.
PendingException reader_failure(const Failure& read_failure) {
  PyRef text = str_from_utf8(failure_message(read_failure));
  if (!text) return api_call_failed();
  PyRef exception = PyRef::steal(PyObject_CallFunctionObjArgs(PyExc_ValueError, text.get(), nullptr));
  if (!exception) return api_call_failed();
  PyRef pos = PyRef::steal(PyLong_FromSize_t(read_failure.offset));
  if (!pos || PyObject_SetAttrString(exception.get(), "pos", pos.get()) != 0) return api_call_failed();
  return PendingException::fetched(PyRef::borrow(PyHandle(PyExc_ValueError)), std::move(exception), PyRef());
}

}  // namespace

PyResult<PyRef> dict_from_text(PyHandle source, std::string_view text, const FormatConfig& config) {
  CollectorPause pause;
  const spare::Lease<ObjectSink::Storage> storage;
  if (!storage.ready()) return failure(out_of_memory());
  ObjectSink sink(source, text, *storage, pause);
  if (!sink.start()) return failure(sink.take_failure());
  TextReader reader(text, config, sink, storage->scratch);
  switch (reader.read()) {
    case ReadEnd::complete: return sink.take_result();
    case ReadEnd::malformed: return failure(reader_failure(reader.failure()));
    case ReadEnd::stopped: break;
  }
  return failure(sink.take_failure());
}

}  // namespace vardelquin
