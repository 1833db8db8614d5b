// Failures as values, and the frame that turns them into Python exceptions.
//
// Every body returns a PyResult: a value, or a PendingException that says
// which exception to raise. Only the frames at the bottom of this file
// raise, and no C++ exception ever crosses into the interpreter.
#pragma once

#include <new>
#include <string>
#include <utility>

#include "binding/ref.h"
#include "support/expected.h"

namespace vardelquin {

class PendingException {
 public:
  enum class Kind {
    Lazy,      // class + message, made into an exception when raised
    Cast,      // "'<type>' object cannot be cast as '<target>'" TypeError
    Fetched,   // an exception taken from the interpreter
    Internal,  // a defect of this module: raised as InternalFailure
  };

  // `exception_class` is usually one of the PyExc_* globals.
  static PendingException lazy(PyHandle exception_class, std::string message);
  // As lazy, with a message that is already a Python str.
  static PendingException lazy_object(PyHandle exception_class, PyRef message);
  static PendingException cast(PyHandle object, PyHandle target_type);
  static PendingException fetched(PyRef type, PyRef value, PyRef traceback);
  static PendingException internal(std::string message);

  Kind kind() const noexcept { return kind_; }
  PyHandle exception_class() const noexcept { return class_.handle(); }

  // Sets the interpreter's error indicator; consumes the record.
  void raise() &&;
  // The message as a Python str (Lazy and Cast kinds), or NULL with an
  // exception set.
  PyRef message_object() const;
  // Brings the record to the fetched form.
  PendingException fetch() &&;

  const PyRef& value() const noexcept { return value_; }

 private:
  PendingException(Kind kind, PyRef cls) noexcept : kind_(kind), class_(std::move(cls)) {}

  Kind kind_;
  PyRef class_;      // Lazy/Fetched: exception class; Cast: the object's type
  PyRef value_;      // Fetched: the value; Lazy: the message str if made; Cast: the target type
  PyRef traceback_;  // Fetched only
  std::string message_;
};

template <class T>
using PyResult = Expected<T, PendingException>;

inline Unexpected<PendingException> failure(PendingException e) { return Unexpected{std::move(e)}; }
inline Unexpected<PendingException> internal_failure(std::string message) {
  return Unexpected{PendingException::internal(std::move(message))};
}

// The interpreter's pending exception; a SystemError when none is set. An
// InternalFailure coming back through Python code resumes as an internal
// failure of this call.
PendingException fetch_exception();

// For interpreter calls that create objects. Their NULL comes with the
// interpreter's exception (a MemoryError, normally), which passes through
// unchanged; a NULL without one is a defect, reported as InternalFailure.
PendingException api_call_failed();

// MemoryError, for memory that ran out outside the interpreter, where
// throwing std::bad_alloc is not possible.
PendingException out_of_memory();

void raise_exception(PendingException failure);

// The InternalFailure class, created on first use; null with an exception
// set if it cannot be made.
PyHandle internal_failure_class();

namespace detail {
void raise_unexpected_cpp_exception() noexcept;

// The one frame: runs `body`, whose result is a value or a failure, and
// hands the value to `take`; the failure, std::bad_alloc or any other C++
// exception becomes the Python exception. True when `take` ran.
template <class Body, class Take>
bool framed(Body& body, Take take) noexcept {
  try {
    auto result = body();
    if (result) {
      take(std::move(result).value());
      return true;
    }
    raise_exception(std::move(result).error());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (...) {
    raise_unexpected_cpp_exception();
  }
  return false;
}
}  // namespace detail

// Frame for entries returning an object: the result, or NULL with the
// exception set.
template <class Body>
PyObject* object_frame(Body&& body) noexcept {
  PyObject* object = nullptr;
  detail::framed(body, [&object](PyRef result) noexcept { object = result.release(); });
  return object;
}

// Frame for property setters: 0, or -1 with the exception set.
template <class Body>
int setter_frame(Body&& body) noexcept {
  return detail::framed(body, [](Ok) noexcept {}) ? 0 : -1;
}

// Frame for destructors: a failure is reported as unraisable.
template <class Body>
void destructor_frame(Body&& body) noexcept {
  if (!detail::framed(body, [](Ok) noexcept {})) PyErr_WriteUnraisable(nullptr);
}

}  // namespace vardelquin
