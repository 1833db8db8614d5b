// Which bytes of a block are escaped, from the positions of the escape
// character in it, without a loop over them: a vectorised scan of a token
// gets the positions as a bit mask and needs all of them resolved at once.
#pragma once

#include <cstdint>

namespace vardelquin::reading {

// `escapes` has bit i set when byte i of a 16-byte block is the escape
// character; `first_escaped` is 1 when the byte before the block was an
// escape that took effect, so that byte 0 is escaped, else 0. The result
// has bit i set for each byte i, 0 to 15, that an escape makes ordinary,
// and bit 16 when the block's last byte is an escape that takes effect on
// the next block's first byte.
//
// A run of escape characters starting at bit s escapes bits s+1, s+3, ...
// to one past its end: every other one is an escape that takes effect, and
// the byte after the run is escaped when the run is of odd length. Adding
// 1 at s clears the run and sets the bit past it, so the sum, XORed with
// the escapes, covers each run and the byte after it; the escaped bits in
// such a span have the parity opposite to s's. Runs are split by where
// they start, even or odd, and each half kept at the other parity. The
// carries of two runs never meet: a run ends at a byte that is not an
// escape, which the carry stops at.
constexpr std::uint32_t escaped_in_block(std::uint32_t escapes, std::uint32_t first_escaped) noexcept {
  constexpr std::uint32_t even = 0x15555;  // bits 0 to 16
  constexpr std::uint32_t odd = 0x0AAAA;
  const std::uint32_t leads = escapes & ~first_escaped;  // an escaped escape leads no run
  const std::uint32_t starts = leads & ~(leads << 1);
  const std::uint32_t from_even = (leads + (starts & even)) ^ leads;
  const std::uint32_t from_odd = (leads + (starts & odd)) ^ leads;
  return (from_even & odd) | (from_odd & even) | first_escaped;
}

}  // namespace vardelquin::reading
