// decode_scalar, the reader's ScalarTyper, parse_integer and parse_float
// against the reference of scalar_oracle.h. The first byte chooses the configuration (whose
// keywords take part in the typing) and the token's form: the raw bytes,
// or a run-length form that reaches tokens of a million digits (needed
// where a huge exponent is balanced by as many digits).
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "reader/scalar.h"
#include "scalar_oracle.h"
#include "tree_model.h"

namespace vardelquin::fuzz {
namespace {

// Pairs (character, count): a count from 0xF0 repeats the character
// (count - 0xEF) * 256 times, or 0xFF 2^20 times when `huge`; any other
// count once.
std::string expand(std::string_view packed, bool huge) {
  std::string out;
  for (std::size_t i = 0; i + 1 < packed.size() && out.size() < (std::size_t{1} << 22); i += 2) {
    const auto count = static_cast<unsigned char>(packed[i + 1]);
    std::size_t repeat = count >= 0xF0 ? (count - 0xEFu) * 256u : 1u;
    if (count == 0xFF && huge) repeat = std::size_t{1} << 20;
    out.append(repeat, packed[i]);
  }
  return out;
}

std::string show_float(std::optional<double> f) {
  return f ? show(Value::floating(*f)) : std::string("none");
}

}  // namespace
}  // namespace vardelquin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vardelquin;
  using namespace vardelquin::fuzz;
  ByteSource in(data, size);
  const std::uint8_t mode = in.byte();
  const FormatConfig config = (mode & 1) ? config_from(in) : *FormatConfig::defaults();
  const std::string token = (mode & 2) ? expand(in.rest(), (mode & 4) != 0) : std::string(in.rest());
  const std::string shown = token.size() > 200 ? token.substr(0, 200) + "..." : token;

  const auto integer = parse_integer(token);
  const auto expected_integer = reference_integer(token);
  FUZZ_CHECK(integer == expected_integer, shown);

  const auto floating = parse_float(token);
  const auto expected_floating = reference_float(token);
  FUZZ_CHECK(floating.has_value() == expected_floating.has_value() &&
                 (!floating || std::bit_cast<std::uint64_t>(*floating) ==
                                   std::bit_cast<std::uint64_t>(*expected_floating)),
             shown + ": " + show_float(floating) + " expected " + show_float(expected_floating));

  const Value decoded = decode_scalar(token, config);
  const Value expected = reference_decode(token, config);
  FUZZ_CHECK(decoded == expected, shown + ": " + show(decoded) + " expected " + show(expected));
  // The reader's typer, with its shortcuts by first byte.
  const Value typed = ScalarTyper(config)(token);
  FUZZ_CHECK(typed == expected, shown + ": typed " + show(typed) + " expected " + show(expected));
  return 0;
}
