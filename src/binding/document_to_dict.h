// Values to new Python objects. Runs with the interpreter lock held.
#pragma once

#include "binding/call_frame.h"
#include "value/value.h"

namespace vardelquin {

// A new dict with the entries in document order; a key that repeats keeps
// its first place and takes its last value.
PyResult<PyRef> document_to_dict(const Document& document);

}  // namespace vardelquin
