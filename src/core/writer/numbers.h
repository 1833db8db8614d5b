// Number spellings: integers in decimal; floats exactly when integral (with
// ".0"), else with the shortest digits that read back as the same double,
// positional, never with an exponent; "NaN", "inf" and "-inf".
#pragma once

#include <cstdint>

#include "support/output_buffer.h"

namespace vardelquin {

void put_integer(OutputBuffer& sink, std::int64_t value);
void put_float(OutputBuffer& sink, double value);

// As above, each followed by the byte `after`: a value's separator costs
// no room of its own to reserve.
void put_integer(OutputBuffer& sink, std::int64_t value, char after);
void put_float(OutputBuffer& sink, double value, char after);

}  // namespace vardelquin
