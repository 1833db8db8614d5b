#include "binding/names.h"

#include <atomic>

#include "binding/once.h"

namespace vardelquin {
namespace {

std::atomic<const InternedNames*> names_slot{nullptr};
OnceLock names_lock;

}  // namespace

const InternedNames* interned_names() {
  if (const auto* names = names_slot.load(std::memory_order_acquire)) return names;
  auto held = names_lock.acquire();
  if (const auto* names = names_slot.load(std::memory_order_acquire)) return names;
  PyObject* name = PyUnicode_InternFromString("__name__");
  PyObject* all = PyUnicode_InternFromString("__all__");
  PyObject* qualname = PyUnicode_InternFromString("__qualname__");
  PyObject* isascii = PyUnicode_InternFromString("isascii");
  if (name == nullptr || all == nullptr || qualname == nullptr || isascii == nullptr) {
    Py_XDECREF(name);
    Py_XDECREF(all);
    Py_XDECREF(qualname);
    Py_XDECREF(isascii);
    return nullptr;
  }
  // Kept for the life of the process, like the module itself.
  static InternedNames names{name, all, qualname, isascii};
  names_slot.store(&names, std::memory_order_release);
  return &names;
}

}  // namespace vardelquin
