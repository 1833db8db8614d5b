// References to Python objects, and the interpreter's error state kept
// across a stretch of code.
//
// A PyRef owns one strong reference and drops it when it goes: it is the
// only way a binding file keeps an object alive, so no path can forget a
// decrement. A PyHandle is a borrowed pointer that says so in its type;
// it costs nothing over a bare PyObject*, and whoever lent it keeps the
// object alive. Every change of ownership is spelled out (steal, borrow,
// release, new_reference), and no conversion happens behind the reader's
// back: a handle never turns into an owner, nor a raw pointer into either,
// without one of those names.
#pragma once

#include <type_traits>
#include <utility>

#include "binding/python.h"

namespace vardelquin {

// A borrowed reference, possibly null.
class PyHandle {
 public:
  constexpr PyHandle() noexcept = default;
  constexpr explicit PyHandle(PyObject* object) noexcept : object_(object) {}
  explicit PyHandle(PyTypeObject* type) noexcept : object_(reinterpret_cast<PyObject*>(type)) {}

  constexpr PyObject* get() const noexcept { return object_; }
  constexpr explicit operator bool() const noexcept { return object_ != nullptr; }
  PyTypeObject* type() const noexcept { return Py_TYPE(object_); }

  friend constexpr bool operator==(PyHandle, PyHandle) noexcept = default;

 private:
  PyObject* object_ = nullptr;
};

static_assert(std::is_trivially_copyable_v<PyHandle>);

// An owned (strong) reference, possibly empty. Move-only.
class PyRef {
 public:
  PyRef() noexcept = default;

  // Takes over a new reference (a NULL is allowed and stays empty).
  static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
  // Gives up an owned reference (a NULL is allowed): what a PyRef does as
  // it goes, named where a raw owned pointer is let go.
  static void drop(PyObject* owned) noexcept { Py_XDECREF(owned); }
  // Takes a new strong reference to a borrowed object.
  static PyRef borrow(PyHandle object) noexcept {
    Py_XINCREF(object.get());
    return PyRef(object.get());
  }

  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  // Swapping through a temporary makes self-move harmless, and drops the
  // old reference only after this one holds the new: the decrement may run
  // a finaliser that reaches this very object.
  PyRef& operator=(PyRef&& other) noexcept {
    PyRef(std::move(other)).swap(*this);
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  // A borrowed view, valid while this reference lives.
  PyHandle handle() const noexcept { return PyHandle(object_); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Hands the reference to the caller, leaving this empty.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  // A new strong reference for a caller that keeps this one too.
  [[nodiscard]] PyObject* new_reference() const noexcept {
    Py_XINCREF(object_);
    return object_;
  }

  void swap(PyRef& other) noexcept { std::swap(object_, other.object_); }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

// Sets the interpreter's pending exception aside for its lifetime and puts
// it back when it goes, dropping whatever was raised in between. For code
// that tries something whose failure is answered with a fallback, not
// reported: the attempt must neither leak its own exception nor lose one
// that was already pending. Not movable: the state belongs to one stretch
// of code.
class ErrorScope {
 public:
  ErrorScope() noexcept {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    type_ = PyRef::steal(type);
    value_ = PyRef::steal(value);
    traceback_ = PyRef::steal(traceback);
  }
  ErrorScope(const ErrorScope&) = delete;
  ErrorScope& operator=(const ErrorScope&) = delete;
  // PyErr_Restore replaces any exception raised meanwhile, and with
  // nothing saved it clears the indicator.
  ~ErrorScope() { PyErr_Restore(type_.release(), value_.release(), traceback_.release()); }

 private:
  PyRef type_;
  PyRef value_;
  PyRef traceback_;
};

}  // namespace vardelquin
