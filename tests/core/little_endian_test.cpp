#include "support/little_endian.h"

#include <gtest/gtest.h>

namespace vardelquin {
namespace {

// The cross-built runs (s390x is big-endian) check the swap.
TEST(LittleEndianTest, FirstByteIsLeastSignificantOnEveryHost) {
  const char bytes[] = "\x01\x02\x03\x04\x05\x06\x07\x08\x09";
  EXPECT_EQ(load_le32(bytes), 0x04030201u);
  EXPECT_EQ(load_le32(bytes + 1), 0x05040302u);  // unaligned
  EXPECT_EQ(load_le64(bytes), 0x0807060504030201u);
  EXPECT_EQ(load_le64(bytes + 1), 0x0908070605040302u);
}

}  // namespace
}  // namespace vardelquin
