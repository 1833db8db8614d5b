#include "parser/py_from_value.h"

#include <array>
#include <string_view>

namespace vardelquin {
namespace {

PyResult<PyRef> created(PyObject* object) {
  if (object == nullptr) return failure(api_call_failed());
  return PyRef::steal(object);
}

PyResult<PyRef> new_str(std::string_view text) {
  return created(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// Documents repeat their keys: records in a list share one set. Reusing
// the str made for an earlier occurrence saves making it again, and the
// dict store reuses the hash cached in it. Direct-mapped, for one call.
class KeyCache {
 public:
  KeyCache() = default;
  KeyCache(const KeyCache&) = delete;
  KeyCache& operator=(const KeyCache&) = delete;

  PyResult<PyRef> get(std::string_view key) {
    if (key.size() > longest_key) return new_str(key);
    Slot& slot = slots_[hash(key) % slots_.size()];
    if (slot.str && slot.key == key) return PyRef::borrow(slot.str.get());
    PyResult<PyRef> str = new_str(key);
    if (str) {
      slot.key = key;
      slot.str = PyRef::borrow(str->get());
    }
    return str;
  }

 private:
  static constexpr std::size_t longest_key = 64;

  static std::size_t hash(std::string_view key) noexcept {
    std::uint64_t h = 0xcbf29ce484222325u;
    for (const char c : key) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    return static_cast<std::size_t>(h ^ (h >> 29));
  }

  struct Slot {
    std::string_view key;  // bytes of the document, which outlives the cache
    PyRef str;
  };
  std::array<Slot, 512> slots_;
};

class Builder {
 public:
  PyResult<PyRef> value(const Value& value) {
    switch (value.tag()) {
      case ValueTag::Null: return PyRef::borrow(Py_None);
      case ValueTag::Bool: return PyRef::borrow(value.as_bool() ? Py_True : Py_False);
      case ValueTag::Int: return created(PyLong_FromLongLong(value.as_int()));
      case ValueTag::Float: return created(PyFloat_FromDouble(value.as_float()));
      case ValueTag::Str: return new_str(value.as_str());
      case ValueTag::List: return list(value.as_list());
      case ValueTag::Object: return dict(value.as_object());
    }
    return internal_failure("unknown value tag");
  }

  // Value first, then key; a key that repeats keeps its first place in
  // the dict and takes the last value.
  template <class Members>
  PyResult<PyRef> dict(const Members& members) {
    PyResult<PyRef> dict = created(PyDict_New());
    if (!dict) return dict;
    for (const auto& [key, member] : members) {
      PyResult<PyRef> item = value(member);
      if (!item) return item;
      PyResult<PyRef> name = keys_.get(key);
      if (!name) return name;
      if (PyDict_SetItem(dict->get(), name->get(), item->get()) < 0) return failure(fetch_exception());
    }
    return dict;
  }

 private:
  PyResult<PyRef> list(std::span<const Value> items) {
    PyResult<PyRef> list = created(PyList_New(0));
    if (!list) return list;
    for (const Value& item : items) {
      PyResult<PyRef> converted = value(item);
      if (!converted) return converted;
      if (PyList_Append(list->get(), converted->get()) < 0) return failure(fetch_exception());
    }
    return list;
  }

  KeyCache keys_;
};

}  // namespace

PyResult<PyRef> value_to_python(const Value& value) { return Builder().value(value); }

PyResult<PyRef> document_to_dict(const Document& document) { return Builder().dict(document); }

}  // namespace vardelquin
