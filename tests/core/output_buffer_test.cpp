#include "support/output_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace vardelquin {
namespace {

TEST(OutputBufferTest, GrowsPastManyReservationsAndHandsTheTextOver) {
  OutputBuffer buffer;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    const std::string piece = std::to_string(i) + ";";
    buffer.put(piece);
    expected += piece;
  }
  EXPECT_EQ(buffer.view(), expected);
  const OwnedText text = std::move(buffer).finish();
  EXPECT_EQ(text, expected);
}

// Reused storage travels by move, so a buffer left behind must stay usable.
TEST(OutputBufferTest, MovedFromBuffersAreEmptyAndWritable) {
  OutputBuffer first;
  first.put("kept");
  OutputBuffer second(std::move(first));
  EXPECT_EQ(second.view(), "kept");
  EXPECT_EQ(first.size(), 0u);
  EXPECT_EQ(first.capacity(), 0u);
  first.put("again");
  EXPECT_EQ(first.view(), "again");

  OutputBuffer third;
  third = std::move(second);
  EXPECT_EQ(third.view(), "kept");
  second.put('x');
  EXPECT_EQ(second.view(), "x");
}

}  // namespace
}  // namespace vardelquin
