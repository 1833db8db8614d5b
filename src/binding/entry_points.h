// dumps and loads, as the interpreter calls them (METH_VARARGS | METH_KEYWORDS).
#pragma once

#include "binding/python.h"

namespace vardelquin {

PyObject* dumps(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* loads(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace vardelquin
