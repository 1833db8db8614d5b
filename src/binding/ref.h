// Owning references to Python objects. A PyRef holds one strong reference
// and drops it when it goes away; there is no other way a binding file
// keeps an object alive. Borrowed pointers stay plain PyObject*.
#pragma once

#include <utility>

#include "binding/python.h"

namespace vardelquin {

class PyRef {
 public:
  PyRef() noexcept = default;

  // Takes over a new reference (a NULL is allowed and stays empty).
  static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
  // Takes a new strong reference to a borrowed object.
  static PyRef borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    PyRef(std::move(other)).swap(*this);
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
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

}  // namespace vardelquin
