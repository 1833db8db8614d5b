#include "binding/format_config_type.h"

#include <array>
#include <atomic>
#include <memory>
#include <new>

#include "binding/arguments.h"
#include "binding/interpreter.h"
#include "binding/messages.h"
#include "binding/once.h"
#include "binding/strs.h"
#include "binding/text.h"
#include "config/literal_form.h"
#include "failure.h"
#include "support/utf8.h"

namespace vardelquin {
namespace {

// The instance layout: the interpreter's header, the borrow counter
// (0 free, n > 0 readers, -1 one writer) and the record, which is
// constructed in place by the constructor and destroyed by the destructor.
//
// `constructed` says whether the record exists. The class's __new__ can be
// replaced from Python (by one that returns object.__new__(FormatConfig)),
// which makes instances that never went through the constructor; the
// allocator zero-fills them, so for those it reads false.
struct Instance {
  PyObject_HEAD alignas(std::atomic_ref<std::int64_t>::required_alignment) std::int64_t borrow;
  bool constructed;
  alignas(FormatConfig) unsigned char storage[sizeof(FormatConfig)];
};

Instance* as_instance(PyHandle object) { return reinterpret_cast<Instance*>(object.get()); }

FormatConfig& record_of(Instance* instance) {
  return *std::launder(reinterpret_cast<FormatConfig*>(instance->storage));
}

std::atomic_ref<std::int64_t> borrow_state(Instance* instance) {
  return std::atomic_ref<std::int64_t>(instance->borrow);
}

bool try_take_read(Instance* instance) {
  auto state = borrow_state(instance);
  std::int64_t current = state.load();
  while (current != -1) {
    if (state.compare_exchange_weak(current, current + 1)) return true;
  }
  return false;
}

bool try_take_write(Instance* instance) {
  std::int64_t expected = 0;
  return borrow_state(instance).compare_exchange_strong(expected, -1);
}

// The record taken for writing, released when this goes.
class WriteHold {
 public:
  explicit WriteHold(Instance* instance) noexcept : instance_(instance) {}
  WriteHold(const WriteHold&) = delete;
  WriteHold& operator=(const WriteHold&) = delete;
  ~WriteHold() { borrow_state(instance_).store(0); }

  FormatConfig& record() noexcept { return record_of(instance_); }

 private:
  Instance* instance_;
};

// The type test of receivers and of the config argument, which also
// refuses an instance without a record. A class that cannot be made here
// cannot be reported as such by the caller.
PyResult<Instance*> as_format_config(PyHandle object) {
  PyResult<PyHandle> cls = get_format_config_class();
  if (!cls) {
    raise_exception(std::move(cls).error());
    PyErr_WriteUnraisable(nullptr);
    return internal_failure(message::config_type_not_created);
  }
  auto* type = reinterpret_cast<PyTypeObject*>(cls->get());
  if (object.type() != type && !PyType_IsSubtype(object.type(), type)) {
    return failure(cast_failure(object, type));
  }
  Instance* instance = as_instance(object);
  if (!instance->constructed) {
    return failure(PendingException::lazy(PyHandle(PyExc_TypeError), message::config_not_initialized));
  }
  return instance;
}

PyResult<WriteHold> hold_for_writing(PyHandle object) {
  PyResult<Instance*> instance = as_format_config(object);
  if (!instance) return failure(std::move(instance).error());
  if (!try_take_write(*instance)) {
    return failure(PendingException::lazy(PyHandle(PyExc_RuntimeError), message::config_being_read));
  }
  return PyResult<WriteHold>(std::in_place, *instance);
}

// --- conversions shared by the constructor and the setters ---

// Converts a new value for field `index` into `fields`.
PyResult<Ok> convert_field(std::size_t index, PyHandle value, FormatFields& fields) {
  const std::string_view name = field_names[index];
  if (index < delimiter_count) {
    PyResult<char32_t> c = extract_char(value);
    if (!c) return failure(wrap_argument_error(name, std::move(c).error()));
    fields.delimiters[index] = *c;
  } else {
    PyResult<std::string> text = text_from_str(value);
    if (!text) return failure(wrap_argument_error(name, std::move(text).error()));
    fields.keywords[index - delimiter_count] = std::move(*text);
  }
  return Ok{};
}

Unexpected<PendingException> validation_failure(const Failure& rule) {
  return failure(PendingException::lazy(PyHandle(PyExc_ValueError), failure_message(rule)));
}

PyResult<PyRef> checked(PyRef object) {
  if (!object) return failure(api_call_failed());
  return object;
}

PyRef field_value(const FormatConfig& record, std::size_t index) {
  if (index < delimiter_count) {
    return str_from_utf8(utf8::encode(record.fields().delimiters[index]));
  }
  return str_from_utf8(record.fields().keywords[index - delimiter_count]);
}

std::size_t field_index(void* closure) { return reinterpret_cast<std::uintptr_t>(closure); }

// --- slots ---

constexpr std::array<std::string_view, field_count> constructor_parameters = field_names;

const ArgumentSpec constructor_spec{"__new__", "FormatConfig", constructor_parameters, 0};

PyObject* format_config_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return object_frame([&]() -> PyResult<PyRef> {
    std::array<PyHandle, field_count> slots{};
    if (auto bound = bind_arguments(constructor_spec, PyHandle(args), PyHandle(kwargs), slots); !bound) {
      return failure(std::move(bound).error());
    }
    FormatFields fields = FormatFields::default_values();
    for (std::size_t i = 0; i < field_count; ++i) {
      if (!slots[i]) continue;
      if (auto converted = convert_field(i, slots[i], fields); !converted) {
        return failure(std::move(converted).error());
      }
    }
    auto record = FormatConfig::create(std::move(fields));
    if (!record) return validation_failure(record.error());

    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyRef self = PyRef::steal(alloc(type, 0));
    if (!self) return failure(fetch_exception());
    Instance* instance = as_instance(self.handle());
    instance->borrow = 0;
    new (instance->storage) FormatConfig(std::move(*record));
    instance->constructed = true;
    return self;
  });
}

void format_config_dealloc(PyObject* self) {
  destructor_frame([&]() -> PyResult<Ok> {
    Instance* instance = as_instance(PyHandle(self));
    if (instance->constructed) std::destroy_at(&record_of(instance));
    PyTypeObject* type = Py_TYPE(self);
    freefunc free_slot = nullptr;
    if (interpreter_api().at_least_3_10 || (PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE)) {
      free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    } else {
      free_slot = PyObject_Free;  // what the base object type frees with
    }
    if (free_slot == nullptr) return internal_failure(message::no_tp_free);
    free_slot(self);
    // An instance of a heap type owns a reference to its type, dropped
    // here, once the instance's memory is gone.
    const PyRef instance_type = PyRef::steal(reinterpret_cast<PyObject*>(type));
    return Ok{};
  });
}

PyObject* format_config_get(PyObject* self, void* closure) {
  return object_frame([&]() -> PyResult<PyRef> {
    PyResult<ConfigReadHold> hold = hold_for_reading(PyHandle(self));
    if (!hold) return failure(std::move(hold).error());
    return checked(field_value(hold->record(), field_index(closure)));
  });
}

int format_config_set(PyObject* self, PyObject* value, void* closure) {
  return setter_frame([&]() -> PyResult<Ok> {
    if (value == nullptr) {
      return failure(
          PendingException::lazy(PyHandle(PyExc_AttributeError), message::attribute_not_deletable));
    }
    const std::size_t index = field_index(closure);
    FormatFields replacement;
    if (auto converted = convert_field(index, PyHandle(value), replacement); !converted) {
      return failure(std::move(converted).error());
    }
    PyResult<WriteHold> hold = hold_for_writing(PyHandle(self));
    if (!hold) return failure(std::move(hold).error());
    FormatFields fields = hold->record().fields();
    if (index < delimiter_count) {
      fields.delimiters[index] = replacement.delimiters[index];
    } else {
      fields.keywords[index - delimiter_count] = std::move(replacement.keywords[index - delimiter_count]);
    }
    auto record = FormatConfig::create(std::move(fields));
    if (!record) return validation_failure(record.error());
    hold->record() = std::move(*record);
    return Ok{};
  });
}

PyObject* format_config_special_chars(PyObject* self, PyObject*) {
  return object_frame([&]() -> PyResult<PyRef> {
    PyResult<ConfigReadHold> hold = hold_for_reading(PyHandle(self));
    if (!hold) return failure(std::move(hold).error());
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(delimiter_count)));
    if (!list) return failure(api_call_failed());
    for (std::size_t i = 0; i < delimiter_count; ++i) {
      PyRef item = field_value(hold->record(), i);
      if (!item) return failure(api_call_failed());
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
  });
}

PyObject* format_config_repr(PyObject* self) {
  return object_frame([&]() -> PyResult<PyRef> {
    PyResult<ConfigReadHold> hold = hold_for_reading(PyHandle(self));
    if (!hold) return failure(std::move(hold).error());
    const FormatFields& fields = hold->record().fields();
    std::string text = "FormatConfig(";
    for (std::size_t i = 0; i < field_count; ++i) {
      if (i > 0) text += ", ";
      text += field_names[i];
      text += '=';
      text += i < delimiter_count ? char_literal(fields.delimiters[i])
                                  : string_literal(fields.keywords[i - delimiter_count]);
    }
    text += ')';
    return checked_str_from_utf8(text);
  });
}

// --- the class ---

constexpr const char* class_doc =
    "FormatConfig(field_sep=';', kv_sep='=', list_open='[', list_close=']', list_sep='|', "
    "obj_open='{', obj_close='}', escape='\\\\', null_str=..., true_str=..., false_str=...)\n--\n\n";

PyMethodDef methods[] = {
    {"special_chars", format_config_special_chars, METH_NOARGS, "special_chars($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

template <std::size_t... I>
constexpr std::array<PyGetSetDef, field_count + 1> make_getsets(std::index_sequence<I...>) {
  return {{
      {field_names[I].data(), format_config_get, format_config_set, "",
       reinterpret_cast<void*>(std::uintptr_t{I})}...,
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  }};
}

std::array<PyGetSetDef, field_count + 1> getsets = make_getsets(std::make_index_sequence<field_count>{});

PyType_Slot class_slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_doc, const_cast<char*>(class_doc)},
    {Py_tp_new, reinterpret_cast<void*>(format_config_new)},
    {Py_tp_repr, reinterpret_cast<void*>(format_config_repr)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getsets.data()},
    {Py_tp_dealloc, reinterpret_cast<void*>(format_config_dealloc)},
    {0, nullptr},
};

// The name is a literal, so it outlives the class on every interpreter.
PyType_Spec class_spec = {
    .name = "builtins.FormatConfig",
    .basicsize = static_cast<int>(sizeof(Instance)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = class_slots,
};

std::atomic<PyObject*> class_slot{nullptr};
OnceLock class_lock;

PendingException class_creation_failed(PendingException cause) {
  PendingException fetched_cause = std::move(cause).fetch();
  PendingException wrapped =
      PendingException::lazy(PyHandle(PyExc_RuntimeError), message::config_class_failed).fetch();
  if (wrapped.kind() == PendingException::Kind::Fetched &&
      fetched_cause.kind() == PendingException::Kind::Fetched) {
    PyException_SetCause(wrapped.value().get(), fetched_cause.value().new_reference());
  }
  return wrapped;
}

}  // namespace

// The class declares no class attributes, so once it exists its dictionary
// is complete: there is nothing left to fill in, and no window in which a
// re-entrant call could see it half made.
PyResult<PyHandle> get_format_config_class() {
  if (PyObject* cls = class_slot.load(std::memory_order_acquire)) return PyHandle(cls);
  auto held = class_lock.acquire();
  if (PyObject* cls = class_slot.load(std::memory_order_acquire)) return PyHandle(cls);
  if (!held) {
    return failure(class_creation_failed(
        PendingException::lazy(PyHandle(PyExc_RuntimeError), message::config_class_being_made)));
  }
  PyRef cls = PyRef::steal(PyType_FromSpec(&class_spec));
  if (!cls) return failure(class_creation_failed(fetch_exception()));
  const PyHandle made = cls.handle();
  // The slot keeps the one reference for the life of the process.
  class_slot.store(cls.release(), std::memory_order_release);
  return made;
}

ConfigReadHold::~ConfigReadHold() {
  if (instance_) borrow_state(as_instance(instance_.handle())).fetch_sub(1);
}

PyResult<ConfigReadHold> hold_for_reading(PyHandle object) {
  PyResult<Instance*> instance = as_format_config(object);
  if (!instance) return failure(std::move(instance).error());
  if (!try_take_read(*instance)) {
    return failure(PendingException::lazy(PyHandle(PyExc_RuntimeError), message::config_being_written));
  }
  return ConfigReadHold(PyRef::borrow(object), &record_of(*instance));
}

}  // namespace vardelquin
