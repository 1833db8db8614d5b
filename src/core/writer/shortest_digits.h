// The shortest decimal digits that read back as a given double.
#pragma once

#include <cstdint>

namespace vardelquin {

// The decimal significand * 10^exponent. For a nonzero finite value the
// significand is positive, has at most 17 digits and no trailing zeros (they
// move into the exponent), so each decimal has exactly one representation.
struct DecimalDigits {
  std::uint64_t significand;
  int exponent;

  friend bool operator==(const DecimalDigits&, const DecimalDigits&) = default;
};

// For a finite nonzero value: the decimal with the fewest significant digits
// that reads back as |value| under round-to-nearest-even; among several with
// that many digits, the one nearest to |value|, and of two equally near
// ones, the one whose last digit is even. The sign is ignored. Zero, the
// infinities and NaN give {0, 0}.
DecimalDigits shortest_digits(double value);

// The same decimal, except that the significand may end in zeros (the
// exponent being that much less); it still has at most 17 digits. This
// saves the search for trailing zeros where the digits get written anyway
// and can be scanned for them there.
DecimalDigits shortest_digits_untrimmed(double value);

}  // namespace vardelquin
