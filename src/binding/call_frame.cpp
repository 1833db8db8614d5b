#include "binding/call_frame.h"

#include <atomic>

#include "binding/names.h"
#include "binding/once.h"

namespace vardelquin {
namespace {

constexpr const char* internal_failure_doc =
    "\n"
    "Raised when native code called from Python fails.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

constexpr const char* generic_internal_message = "internal failure in native code";

std::atomic<PyObject*> internal_failure_slot{nullptr};
OnceLock internal_failure_lock;

// A type's __qualname__, or a fixed text when it cannot be read.
PyRef type_qualname(PyObject* type) {
  const InternedNames* names = interned_names();
  PyRef qualname = names ? PyRef::steal(PyObject_GetAttr(type, names->qualname)) : PyRef();
  if (qualname && (PyType_GetFlags(Py_TYPE(qualname.get())) & Py_TPFLAGS_UNICODE_SUBCLASS)) {
    return qualname;
  }
  PyErr_Clear();
  return PyRef::steal(PyUnicode_FromString("<failed to extract type name>"));
}

// str(value) as UTF-8 text, or `fallback`; leaves no exception set.
std::string text_of(PyObject* value, const char* fallback) {
  PyRef text = PyRef::steal(value ? PyObject_Str(value) : nullptr);
  PyRef bytes = PyRef::steal(text ? PyUnicode_AsUTF8String(text.get()) : nullptr);
  if (!bytes) {
    PyErr_Clear();
    return fallback;
  }
  return std::string(PyBytes_AsString(bytes.get()), static_cast<std::size_t>(PyBytes_Size(bytes.get())));
}

bool derives_from_base_exception(PyObject* cls) {
  return PyType_Check(cls) &&
         (PyType_GetFlags(reinterpret_cast<PyTypeObject*>(cls)) & Py_TPFLAGS_BASE_EXC_SUBCLASS);
}

}  // namespace

PendingException PendingException::lazy(PyObject* exception_class, std::string message) {
  PendingException e(Kind::Lazy, PyRef::borrow(exception_class));
  e.message_ = std::move(message);
  return e;
}

PendingException PendingException::lazy_object(PyObject* exception_class, PyRef message) {
  PendingException e(Kind::Lazy, PyRef::borrow(exception_class));
  e.value_ = std::move(message);
  return e;
}

PendingException PendingException::cast(PyObject* object, PyObject* target_type) {
  PendingException e(Kind::Cast, PyRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(object))));
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
    PyRef from = type_qualname(class_.get());
    PyRef to = type_qualname(value_.get());
    if (!from || !to) return PyRef();
    return PyRef::steal(PyUnicode_FromFormat("'%U' object cannot be cast as '%U'", from.get(), to.get()));
  }
  if (value_) return PyRef::borrow(value_.get());
  return PyRef::steal(
      PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
}

void PendingException::raise() && {
  switch (kind_) {
    case Kind::Fetched:
      PyErr_Restore(class_.release(), value_.release(), traceback_.release());
      return;
    case Kind::Internal: {
      PyObject* cls = internal_failure_class();
      if (cls == nullptr) return;
      const std::string& text = message_.empty() ? std::string(generic_internal_message) : message_;
      PyRef args = PyRef::steal(Py_BuildValue("(s#)", text.data(), static_cast<Py_ssize_t>(text.size())));
      if (args) PyErr_SetObject(cls, args.get());
      return;
    }
    case Kind::Lazy:
    case Kind::Cast: {
      PyRef message = message_object();
      if (!message) return;
      PyObject* cls = kind_ == Kind::Cast ? PyExc_TypeError : class_.get();
      if (derives_from_base_exception(cls)) {
        PyErr_SetObject(cls, message.get());
      } else {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
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
  if (type == nullptr) {
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    return PendingException::lazy(PyExc_SystemError, "attempted to fetch exception but none was set");
  }
  PyErr_NormalizeException(&type, &value, &traceback);
  PyObject* internal_class = internal_failure_class();
  if (internal_class == nullptr) PyErr_Clear();
  if (internal_class != nullptr && PyErr_GivenExceptionMatches(type, internal_class)) {
    std::string message = text_of(value, generic_internal_message);
    PySys_WriteStderr("vardelquin: resuming an internal failure fetched from Python.\n");
    PySys_WriteStderr("Python stack trace below:\n");
    PyErr_Restore(type, value, traceback);
    PyErr_PrintEx(0);
    return PendingException::internal(std::move(message));
  }
  return PendingException::fetched(PyRef::steal(type), PyRef::steal(value), PyRef::steal(traceback));
}

PendingException api_call_failed() {
  if (PyErr_Occurred() == nullptr) return PendingException::internal("Python API call failed");
  return fetch_exception();
}

void raise_exception(PendingException failure) { std::move(failure).raise(); }

PyObject* internal_failure_class() {
  if (PyObject* cls = internal_failure_slot.load(std::memory_order_acquire)) return cls;
  auto held = internal_failure_lock.acquire();
  if (PyObject* cls = internal_failure_slot.load(std::memory_order_acquire)) return cls;
  if (!held) {
    PyErr_SetString(PyExc_RuntimeError, "InternalFailure is being created by this thread");
    return nullptr;
  }
  PyObject* cls = PyErr_NewExceptionWithDoc("vardelquin_runtime.InternalFailure", internal_failure_doc,
                                            PyExc_BaseException, nullptr);
  if (cls != nullptr) internal_failure_slot.store(cls, std::memory_order_release);
  return cls;
}

namespace detail {
void raise_unexpected_cpp_exception() noexcept {
  raise_exception(PendingException::internal("unexpected exception in native code"));
}
}  // namespace detail

}  // namespace vardelquin
