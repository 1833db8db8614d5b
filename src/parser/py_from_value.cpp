#include "parser/py_from_value.h"

#include <array>
#include <cstring>
#include <optional>
#include <string_view>

#include "module/interpreter_version.h"

namespace vardelquin {
namespace {

// Every object made here is a new reference handed up as a bare pointer:
// NULL means failure, whose record waits in Builder::failure_. A caller
// that gets a pointer owns it until it stores it into its container.
class Builder {
 public:
  PyObject* value(const Value& value) {
    switch (value.tag()) {
      case ValueTag::Null: return new_reference(Py_None);
      case ValueTag::Bool: return new_reference(value.as_bool() ? Py_True : Py_False);
      case ValueTag::Int: return created(PyLong_FromLongLong(value.as_int()));
      case ValueTag::Float: return created(PyFloat_FromDouble(value.as_float()));
      case ValueTag::Str: return new_str(value.as_str());
      case ValueTag::List: return list(value.as_list());
      case ValueTag::Object: return dict(value.as_object());
    }
    fail([] { return PendingException::internal("unknown value tag"); });
    return nullptr;
  }

  // Value first, then key; a key that repeats keeps its first place in
  // the dict and takes the last value.
  template <class Members>
  PyObject* dict(const Members& members) {
    PyRef dict = PyRef::steal(created(PyDict_New()));
    if (!dict) return nullptr;
    for (const auto& [key, member] : members) {
      const PyRef item = PyRef::steal(value(member));
      if (!item) return nullptr;
      const PyRef name = PyRef::steal(cached_key(key));
      if (!name) return nullptr;
      if (PyDict_SetItem(dict.get(), name.get(), item.get()) < 0) {
        fail(fetch_exception);
        return nullptr;
      }
    }
    return dict.release();
  }

  PyResult<PyRef> result(PyObject* object) {
    if (object == nullptr) return failure(std::move(*failure_));
    return PyRef::steal(object);
  }

 private:
  static PyObject* new_reference(PyObject* singleton) {
    Py_INCREF(singleton);
    return singleton;
  }

  PyObject* created(PyObject* object) {
    if (object == nullptr) fail(api_call_failed);
    return object;
  }

  // Out of line, so that the recursive frames stay small.
  [[gnu::noinline, gnu::cold]] void fail(PendingException (*make)()) { failure_.emplace(make()); }

  PyObject* new_str(std::string_view text) {
    return created(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  }

  // The length is known, so the list is made at its size and filled in
  // place; until then its slots hold NULL, which the list tolerates.
  PyObject* list(std::span<const Value> items) {
    PyRef list = PyRef::steal(created(PyList_New(static_cast<Py_ssize_t>(items.size()))));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
      PyObject* item = value(items[i]);
      if (item == nullptr) return nullptr;
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
  }

  // Documents repeat their keys: records in a list share one set. Reusing
  // the str made for an earlier occurrence saves making it again, and the
  // dict store reuses the hash cached in it. Direct-mapped, for one call;
  // the keys it compares are bytes of the document, which outlives it.
  PyObject* cached_key(std::string_view key) {
    if (key.size() > longest_cached_key) return new_str(key);
    KeySlot& slot = key_slots_[slot_of(key)];
    if (slot.str && slot.key == key) return new_reference(slot.str.get());
    PyObject* str = new_str(key);
    if (str != nullptr) {
      slot.key = key;
      slot.str = PyRef::borrow(str);
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
    const auto at = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(data[i])} << (8 * i); };
    return at(0) | at(n / 2) | at(n - 1);
  }

  struct KeySlot {
    std::string_view key;
    PyRef str;
  };
  std::array<KeySlot, key_slot_count> key_slots_;
  std::optional<PendingException> failure_;
};

}  // namespace

PyResult<PyRef> document_to_dict(const Document& document) {
  const CollectorPause pause;
  Builder builder;
  return builder.result(builder.dict(document));
}

}  // namespace vardelquin
