// The one way binding files include the interpreter's API: the limited API
// of 3.9, so that one build serves every interpreter from 3.9 on.
#pragma once

#ifndef Py_LIMITED_API
#error "Py_LIMITED_API must be set (to 0x03090000) by the build"
#endif

#define PY_SSIZE_T_CLEAN
#include <Python.h>
