// The characters of numbers: those the writer spells numbers with, and
// those a token the reader may type as a number starts with. A delimiter
// among the first makes the writer escape numbers; a keyword or number
// start among the second makes the reader look twice at a token.
#pragma once

#include <string_view>

namespace vardelquin {

// Every character that put_integer and put_float write: the digits, the
// sign, the point, and the letters of NaN, inf and -inf (a test holds
// them to it).
inline constexpr std::string_view number_characters = "0123456789-.Nainf";

// A number the reader types starts with a digit, a sign, a point, or the
// i or n of a word (inf, infinity, nan in any case).
inline constexpr std::string_view number_first_characters = "0123456789+-.iInN";

}  // namespace vardelquin
