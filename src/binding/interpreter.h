// What the running interpreter offers beyond the 3.9 stable ABI. One build
// serves every version from 3.9 on, so newer calls are looked up at run
// time, never linked.
#pragma once

#include "binding/python.h"

namespace vardelquin {

struct InterpreterApi {
  bool at_least_3_10 = false;
  // Knows the module slot that declares which interpreters may load it.
  bool at_least_3_12 = false;
  // In the stable ABI from 3.10 on; lends the str's own UTF-8 bytes.
  const char* (*unicode_as_utf8_and_size)(PyObject*, Py_ssize_t*) = nullptr;
  // PyGC_Disable and PyGC_Enable, in the stable ABI from 3.10 on; each
  // returns whether the collector was on before.
  int (*gc_disable)() = nullptr;
  int (*gc_enable)() = nullptr;
};

// Read once per process from Py_GetVersion(). A version text that does not
// parse leaves every flag false and no newer call in use.
const InterpreterApi& interpreter_api();

}  // namespace vardelquin
