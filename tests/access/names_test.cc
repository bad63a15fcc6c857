#include "db/access/names.h"

#include <gtest/gtest.h>

#include "platform/path.h"

namespace downsql::access {
namespace {

TEST(Names, MemoryName) {
  for (const char* yes : {"Memory", "memory", "\\Memory\\", " \\\\MEMORY\\ ", "/Memory/"})
    EXPECT_TRUE(IsMemoryName(NormalizeName(yes))) << yes;
  for (const char* no : {"Memory2", "Mem", "\\Memory\\x", ""})
    EXPECT_FALSE(IsMemoryName(NormalizeName(no))) << no;
}

TEST(Names, PathsAndDirectories) {
  EXPECT_EQ(NormalizeName("c:/data/games/"), "c:\\data\\games\\");
  EXPECT_EQ(NormalizeName(std::string(300, 'x')).size(), 255u);
  EXPECT_TRUE(IsPathName("C:Games"));
  EXPECT_TRUE(IsPathName("\\tmp"));
  EXPECT_FALSE(IsPathName("Games"));
  EXPECT_EQ(StoredDirectory(" C:\\Data\\Games\\\\ "), "C:\\Data\\Games");
  EXPECT_EQ(WithTrailingBackslash(" \\tmp\\x "), "\\tmp\\x\\");
  EXPECT_EQ(WithTrailingBackslash("\\tmp\\x\\"), "\\tmp\\x\\");
  EXPECT_EQ(WithTrailingBackslash(""), "");
  EXPECT_EQ(StripBackslashes("\\\\Memory\\"), "Memory");
}

TEST(Names, PathComparisonFollowsTheFileSystemRule) {
  struct Case {
    const char* a;
    const char* b;
    bool same_sensitive;
    bool same_insensitive;
  };
  const Case cases[] = {
      {"C:\\Data\\Games\\", "C:\\Data\\Games", true, true},
      {"C:\\Data\\Games\\", "C:/Data/Games", true, true},
      {"C:\\Data\\Games\\", "c:/data/games", false, true},
      {"\\tmp\\a", "\\tmp\\b", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SamePath(c.a, c.b, true), c.same_sensitive) << c.a << " " << c.b;
    EXPECT_EQ(SamePath(c.a, c.b, false), c.same_insensitive) << c.a << " " << c.b;
  }
  EXPECT_EQ(SamePath("\\A\\", "\\a"), !platform::PathsCaseSensitive());
  EXPECT_TRUE(SameName("LOTTO", "lotto"));
}

}  // namespace
}  // namespace downsql::access
