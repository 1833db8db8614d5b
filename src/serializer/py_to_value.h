// Python objects to values. Runs with the interpreter lock held; only
// str() of an object that is not a None, bool, int, float, str, list or
// dict runs the caller's Python code.
#pragma once

#include <cstddef>
#include <string>

#include "module/call_frame.h"
#include "serializer/value.h"

namespace vardelquin {

// `dict` must be a dict or a dict subclass. Entries come in the dict's own
// storage order.
PyResult<Document> document_from_dict(PyObject* dict);

// `depth` counts the lists and dicts that enclose `object`.
PyResult<Value> value_from_object(PyObject* object, std::size_t depth);

// Keys must be str (or a subclass): their UTF-8 text.
PyResult<std::string> key_text(PyObject* key);

}  // namespace vardelquin
