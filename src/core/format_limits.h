// Bounds of the format that the writer and the reader share.
#pragma once

#include <cstddef>

namespace vardelquin {

// The deepest nesting of lists and objects that dumps writes and loads
// reads. Both directions share it, so every text that dumps writes loads
// back; it also bounds every recursion over a tree.
inline constexpr std::size_t max_nesting_depth = 1000;

}  // namespace vardelquin
