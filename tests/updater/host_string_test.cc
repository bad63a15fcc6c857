#include "updater/host_string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace downsql::updater {
namespace {

// A host string laid out as the host's heap does: reference count, length,
// characters, NUL.
std::vector<char> HostString(std::string_view text, int32_t length, int32_t refcount = -1) {
  std::vector<char> block(8 + text.size() + 1, '\0');
  std::memcpy(block.data(), &refcount, 4);
  std::memcpy(block.data() + 4, &length, 4);
  std::memcpy(block.data() + 8, text.data(), text.size());
  return block;
}

TEST(HostStringTest, CopiesByTheLengthBeforeTheCharacters) {
  EXPECT_EQ(ReadHostString(nullptr), "");
  struct Case {
    std::string_view text;
    int32_t length;
    std::string copy;
  };
  const Case cases[] = {
      {"C:\\Lotto\\Baza\\", 14, "C:\\Lotto\\Baza\\"},
      {"", 0, ""},
      {std::string_view("a\0b", 3), 3, std::string("a\0b", 3)},  // the count rules, not the NUL
      {"abc", -5, ""},
      {"\xB9\xEA", 2, "\xB9\xEA"},
  };
  for (const Case& c : cases) {
    std::vector<char> block = HostString(c.text, c.length);
    std::vector<char> before = block;
    EXPECT_EQ(ReadHostString(block.data() + 8), c.copy);
    EXPECT_EQ(block, before);  // never changed
  }
}

}  // namespace
}  // namespace downsql::updater
