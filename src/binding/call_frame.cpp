#include "binding/call_frame.h"

#include <atomic>

#include "binding/messages.h"
#include "binding/names.h"
#include "binding/once.h"
#include "binding/type_tests.h"

namespace vardelquin {
namespace {

constexpr const char* internal_failure_doc =
    "\n"
    "Raised when native code called from Python fails.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

constexpr const char* generic_internal_message = message::internal_failure;

// Owns one reference for the life of the process.
std::atomic<PyObject*> internal_failure_slot{nullptr};
OnceLock internal_failure_lock;

// A type's __qualname__, or a fixed text when it cannot be read: the name
// only decorates a message about another failure, which must not be lost
// to a failure of its own.
PyRef type_qualname(PyHandle type) {
  {
    const ErrorScope keep;
    const InternedNames* names = interned_names();
    PyRef qualname = names ? PyRef::steal(PyObject_GetAttr(type.get(), names->qualname.get())) : PyRef();
    if (qualname && is_str(qualname.handle())) return qualname;
  }
  return PyRef::steal(PyUnicode_FromString("<failed to extract type name>"));
}

// str(value) as UTF-8 text, or `fallback`; leaves the error state as it
// found it.
std::string text_of(PyHandle value, const char* fallback) {
  const ErrorScope keep;
  PyRef text = PyRef::steal(value ? PyObject_Str(value.get()) : nullptr);
  PyRef bytes = PyRef::steal(text ? PyUnicode_AsUTF8String(text.get()) : nullptr);
  if (!bytes) return fallback;
  return std::string(PyBytes_AsString(bytes.get()), static_cast<std::size_t>(PyBytes_Size(bytes.get())));
}

bool derives_from_base_exception(PyHandle cls) {
  return PyType_Check(cls.get()) &&
         (PyType_GetFlags(reinterpret_cast<PyTypeObject*>(cls.get())) & Py_TPFLAGS_BASE_EXC_SUBCLASS);
}

// InternalFailure, or null when it cannot be made; the reason is dropped,
// since the caller is busy reporting another failure.
PyHandle internal_failure_class_if_any() {
  const ErrorScope keep;
  return internal_failure_class();
}

}  // namespace

PendingException PendingException::lazy(PyHandle exception_class, std::string message) {
  PendingException e(Kind::Lazy, PyRef::borrow(exception_class));
  e.message_ = std::move(message);
  return e;
}

PendingException PendingException::lazy_object(PyHandle exception_class, PyRef message) {
  PendingException e(Kind::Lazy, PyRef::borrow(exception_class));
  e.value_ = std::move(message);
  return e;
}

PendingException PendingException::cast(PyHandle object, PyHandle target_type) {
  PendingException e(Kind::Cast, PyRef::borrow(PyHandle(object.type())));
  e.value_ = PyRef::borrow(target_type);
  return e;
}

PendingException PendingException::fetched(PyRef type, PyRef value, PyRef traceback) {
  PendingException e(Kind::Fetched, std::move(type));
  e.value_ = std::move(value);
  e.traceback_ = std::move(traceback);
  return e;
}

PendingException PendingException::internal(std::string message) {
  PendingException e(Kind::Internal, PyRef());
  e.message_ = std::move(message);
  return e;
}

PyRef PendingException::message_object() const {
  if (kind_ == Kind::Cast) {
    PyRef from = type_qualname(class_.handle());
    PyRef to = type_qualname(value_.handle());
    if (!from || !to) return PyRef();
    return PyRef::steal(PyUnicode_FromFormat("'%U' object cannot be cast as '%U'", from.get(), to.get()));
  }
  if (value_) return PyRef::borrow(value_.handle());
  return PyRef::steal(PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
}

void PendingException::raise() && {
  switch (kind_) {
    case Kind::Fetched: PyErr_Restore(class_.release(), value_.release(), traceback_.release()); return;
    case Kind::Internal: {
      const PyHandle cls = internal_failure_class();
      if (!cls) return;
      const std::string& text = message_.empty() ? std::string(generic_internal_message) : message_;
      PyRef args = PyRef::steal(Py_BuildValue("(s#)", text.data(), static_cast<Py_ssize_t>(text.size())));
      if (args) PyErr_SetObject(cls.get(), args.get());
      return;
    }
    case Kind::Lazy:
    case Kind::Cast: {
      PyRef message = message_object();
      if (!message) return;
      const PyHandle cls = kind_ == Kind::Cast ? PyHandle(PyExc_TypeError) : class_.handle();
      if (derives_from_base_exception(cls)) {
        PyErr_SetObject(cls.get(), message.get());
      } else {
        PyErr_SetString(PyExc_TypeError, message::not_an_exception);
      }
      return;
    }
  }
}

PendingException PendingException::fetch() && {
  if (kind_ == Kind::Fetched || kind_ == Kind::Internal) return std::move(*this);
  std::move(*this).raise();
  return fetch_exception();
}

PendingException fetch_exception() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  // Normalised, the value is an instance of the class: what callers that
  // inspect it (its message, its cause) expect.
  if (type != nullptr) PyErr_NormalizeException(&type, &value, &traceback);
  PyRef type_ref = PyRef::steal(type);
  PyRef value_ref = PyRef::steal(value);
  PyRef traceback_ref = PyRef::steal(traceback);
  if (!type_ref) {
    return PendingException::lazy(PyHandle(PyExc_SystemError), message::nothing_to_fetch);
  }
  const PyHandle internal_class = internal_failure_class_if_any();
  if (internal_class && PyErr_GivenExceptionMatches(type_ref.get(), internal_class.get())) {
    // The failure resumes as this call's own, without the exception
    // object, so its Python traceback is printed now or never.
    std::string message = text_of(value_ref.handle(), generic_internal_message);
    PySys_WriteStderr("vardelquin: resuming an internal failure fetched from Python.\n");
    PySys_WriteStderr("Python stack trace below:\n");
    PyErr_Restore(type_ref.release(), value_ref.release(), traceback_ref.release());
    PyErr_PrintEx(0);
    return PendingException::internal(std::move(message));
  }
  return PendingException::fetched(std::move(type_ref), std::move(value_ref), std::move(traceback_ref));
}

PendingException api_call_failed() {
  if (PyErr_Occurred() == nullptr) return PendingException::internal(message::api_call_failed);
  return fetch_exception();
}

PendingException out_of_memory() {
  PyErr_NoMemory();
  return fetch_exception();
}

void raise_exception(PendingException failure) { std::move(failure).raise(); }

PyHandle internal_failure_class() {
  if (PyObject* cls = internal_failure_slot.load(std::memory_order_acquire)) return PyHandle(cls);
  auto held = internal_failure_lock.acquire();
  if (PyObject* cls = internal_failure_slot.load(std::memory_order_acquire)) return PyHandle(cls);
  if (!held) {
    PyErr_SetString(PyExc_RuntimeError, message::internal_failure_class_being_made);
    return PyHandle();
  }
  PyRef cls = PyRef::steal(PyErr_NewExceptionWithDoc("vardelquin_runtime.InternalFailure",
                                                     internal_failure_doc, PyExc_BaseException, nullptr));
  if (!cls) return PyHandle();
  const PyHandle made = cls.handle();
  internal_failure_slot.store(cls.release(), std::memory_order_release);
  return made;
}

namespace detail {
void raise_unexpected_cpp_exception() noexcept {
  raise_exception(PendingException::internal(message::unexpected_native_exception));
}
}  // namespace detail

}  // namespace vardelquin
