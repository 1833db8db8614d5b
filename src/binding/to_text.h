// dumps: Python objects straight to text. Runs with the interpreter lock
// held; the caller's Python code runs only in str() of an object that is
// not a None, bool, int, float, str, list or dict, and in signal handlers
// at the polls of a long call (see signal_poll.h).
#pragma once

#include "binding/call_frame.h"
#include "config/format_config.h"

namespace vardelquin {

// The text of `dict` (a dict or a dict subclass) as a new str: its
// entries in the dict's own storage order, nested dicts with their keys
// in order.
PyResult<PyRef> str_of_dict(PyHandle dict, const FormatConfig& config);

}  // namespace vardelquin
