// Python objects to values. Runs with the interpreter lock held; only
// str() of an object that is not a None, bool, int, float, str, list or
// dict runs the caller's Python code.
#pragma once

#include <vector>

#include "binding/call_frame.h"
#include "value/value.h"

namespace vardelquin {

// A document whose strings are views of the UTF-8 bytes that Python
// objects hold; it keeps those objects alive for as long as it lives.
struct PyDocument {
  Document document;
  std::vector<PyRef> owners;
};

// `dict` must be a dict or a dict subclass. Entries come in the dict's own
// storage order; nested dicts become objects in key order.
PyResult<PyDocument> document_from_dict(PyHandle dict);

}  // namespace vardelquin
