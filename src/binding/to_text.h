// dumps: Python objects straight to text. Runs with the interpreter lock
// held; only str() of an object that is not a None, bool, int, float, str,
// list or dict runs the caller's Python code.
#pragma once

#include "binding/call_frame.h"
#include "config/format_config.h"
#include "support/output_buffer.h"

namespace vardelquin {

// Appends the text of `dict` (a dict or a dict subclass) to `out`: its
// entries in the dict's own storage order, nested dicts with their keys
// in order. On a failure what was appended is unspecified.
PyResult<Ok> write_dict(PyHandle dict, const FormatConfig& config, OutputBuffer& out);

}  // namespace vardelquin
