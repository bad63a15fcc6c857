#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/locale.h"

namespace downsql::platform {
namespace {

TEST(Locale, Windows1250CasePairs) {
  // "zażółć gęślą jaźń ščťž ľ ą" and their upper-case forms.
  const std::string lower = "za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1 \x9A\xE8\x9D\x9E \xBE";
  const std::string upper = "ZA\xAF\xD3\xA3\xC6 G\xCA\x8CL\xA5 JA\x8F\xD1 \x8A\xC8\x8D\x8E \xBC";
  EXPECT_EQ(UpperCase(lower), upper);
  EXPECT_EQ(LowerCase(upper), lower);
  // Without a partner in the code page: sharp s, micro sign, dot above,
  // multiplication and division signs.
  for (char c : {'\xDF', '\xB5', '\xFF', '\xD7', '\xF7', '1', '['}) {
    EXPECT_EQ(UpperCase(std::string(1, c)), std::string(1, c));
    EXPECT_EQ(LowerCase(std::string(1, c)), std::string(1, c));
  }
}

TEST(Locale, ComparisonByteWiseAfterFolding) {
  EXPECT_EQ(CompareText("abc", "abc"), 0);
  EXPECT_LT(CompareText("ABC", "abc"), 0);
  EXPECT_LT(CompareText("ab", "abc"), 0);
  EXPECT_GT(CompareText("\xB9", "z"), 0);  // plain byte order: 'ą' after 'z'
  EXPECT_EQ(CompareTextNoCase("LOTTO", "lotto"), 0);
  EXPECT_EQ(CompareTextNoCase("\xA3\xD3"
                              "D\x8F",
                              "\xB3\xF3"
                              "d\x9F"),
            0);  // ŁÓDŹ, łódź
  EXPECT_LT(CompareTextNoCase("a", "B"), 0);
  EXPECT_TRUE(SameTextNoCase("Multi_22", "MULTI_22"));
  EXPECT_FALSE(SameTextNoCase("keno", "keno_de"));
}

TEST(Locale, InstalledCollationsPlugIn) {
  class Reversed : public Collation {
   public:
    uint32_t locale() const override { return 1045; }
    char ToUpper(char c) const override { return CollationFor(0).ToUpper(c); }
    char ToLower(char c) const override { return CollationFor(0).ToLower(c); }
    int Compare(std::string_view a, std::string_view b, bool ci) const override {
      return -CollationFor(0).Compare(a, b, ci);
    }
  };
  static const Reversed reversed;
  EXPECT_FALSE(IsLocaleInstalled(1045));
  EXPECT_LT(CompareText("a", "b", 1045), 0);  // unknown locales behave as locale 0
  InstallCollation(reversed);
  EXPECT_TRUE(IsLocaleInstalled(1045));
  EXPECT_TRUE(IsLocaleInstalled(0));
  EXPECT_GT(CompareText("a", "b", 1045), 0);
  EXPECT_EQ(&CollationFor(1045), &reversed);
}

TEST(Clock, TickSleepAndLocalTime) {
  uint64_t start = TickMs();
  SleepMs(20);
  EXPECT_GE(TickMs() - start, 20u);
  LocalDateTime now = LocalNow();
  EXPECT_GE(now.year, 2020);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour >= 0 && now.hour < 24 && now.minute < 60 && now.second < 61);
  EXPECT_TRUE(now.millisecond >= 0 && now.millisecond < 1000);
}

}  // namespace
}  // namespace downsql::platform
