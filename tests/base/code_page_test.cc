#include "base/code_page.h"

#include <gtest/gtest.h>

namespace downsql::base {
namespace {

TEST(CodePage, PolishLettersBothWays) {
  // "Zażółć gęślą jaźń ŁÓDŹ" in Windows-1250 and in UTF-8.
  const std::string cp =
      "Za\xBF\xF3\xB3\xE6 g\xEA\x9C\x6C\xB9 ja\x9F\xF1 \xA3\xD3"
      "D\x8F";
  const std::string utf8 =
      "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 "
      "ja\xC5\xBA\xC5\x84 \xC5\x81\xC3\x93"
      "D\xC5\xB9";
  EXPECT_EQ(Cp1250ToUtf8(cp), utf8);
  EXPECT_EQ(Utf8ToCp1250(utf8), cp);
  EXPECT_EQ(Cp1250ToUtf8("\x80\x96\x84"), "\xE2\x82\xAC\xE2\x80\x93\xE2\x80\x9E");  // € – „
}

TEST(CodePage, EveryByteRoundTrips) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += char(b);
  EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(all)), all);
}

TEST(CodePage, UnmappableAndMalformedBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1250("a\xE4\xB8\xAD"
                         "b"),
            "a?b");  // U+4E2D
  EXPECT_EQ(Utf8ToCp1250("a\xF0\x9F\x98\x80"
                         "b"),
            "a?b");  // U+1F600
  EXPECT_EQ(Utf8ToCp1250("a\xC5"
                         "b"),
            "a?b");  // truncated sequence
  EXPECT_EQ(Utf8ToCp1250("a\xC0\xAF"
                         "b"),
            "a?b");                              // over-long '/'
  EXPECT_EQ(Utf8ToCp1250("\xED\xA0\x80"), "?");  // surrogate
  EXPECT_EQ(Utf8ToCp1250("\x80"), "?");          // stray continuation
}

}  // namespace
}  // namespace downsql::base
