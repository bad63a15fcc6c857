// Leaf and branch page byte layouts, including the four leaf compressions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/storage/page.h"

namespace downsql::storage {
namespace {

using Bytes = std::vector<uint8_t>;

TIndexLayout Layout(uint16_t key_length, bool unique, uint8_t compression,
                    uint32_t page_size = 1024) {
  TIndexLayout l;
  l.page_size = page_size;
  l.key_length = key_length;
  l.unique = unique;
  l.compression = compression;
  return l;
}

std::string K(std::initializer_list<uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

Bytes Entries(const TPage& page) {
  return Bytes(page.bytes() + kPageHeaderSize, page.bytes() + kPageHeaderSize + page.occupied());
}

TEST(IndexPage, CompressedLeafLayouts) {
  struct Case {
    const char* what;
    TIndexLayout layout;
    std::vector<TPageEntry> entries;
    Bytes stored;
  };
  const std::string abc = K({'A', 'B', 'C', 'D', 'E', 'F'});
  const Case cases[] = {
      {"mode 1: equal key takes d = L, 5 bytes",
       Layout(6, true, 1),
       {{abc, 1, 0}, {abc, 2, 0}, {K({'A', 'B', 'X', 0, 0, 0}), 3, 0}},
       {0, 'A', 'B', 'C', 'D', 'E', 'F', 1, 0, 0, 0,  //
        6, 2,   0,   0,   0,                          //
        2, 'X', 0,   0,   0,   3,   0,   0, 0}},
      {"mode 2: trailing zeros left out",
       Layout(6, true, 2),
       {{K({'A', 'B', 0, 0, 0, 0}), 9, 0}, {K({0, 0, 0, 0, 0, 0}), 10, 0}},
       {4, 'A', 'B', 9, 0, 0, 0,  //
        6, 10, 0, 0, 0}},
      {"mode 2, non-unique: the RecordID bytes stay",
       Layout(10, false, 2),
       {{K({'A', 'B', 0, 0, 0, 0, 0x80, 0, 0, 0}), 1, 0}},
       {4, 'A', 'B', 0x80, 0, 0, 0, 1, 0, 0, 0}},
      {"mode 3, non-unique: shared prefix into the RecordID",
       Layout(10, false, 3),
       {{K({'A', 'B', 0, 0, 0, 0, 0x80, 0, 0, 1}), 1, 0},
        {K({'A', 'B', 0, 0, 0, 0, 0x80, 0, 0, 2}), 2, 0},
        {K({'A', 'C', 0, 0, 0, 0, 0x80, 0, 0, 3}), 3, 0}},
       {0, 4, 'A', 'B',  0x80, 0, 0, 1, 1, 0, 0, 0,  //
        9, 0, 2,   2,    0,    0, 0,                 //
        1, 4, 'C', 0x80, 0,    0, 3, 3, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    TPage page(1, c.layout.page_size);
    page.set_type(kPageRootLeaf);
    page.Encode(c.layout, c.entries);
    EXPECT_EQ(Entries(page), c.stored) << c.what;
    EXPECT_EQ(page.occupied(), c.stored.size()) << c.what;
    EXPECT_EQ(TPage::EncodedSize(c.layout, true, c.entries), c.stored.size()) << c.what;
    std::vector<TPageEntry> back;
    ASSERT_TRUE(page.Decode(c.layout, &back)) << c.what;
    ASSERT_EQ(back.size(), c.entries.size()) << c.what;
    for (size_t i = 0; i < back.size(); ++i) {
      EXPECT_EQ(back[i].key, c.entries[i].key) << c.what << " entry " << i;
      EXPECT_EQ(back[i].pointer, c.entries[i].pointer) << c.what << " entry " << i;
    }
  }
}

TEST(IndexPage, HeaderAndFixedEntries) {
  TIndexLayout layout = Layout(5, true, 0);
  EXPECT_EQ(layout.leaf_capacity(), (1024u - 13) / 9);
  EXPECT_EQ(layout.branch_capacity(), (1024u - 13) / 13);
  layout.key_statistics = false;
  EXPECT_EQ(layout.branch_capacity(), (1024u - 13) / 9);
  layout.key_statistics = true;

  TPage page(4, 1024);
  page.set_type(kPageBranch);
  page.set_prev(3);
  page.set_next(0x01020304);
  page.Encode(layout, {{K({1, 0x80, 0, 0, 1}), 7, 12}, {K({1, 0x80, 0, 0, 9}), 8, 3}});
  const Bytes want = {kPageBranch, 2,    0, 3, 0, 0, 0, 4, 3, 2,  1, 0, 0,  //
                      1,           0x80, 0, 0, 1, 7, 0, 0, 0, 12, 0, 0, 0,  //
                      1,           0x80, 0, 0, 9, 8, 0, 0, 0, 3,  0, 0, 0};
  EXPECT_EQ(Bytes(page.bytes(), page.bytes() + want.size()), want);
  page.RemoveFixed(layout, 0);
  EXPECT_EQ(page.count(), 1);
  EXPECT_EQ(page.pointer(layout, 0), 8u);
  EXPECT_EQ(page.sub_count(layout, 0), 3u);
}

TEST(IndexPage, MalformedCompressedEntriesDoNotDecode) {
  TIndexLayout layout = Layout(6, true, 3);
  TPage page(1, 64);
  page.set_type(kPageLeaf);
  page.set_count(1);
  page.bytes()[kPageHeaderSize] = 3;  // d > 0 on the first entry
  std::vector<TPageEntry> entries;
  EXPECT_FALSE(page.Decode(layout, &entries));
  page.bytes()[kPageHeaderSize] = 0;
  page.bytes()[kPageHeaderSize + 1] = 7;  // t > L
  EXPECT_FALSE(page.Decode(layout, &entries));
  page.bytes()[kPageHeaderSize + 1] = 0;
  page.set_count(60);  // runs past the end of the page
  EXPECT_FALSE(page.Decode(layout, &entries));
}

}  // namespace
}  // namespace downsql::storage
