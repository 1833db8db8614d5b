// Interned attribute names, made once per process.
#pragma once

#include "binding/ref.h"

namespace vardelquin {

// Each holds one reference for the life of the process.
struct InternedNames {
  PyHandle name;      // "__name__"
  PyHandle all;       // "__all__"
  PyHandle qualname;  // "__qualname__"
  PyHandle isascii;   // "isascii"
};

// NULL with an exception set if the names cannot be made.
const InternedNames* interned_names();

}  // namespace vardelquin
