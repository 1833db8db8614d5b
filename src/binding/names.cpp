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
  PyRef name = PyRef::steal(PyUnicode_InternFromString("__name__"));
  PyRef all = PyRef::steal(PyUnicode_InternFromString("__all__"));
  PyRef qualname = PyRef::steal(PyUnicode_InternFromString("__qualname__"));
  PyRef isascii = PyRef::steal(PyUnicode_InternFromString("isascii"));
  if (!name || !all || !qualname || !isascii) return nullptr;
  // Kept for the life of the process, like the module itself.
  static const InternedNames names{PyHandle(name.release()), PyHandle(all.release()),
                                   PyHandle(qualname.release()), PyHandle(isascii.release())};
  names_slot.store(&names, std::memory_order_release);
  return &names;
}

}  // namespace vardelquin
