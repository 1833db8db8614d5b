// Tests of an object's type, spelled with the calls that the 3.9 limited
// API offers. Apart from text.h so that the call frame, below it, can ask.
#pragma once

#include "binding/ref.h"

namespace vardelquin {

// An exact str or a subclass. The flag test is what PyUnicode_Check does.
inline bool is_str(PyHandle object) { return PyType_GetFlags(object.type()) & Py_TPFLAGS_UNICODE_SUBCLASS; }

}  // namespace vardelquin
