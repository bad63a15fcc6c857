#include "base/byte_order.h"

#include <gtest/gtest.h>

namespace downsql::base {
namespace {

TEST(ByteOrder, ExactBytes) {
  uint8_t b[8];
  PutLE32(b, 0x11223344);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 4), (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(GetLE32(b), 0x11223344u);
  PutBE32(b, 0x11223344);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 4), (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(GetBE32(b), 0x11223344u);
  PutLE64(b, 0x0102030405060708ull);
  EXPECT_EQ(b[0], 0x08);
  EXPECT_EQ(b[7], 0x01);
  EXPECT_EQ(GetLE64(b), 0x0102030405060708ull);
  PutBE64(b, 0x0102030405060708ull);
  EXPECT_EQ(b[0], 0x01);
  EXPECT_EQ(GetBE64(b), 0x0102030405060708ull);
  PutLE16(b, 0xABCD);
  EXPECT_EQ(GetLE16(b), 0xABCD);
  EXPECT_EQ(GetBE16(b), 0xCDAB);
  PutLEDouble(b, 1.0);
  EXPECT_EQ(GetLE64(b), 0x3FF0000000000000ull);
  EXPECT_EQ(GetLEDouble(b), 1.0);
}

}  // namespace
}  // namespace downsql::base
