// The str objects of keys and short string values that loads made
// recently, kept from call to call.
#pragma once

#include <cstddef>
#include <string_view>

#include "binding/ref.h"

namespace vardelquin {

// An exact str holding `key` (UTF-8), or empty with the interpreter's
// exception set. Call with the interpreter lock held.
PyRef cached_key(std::string_view key) noexcept;

// The longest string value worth a look in the cache: short values
// (codes, names, flags, dates) repeat as keys do, longer ones seldom.
inline constexpr std::size_t longest_cached_value = 32;

// As cached_key, for a string value of up to longest_cached_value bytes,
// from a cache of its own so that values do not push keys out. A value
// may be the very str an earlier value was: strs are immutable. `found`
// tells whether it was there already.
PyRef cached_value(std::string_view value, bool& found) noexcept;

}  // namespace vardelquin
