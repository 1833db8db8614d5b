// The module object: multi-phase initialisation, in the main interpreter
// only, once per process.
#include <array>
#include <atomic>
#include <cstdint>

#include "binding/arguments.h"
#include "binding/entry_points.h"
#include "binding/format_config_type.h"
#include "binding/interpreter.h"
#include "binding/messages.h"
#include "binding/names.h"
#include "binding/once.h"
#include "binding/text.h"

namespace vardelquin {
namespace {

constexpr const char* dumps_doc =
    "dumps(obj, config=None)\n"
    "--\n"
    "\n"
    "Serialize a Python dict into the custom format string.\n"
    "\n"
    "Example:\n"
    "    cfg = FormatConfig()\n"
    "    dumps({\"name\": \"mirl\", \"hobbies\": [\"cycling\", \"rowing\"], \"age\": 30}, cfg)\n"
    "    # \u2192 \"name=mirl;hobbies=[cycling|rowing];age=30;\"";

constexpr const char* loads_doc =
    "loads(s, config=None)\n"
    "--\n"
    "\n"
    "Deserialize a custom format string into a Python dict.\n"
    "\n"
    "Example:\n"
    "    cfg = FormatConfig()\n"
    "    loads(\"name=mirl;hobbies=[cycling|rowing];age=30;\", cfg)\n"
    "    # \u2192 {\"name\": \"mirl\", \"hobbies\": [\"cycling\", \"rowing\"], \"age\": 30}";

PyMethodDef dumps_definition = {"dumps", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dumps)),
                                METH_VARARGS | METH_KEYWORDS, dumps_doc};
PyMethodDef loads_definition = {"loads", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(loads)),
                                METH_VARARGS | METH_KEYWORDS, loads_doc};

std::atomic<PyObject*> module_slot{nullptr};
OnceLock module_lock;

// Appends `name` to the module's __all__ and sets the attribute.
PyResult<Ok> add_to_module(PyHandle module, PyHandle name, PyHandle value) {
  const InternedNames* names = interned_names();
  if (names == nullptr) return failure(fetch_exception());
  PyRef all = PyRef::steal(PyObject_GetAttr(module.get(), names->all.get()));
  if (!all) {
    PendingException missing = fetch_exception();
    if (missing.kind() != PendingException::Kind::Fetched ||
        !PyErr_GivenExceptionMatches(missing.exception_class().get(), PyExc_AttributeError)) {
      return failure(std::move(missing));
    }
    all = PyRef::steal(PyList_New(0));
    if (!all) return failure(api_call_failed());
    if (PyObject_SetAttr(module.get(), names->all.get(), all.get()) < 0) return failure(fetch_exception());
  } else if (!(PyType_GetFlags(Py_TYPE(all.get())) & Py_TPFLAGS_LIST_SUBCLASS)) {
    return failure(cast_failure(all.handle(), &PyList_Type));
  }
  if (PyList_Append(all.get(), name.get()) < 0) {
    PendingException cause = fetch_exception();
    std::string message = message::name_not_appended;
    // The repr only adds detail to the report: if it cannot be had, the
    // report goes without it.
    const ErrorScope keep;
    PyRef detail = cause.kind() == PendingException::Kind::Fetched && cause.value()
                       ? PyRef::steal(PyObject_Repr(cause.value().get()))
                       : PyRef();
    PyRef detail_bytes = detail ? PyRef::steal(PyUnicode_AsUTF8String(detail.get())) : PyRef();
    if (detail_bytes) {
      message += ": ";
      message += PyBytes_AsString(detail_bytes.get());
    }
    return internal_failure(std::move(message));
  }
  if (PyObject_SetAttr(module.get(), name.get(), value.get()) < 0) return failure(fetch_exception());
  return Ok{};
}

PyResult<Ok> add_function(PyHandle module, PyMethodDef* definition) {
  PyRef module_name = PyRef::steal(PyModule_GetNameObject(module.get()));
  if (!module_name) return failure(fetch_exception());
  PyRef function = PyRef::steal(PyCMethod_New(definition, module.get(), module_name.get(), nullptr));
  if (!function) return failure(fetch_exception());
  module_name = PyRef();
  PyRef name = PyRef::steal(PyObject_GetAttr(function.get(), interned_names()->name.get()));
  if (!name) return failure(fetch_exception());
  if (!is_str(name.handle())) return failure(cast_failure(name.handle(), &PyUnicode_Type));
  return add_to_module(module, name.handle(), function.handle());
}

PyResult<Ok> initialise(PyHandle module) {
  PyResult<PyHandle> cls = get_format_config_class();
  if (!cls) return failure(std::move(cls).error());
  PyRef class_name = PyRef::steal(PyUnicode_FromStringAndSize("FormatConfig", 12));
  if (!class_name) return failure(api_call_failed());
  if (auto added = add_to_module(module, class_name.handle(), *cls); !added) return added;
  if (auto added = add_function(module, &dumps_definition); !added) return added;
  return add_function(module, &loads_definition);
}

// The module's objects (the class, the functions, the interned names and
// InternalFailure) are made once and shared, so they must belong to the
// main interpreter: made in another one, they would outlive it. Interpreter
// ids count from 0, and the main interpreter is always the first one made.
bool in_main_interpreter() { return PyInterpreterState_GetID(PyInterpreterState_Get()) == 0; }

// Everything module-specific happens here, in the importing interpreter,
// rather than in PyInit_vardelquin: 3.13 runs the init function in the
// main interpreter on behalf of every interpreter that imports.
PyResult<PyRef> create_module(PyHandle module_spec) {
  // Before anything else: a refused import touches no process-wide state.
  if (!in_main_interpreter()) {
    return failure(PendingException::lazy(PyHandle(PyExc_ImportError), message::no_subinterpreters));
  }
  if (module_slot.load(std::memory_order_acquire) != nullptr) {
    return failure(PendingException::lazy(PyHandle(PyExc_ImportError), message::initialised_once));
  }
  auto held = module_lock.acquire();
  if (PyObject* module = module_slot.load(std::memory_order_acquire)) return PyRef::borrow(PyHandle(module));
  if (interned_names() == nullptr) return failure(fetch_exception());
  PyRef name = PyRef::steal(PyObject_GetAttrString(module_spec.get(), "name"));
  if (!name) return failure(fetch_exception());
  PyRef module = PyRef::steal(PyModule_NewObject(name.get()));
  if (!module) return failure(fetch_exception());
  if (auto initialised = initialise(module.handle()); !initialised) {
    return failure(std::move(initialised).error());
  }
  // The slot keeps one reference for the life of the process.
  module_slot.store(module.new_reference(), std::memory_order_release);
  return module;
}

PyObject* module_create_slot(PyObject* module_spec, PyModuleDef*) {
  return object_frame([&] { return create_module(PyHandle(module_spec)); });
}

// Py_mod_multiple_interpreters and its value for "may be loaded in an
// interpreter with its own lock"; the 3.9 headers define neither, and an
// interpreter before 3.12 rejects a slot it does not know. Without it, 3.12
// and later refuse an isolated interpreter's import themselves, with their
// own message, before create_module can. Admitting such an interpreter is
// sound: all create_module does there is raise, touching nothing shared.
constexpr int multiple_interpreters_slot = 3;
constexpr std::uintptr_t per_interpreter_lock_supported = 2;

// The slot table depends on the running interpreter, so it is made at run
// time, once; PyInit_vardelquin may run in several interpreters at once.
PyModuleDef& module_definition() {
  static std::array<PyModuleDef_Slot, 3> slots = [] {
    std::array<PyModuleDef_Slot, 3> table{{
        {Py_mod_create, reinterpret_cast<void*>(module_create_slot)},
        {0, nullptr},
        {0, nullptr},
    }};
    if (interpreter_api().at_least_3_12) {
      table[1] = {multiple_interpreters_slot, reinterpret_cast<void*>(per_interpreter_lock_supported)};
    }
    return table;
  }();
  static PyModuleDef definition = {
      PyModuleDef_HEAD_INIT,
      "vardelquin",
      "",       // __doc__ is the empty string
      0,        // no per-module state
      nullptr,  // functions are added by create_module
      slots.data(),
      nullptr,
      nullptr,
      nullptr,
  };
  return definition;
}

}  // namespace
}  // namespace vardelquin

// PyMODINIT_FUNC already declares the C linkage.
PyMODINIT_FUNC PyInit_vardelquin() { return PyModuleDef_Init(&vardelquin::module_definition()); }
