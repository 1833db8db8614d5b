// The str objects of keys that loads made recently, kept from call to call.
#pragma once

#include <string_view>

#include "binding/ref.h"

namespace vardelquin {

// An exact str holding `key` (UTF-8), or empty with the interpreter's
// exception set. Call with the interpreter lock held.
PyRef cached_key(std::string_view key) noexcept;

}  // namespace vardelquin
