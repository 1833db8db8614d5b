// Text to new Python objects, made as the text is read. Runs with the
// interpreter lock held.
#pragma once

#include <string_view>

#include "binding/call_frame.h"
#include "config/format_config.h"

namespace vardelquin {

// A new dict with the top-level entries in text order (a key that repeats
// keeps its first place and takes its last value) and every nested object
// in key order, or the failure to raise: the reader's, as a ValueError, or
// the interpreter's. `text` is the UTF-8 of `source`, a str (see
// source_text), and both stay unchanged for the call.
PyResult<PyRef> dict_from_text(PyHandle source, std::string_view text, const FormatConfig& config);

}  // namespace vardelquin
