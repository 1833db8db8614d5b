// Interned attribute names, made once per process.
#pragma once

#include "binding/python.h"

namespace vardelquin {

struct InternedNames {
  PyObject* name;      // "__name__"
  PyObject* all;       // "__all__"
  PyObject* qualname;  // "__qualname__"
  PyObject* isascii;   // "isascii"
};

// NULL with an exception set if the names cannot be made.
const InternedNames* interned_names();

}  // namespace vardelquin
