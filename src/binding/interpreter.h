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
  // In the stable ABI from 3.10 on; both return the previous state.
  int (*gc_disable)() = nullptr;
  int (*gc_enable)() = nullptr;
};

// Keeps the cyclic collector off while a tree of new objects is built: it
// could find no garbage among them, yet passes over them again and again
// as they are allocated. The previous state is restored on every path.
class CollectorPause {
 public:
  CollectorPause();
  ~CollectorPause();
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  bool was_enabled_ = false;
};

// Read once per process from Py_GetVersion(). A version text that does not
// parse leaves every flag false and no newer call in use.
const InterpreterApi& interpreter_api();

// Major and minor from a version text such as "3.11.7 (main, ...)".
bool parse_interpreter_version(const char* text, int& major, int& minor);

}  // namespace vardelquin
