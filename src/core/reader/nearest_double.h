// The double nearest to a decimal number of up to 19 digits, by one
// 128-bit multiplication with a power of ten (the Eisel-Lemire method),
// for the floats that are not exact products of a double and a power of
// ten: most floats written with their 17 shortest digits.
#pragma once

#include <cstdint>
#include <optional>

namespace vardelquin {

// mantissa * 10^power rounded to the nearest double, ties to even; or
// nothing where one multiplication cannot settle it (a result within
// reach of a rounding boundary, subnormal results, powers outside the
// table), which the caller leaves to a full conversion.
std::optional<double> nearest_double(std::uint64_t mantissa, std::int64_t power) noexcept;

}  // namespace vardelquin
