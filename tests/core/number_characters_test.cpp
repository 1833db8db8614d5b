#include "config/number_characters.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/output_buffer.h"
#include "writer/numbers.h"

namespace vardelquin {
namespace {

// The configuration decides from number_characters whether numbers need
// escaping, and the reader from number_first_characters whether a token
// may be one: both must hold what the number writer really writes.
TEST(NumberCharacters, AreWhatTheNumberWriterWrites) {
  std::set<char> seen;
  const auto check = [&](std::string_view spelling) {
    ASSERT_FALSE(spelling.empty());
    EXPECT_NE(number_first_characters.find(spelling.front()), std::string_view::npos) << spelling;
    for (const char c : spelling) {
      EXPECT_NE(number_characters.find(c), std::string_view::npos) << spelling;
      seen.insert(c);
    }
  };
  constexpr double inf = std::numeric_limits<double>::infinity();
  std::mt19937_64 random(20261207);
  for (const double x :
       {0.0, -0.0, 1.0, -1.5, 0.1, 1e300, -5e-324, inf, -inf, std::numeric_limits<double>::quiet_NaN(),
        -std::numeric_limits<double>::quiet_NaN()}) {
    OutputBuffer out;
    put_float(out, x);
    check(out.view());
  }
  for (int i = 0; i < 20000; ++i) {
    OutputBuffer floating;
    put_float(floating, std::bit_cast<double>(random()));
    check(floating.view());
    OutputBuffer integer;
    put_integer(integer, static_cast<std::int64_t>(random()));
    check(integer.view());
  }
  for (const std::int64_t n : {std::numeric_limits<std::int64_t>::min(), std::int64_t{0}}) {
    OutputBuffer out;
    put_integer(out, n);
    check(out.view());
  }
  EXPECT_EQ(std::string(seen.begin(), seen.end()), [] {
    const std::set<char> listed(number_characters.begin(), number_characters.end());
    return std::string(listed.begin(), listed.end());
  }());
}

// The forms that write a separator after the number write the same
// spelling, whatever its length, and the separator right after it, also
// where the buffer must grow for it.
TEST(NumberWriter, PutsTheByteAfterTheSpelling) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  std::mt19937_64 random(20261208);
  std::vector<double> floats{0.0,     -0.0,  0.5,
                             -1e-320, 1e308, -4503599627370495.5,
                             inf,     -inf,  std::numeric_limits<double>::quiet_NaN()};
  std::vector<std::int64_t> integers{0,
                                     -1,
                                     99999999,
                                     100000000,
                                     std::numeric_limits<std::int64_t>::min(),
                                     std::numeric_limits<std::int64_t>::max()};
  for (int i = 0; i < 2000; ++i) {
    floats.push_back(std::bit_cast<double>(random()));
    integers.push_back(static_cast<std::int64_t>(random()) >> (random() % 64));
  }
  OutputBuffer alone;
  OutputBuffer followed;
  for (const double x : floats) {
    put_float(alone, x);
    alone.put('|');
    put_float(followed, x, '|');
  }
  for (const std::int64_t n : integers) {
    put_integer(alone, n);
    alone.put(';');
    put_integer(followed, n, ';');
  }
  EXPECT_EQ(followed.view(), alone.view());
}

}  // namespace
}  // namespace vardelquin
