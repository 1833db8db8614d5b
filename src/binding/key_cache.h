// The str objects of keys that loads made recently, kept from call to call.
#pragma once

#include <string_view>

#include "binding/python.h"

namespace vardelquin {

// A new reference to an exact str holding `key` (UTF-8), or NULL with the
// interpreter's exception set. Call with the interpreter lock held.
PyObject* cached_key(std::string_view key);

}  // namespace vardelquin
