#include "base/compress.h"

#include <gtest/gtest.h>

#include <string>

namespace downsql::base {
namespace {

std::string Sample() {
  std::string s;
  for (int i = 0; i < 5000; ++i) s += "draw " + std::to_string(i % 49) + ";";
  return s;
}

TEST(Compress, RoundTripsAtEveryLevel) {
  std::string text = Sample();
  for (int level = 1; level <= 9; ++level) {
    std::vector<uint8_t> packed = Compress(text.data(), text.size(), level);
    EXPECT_LT(packed.size(), text.size() / 4) << level;
    EXPECT_EQ(packed[0], 0x78) << level;  // one zlib stream (deflate, 32K window)
    std::vector<uint8_t> back = Uncompress(packed.data(), packed.size(), text.size());
    EXPECT_EQ(std::string(back.begin(), back.end()), text) << level;
  }
  std::vector<uint8_t> empty = Compress("", 0, 6);
  EXPECT_TRUE(Uncompress(empty.data(), empty.size(), 0).empty());
}

TEST(Compress, RejectsBadLevelDamageAndWrongSize) {
  std::string text = Sample();
  EXPECT_THROW(Compress(text.data(), text.size(), 0), CompressError);
  EXPECT_THROW(Compress(text.data(), text.size(), 10), CompressError);

  std::vector<uint8_t> packed = Compress(text.data(), text.size(), 6);
  EXPECT_THROW(Uncompress(packed.data(), packed.size(), text.size() - 1), CompressError);
  EXPECT_THROW(Uncompress(packed.data(), packed.size(), text.size() + 1), CompressError);
  EXPECT_THROW(Uncompress(packed.data(), packed.size() / 2, text.size()), CompressError);
  packed[packed.size() - 1] ^= 0xFF;  // the Adler-32 trailer
  EXPECT_THROW(Uncompress(packed.data(), packed.size(), text.size()), CompressError);
}

}  // namespace
}  // namespace downsql::base
