// The B+-tree against a sorted model, with a structural check after every
// step, plus the split geometry, tolerant reading and damage detection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "db/storage/column_type.h"
#include "db/storage/index_file.h"
#include "db/storage/index_tree.h"
#include "tests/storage/index_memory_pages.h"

namespace downsql::storage {
namespace {

using Bytes = std::vector<uint8_t>;

TIndexLayout LayoutFor(const TKeyComparator& cmp, uint32_t page_size, uint8_t compression,
                       bool key_statistics = true) {
  TIndexLayout l;
  l.page_size = page_size;
  l.key_length = cmp.key_length();
  l.unique = cmp.unique();
  l.compression = compression;
  l.key_statistics = key_statistics;
  return l;
}

Bytes RecordIdKey(int32_t id) {
  Bytes key(5);
  key[0] = 1;
  base::PutBE32(&key[1], static_cast<uint32_t>(id) ^ 0x80000000u);
  return key;
}

std::string Check(TIndexTree& tree, TPageSource& pages, uint32_t free_head, uint32_t next_page) {
  std::set<uint32_t> tree_pages;
  std::string error = tree.Check(&tree_pages);
  if (!error.empty()) return error;
  return CheckFreeChain(pages, free_head, next_page, tree_pages);
}

std::string Check(TIndexTree& tree, MemoryPages& pages) {
  return Check(tree, pages, pages.free_head(), pages.next_page());
}

// Every page of the tree holds exactly what encoding its entries gives
// (nothing left past the entries, counts and links in place), however the
// tree changed it.
std::string CheckEncoded(TIndexTree& tree, TPageSource& pages, const TIndexLayout& layout) {
  std::set<uint32_t> tree_pages;
  tree.Check(&tree_pages);
  for (uint32_t number : tree_pages) {
    TPage& page = pages.Page(number);
    std::vector<TPageEntry> entries;
    if (!page.Decode(layout, &entries)) return "page " + std::to_string(number) + " undecodable";
    TPage encoded(number, page.size());
    std::memcpy(encoded.bytes(), page.bytes(), kPageHeaderSize);
    encoded.Encode(layout, entries);
    if (std::memcmp(encoded.bytes(), page.bytes(), page.size()) != 0)
      return "page " + std::to_string(number) + " differs from its encoding";
  }
  return "";
}

TEST(IndexTree, FirstInsertAndRootSplitGeometry) {
  TKeyComparator cmp({RecordIdKeyField()}, true, false, 0);
  TIndexLayout layout = LayoutFor(cmp, 1024, 0);
  MemoryPages pages(1024);
  TIndexTree tree(pages, layout, cmp, 0);

  ASSERT_TRUE(tree.Insert(RecordIdKey(1).data(), 1));
  EXPECT_EQ(pages.Root(0), 1u);
  EXPECT_EQ(pages.Page(1).type(), kPageRootLeaf);
  EXPECT_FALSE(tree.Insert(RecordIdKey(1).data(), 9)) << "duplicate";

  const uint32_t capacity = layout.leaf_capacity();  // 112
  for (uint32_t id = 2; id <= capacity; ++id) ASSERT_TRUE(tree.Insert(RecordIdKey(id).data(), id));
  EXPECT_EQ(pages.Root(0), 1u) << "a full page does not split yet";
  ASSERT_TRUE(tree.Insert(RecordIdKey(capacity + 1).data(), capacity + 1));

  EXPECT_EQ(pages.Root(0), 3u);
  TPage& root = pages.Page(3);
  TPage& left = pages.Page(1);
  TPage& right = pages.Page(2);
  EXPECT_EQ(root.type(), kPageRootBranch);
  EXPECT_EQ(left.type(), kPageLeaf);
  EXPECT_EQ(right.type(), kPageLeaf);
  EXPECT_EQ(left.count(), (capacity + 2) / 2);  // ceil((capacity + 1) / 2)
  EXPECT_EQ(left.count() + right.count(), capacity + 1);
  EXPECT_EQ(left.next(), 2u);
  EXPECT_EQ(right.prev(), 1u);
  ASSERT_EQ(root.count(), 2);
  EXPECT_EQ(root.pointer(layout, 0), 1u);
  EXPECT_EQ(root.sub_count(layout, 0), left.count());
  EXPECT_EQ(Bytes(root.entry(layout, 1), root.entry(layout, 1) + 5), RecordIdKey(left.count() + 1));
  EXPECT_EQ(root.sub_count(layout, 1), right.count());
  EXPECT_EQ(Check(tree, pages), "");
}

TEST(IndexTree, DeletesFreeEmptyPagesAndMergeSiblings) {
  TKeyComparator cmp({RecordIdKeyField()}, true, false, 0);
  TIndexLayout layout = LayoutFor(cmp, 1024, 0);
  MemoryPages pages(1024);
  TIndexTree tree(pages, layout, cmp, 0);
  for (int id = 1; id <= 400; ++id) ASSERT_TRUE(tree.Insert(RecordIdKey(id).data(), id));
  for (int id = 1; id <= 400; ++id) {
    ASSERT_TRUE(tree.Delete(RecordIdKey(id).data()));
    ASSERT_EQ(Check(tree, pages), "") << "after deleting " << id;
  }
  EXPECT_FALSE(tree.Delete(RecordIdKey(1).data()));
  EXPECT_EQ(pages.Root(0), 0u) << "an emptied root leaf is freed";
  EXPECT_NE(pages.free_head(), 0u);
  const uint32_t before = pages.next_page();
  for (int id = 1; id <= 200; ++id) ASSERT_TRUE(tree.Insert(RecordIdKey(id).data(), id));
  EXPECT_EQ(pages.next_page(), before) << "freed pages are reused";
  EXPECT_EQ(Check(tree, pages), "");
}

// The pages of a tree under test: in memory, or through an index file whose
// pool holds 8 buffers (so that pages are written and read back).
struct TestPages {
  TestPages(bool through_file, uint32_t page_size, const char* file_name) {
    settings.set_max_table_index_buffer_count(8);
    if (through_file) {
      file = std::make_unique<TIndexFile>("T", file_name, true, settings);
      file->Create(page_size);
    } else {
      memory = std::make_unique<MemoryPages>(page_size);
    }
  }
  TPageSource& pages() { return file ? static_cast<TPageSource&>(*file) : *memory; }

  EngineSettings settings;
  std::unique_ptr<MemoryPages> memory;
  std::unique_ptr<TIndexFile> file;
};

struct ModelConfig {
  bool unique;
  uint8_t compression;
  uint32_t page_size;
  bool descending;
  // Through the index file and a pool of 8 buffers (eviction, writes and
  // reads of pages while the tree works), instead of memory pages.
  bool through_file = false;
};

// Keys: a zero-filled string drawn from few letters (so neighbours share
// prefixes and end in zeros) and an INTEGER with few values.
class ModelTest : public ::testing::TestWithParam<ModelConfig> {};

TEST_P(ModelTest, MatchesSortedMultimap) {
  const ModelConfig config = GetParam();
  TIndexKeyField text;
  text.column = 1;
  text.type = kTypeString;
  text.stored_size = 24;
  text.null_offset = 25;
  text.descending = config.descending;
  TIndexKeyField number;
  number.column = 2;
  number.type = kTypeInteger;
  number.stored_size = 4;
  number.null_offset = 50;
  TKeyComparator cmp({text, number}, config.unique, false, 0);
  TIndexLayout layout = LayoutFor(cmp, config.page_size, config.compression);
  TestPages source(config.through_file, config.page_size, "memory\\model_test.idx");
  std::unique_ptr<MemoryPages>& memory = source.memory;
  std::unique_ptr<TIndexFile>& file = source.file;
  TPageSource& pages = source.pages();
  auto check = [&](TIndexTree& t) {
    return file ? Check(t, pages, file->free_head(), file->next_page()) : Check(t, *memory);
  };
  TIndexTree tree(pages, layout, cmp, 1);

  auto less = [&cmp](const Bytes& a, const Bytes& b) {
    return cmp.Compare(a.data(), b.data()) < 0;
  };
  std::multimap<Bytes, uint32_t, decltype(less)> model(less);

  std::mt19937 rng(config.page_size + config.compression * 7 + config.unique * 3 +
                   config.descending);
  const int steps = config.page_size == 1024 ? 2000 : 1000;
  // Long keys on big pages so that trees grow several levels there too.
  const int max_len = config.page_size == 1024 ? 6 : 23;
  int32_t next_id = 1;
  auto make_key = [&](int32_t id) {
    Bytes record(64, 0);
    const int len = std::uniform_int_distribution<int>(0, max_len)(rng);
    if (len > 0) {
      record[25] = 1;
      for (int i = 0; i < len; ++i)
        record[26 + i] = static_cast<uint8_t>('A' + std::uniform_int_distribution<int>(0, 2)(rng));
    }
    if (rng() % 8 != 0) {
      record[50] = 1;
      base::PutLE32(&record[51],
                    static_cast<uint32_t>(std::uniform_int_distribution<int>(-3, 3)(rng)));
    }
    base::PutLE32(&record[5], static_cast<uint32_t>(id));
    return cmp.BuildKey(record.data());
  };

  for (int step = 0; step < steps; ++step) {
    std::optional<TIndexFile::TPageScope> scope;
    if (file) scope.emplace(*file);
    const bool grow = step < steps * 2 / 3 ? rng() % 10 < 7 : rng() % 10 < 3;
    if (grow || model.empty()) {
      const int32_t id = next_id++;
      Bytes key = make_key(id);
      const bool present = model.count(key) != 0;
      ASSERT_EQ(tree.Insert(key.data(), static_cast<uint32_t>(id)), !present) << "step " << step;
      if (!present) model.emplace(key, id);
    } else {
      auto it = model.begin();
      std::advance(it, std::uniform_int_distribution<size_t>(0, model.size() - 1)(rng));
      ASSERT_TRUE(tree.Delete(it->first.data())) << "step " << step;
      model.erase(it);
    }
    ASSERT_EQ(check(tree), "") << "step " << step;
    ASSERT_EQ(CheckEncoded(tree, pages, layout), "") << "step " << step;
    ASSERT_EQ(tree.Total(), model.size()) << "step " << step;

    if (step % 331 == 0 || step == steps - 1) {
      // Whole order forward and backward, and a probe of each key.
      TIndexPosition pos = tree.First();
      uint32_t before = 0;
      for (const auto& [key, slot] : model) {
        ASSERT_TRUE(pos.valid()) << "step " << step;
        std::string got;
        uint32_t got_slot = 0;
        tree.Read(pos, &got, &got_slot);
        ASSERT_EQ(Bytes(got.begin(), got.end()), key) << "step " << step;
        ASSERT_EQ(got_slot, slot);
        ASSERT_EQ(tree.Find(key.data()), slot);
        ASSERT_EQ(tree.CountBefore(key.data()), before++);
        pos = tree.Next(pos);
      }
      ASSERT_FALSE(pos.valid());
      pos = tree.Last();
      for (auto it = model.rbegin(); it != model.rend(); ++it) {
        ASSERT_TRUE(pos.valid());
        std::string got;
        uint32_t got_slot = 0;
        tree.Read(pos, &got, &got_slot);
        ASSERT_EQ(got_slot, it->second);
        pos = tree.Prior(pos);
      }
      ASSERT_FALSE(pos.valid());
      Bytes absent = make_key(next_id + 1000000);
      if (model.count(absent) == 0) {
        ASSERT_EQ(tree.Find(absent.data()), 0u);
        auto lb = model.lower_bound(absent);
        TIndexPosition at = tree.Seek(absent.data());
        ASSERT_EQ(at.valid(), lb != model.end());
        if (at.valid()) {
          std::string got;
          uint32_t got_slot;
          tree.Read(at, &got, &got_slot);
          ASSERT_EQ(got_slot, lb->second);
        }
      }
    }
  }
  if (file) {
    // What the pool wrote reads back as the same tree.
    file->Flush();
    file->Close();
    file->Open(config.page_size);
    TIndexFile::TPageScope scope(*file);
    TIndexTree reopened(*file, layout, cmp, 1);
    EXPECT_EQ(check(reopened), "");
    EXPECT_EQ(reopened.Total(), model.size());
    file->Close();
    file->file().Delete();
  }
}

std::vector<ModelConfig> ModelConfigs() {
  std::vector<ModelConfig> configs;
  for (bool unique : {true, false})
    for (uint8_t compression = 0; compression <= 3; ++compression)
      for (uint32_t page_size : {1024u, 16384u})
        configs.push_back({unique, compression, page_size, (compression + unique) % 2 == 1});
  configs.push_back({false, 3, 1024, true, true});
  configs.push_back({true, 0, 1024, false, true});
  return configs;
}

std::string ConfigName(const ::testing::TestParamInfo<ModelConfig>& info) {
  const ModelConfig& c = info.param;
  return std::string(c.unique ? "Unique" : "NonUnique") + "Compression" +
         std::to_string(c.compression) + "Page" + std::to_string(c.page_size) +
         (c.descending ? "Desc" : "Asc") + (c.through_file ? "IndexFile" : "");
}

INSTANTIATE_TEST_SUITE_P(Configurations, ModelTest, ::testing::ValuesIn(ModelConfigs()),
                         ConfigName);

// Builds a two-level tree of RecordID keys 10, 20, ... and returns it.
struct SmallTree {
  TKeyComparator cmp{{RecordIdKeyField()}, true, false, 0};
  TIndexLayout layout = LayoutFor(cmp, 1024, 0);
  MemoryPages pages{1024};
  TIndexTree tree{pages, layout, cmp, 0};
  SmallTree() {
    for (int i = 1; i <= 300; ++i) tree.Insert(RecordIdKey(i * 10).data(), i);
  }
};

TEST(IndexTree, StaleBranchKeysStillRead) {
  SmallTree t;
  TPage& root = t.pages.Page(t.pages.Root(0));
  ASSERT_GE(root.count(), 3);
  // Another writer left the first key above the lowest one and a later key
  // below its child's lowest one (but above the previous child's keys).
  std::memcpy(root.entry(t.layout, 0), RecordIdKey(35).data(), 5);
  std::string last_of_first;
  uint32_t slot;
  TPage& first_child = t.pages.Page(root.pointer(t.layout, 0));
  t.tree.Read({first_child.number(), first_child.count() - 1u}, &last_of_first, &slot);
  std::memcpy(root.entry(t.layout, 1), RecordIdKey(slot * 10 + 1).data(), 5);

  for (int i = 1; i <= 300; ++i) ASSERT_EQ(t.tree.Find(RecordIdKey(i * 10).data()), uint32_t(i));
  // A key between the stale branch key and the child's real lowest key
  // seeks to the child's first entry.
  TIndexPosition at = t.tree.Seek(RecordIdKey(slot * 10 + 5).data());
  std::string key;
  t.tree.Read(at, &key, &slot);
  EXPECT_EQ(slot, first_child.count() + 1u);

  // Writing fixes the keys on the path it touches.
  ASSERT_TRUE(t.tree.Insert(RecordIdKey(5).data(), 1000));
  EXPECT_EQ(Bytes(root.entry(t.layout, 0), root.entry(t.layout, 0) + 5), RecordIdKey(5));
}

TEST(IndexTree, DamageIsReportedAs8965) {
  {
    SmallTree t;
    TPage& root = t.pages.Page(t.pages.Root(0));
    // An empty page on the way.
    t.pages.Page(root.pointer(t.layout, root.count() - 1u)).set_count(0);
    try {
      t.tree.Find(RecordIdKey(3000).data());
      FAIL() << "no error";
    } catch (const ETabulaEngineError& e) {
      EXPECT_EQ(e.code(), kErrIndexPageCorrupt);
    }
  }
  {
    SmallTree t;
    TPage& root = t.pages.Page(t.pages.Root(0));
    // More entries than a page holds: reading them would leave the page.
    t.pages.Page(root.pointer(t.layout, 0)).set_count(t.layout.leaf_capacity() + 1);
    try {
      t.tree.Find(RecordIdKey(10).data());
      FAIL() << "no error";
    } catch (const ETabulaEngineError& e) {
      EXPECT_EQ(e.code(), kErrIndexPageCorrupt);
    }
  }
  {
    SmallTree t;
    TPage& root = t.pages.Page(t.pages.Root(0));
    root.set_pointer(t.layout, 0, root.number());  // a branch that points at itself
    try {
      t.tree.Find(RecordIdKey(10).data());
      FAIL() << "no error";
    } catch (const ETabulaEngineError& e) {
      EXPECT_EQ(e.code(), kErrIndexPageCorrupt) << "deeper than 64 levels";
    }
  }
}

// Inserts through a spot (Find or AtEnd first, as the table does) build the
// very pages plain inserts build, whichever way the keys come: mostly
// growing, with the last key deleted again, keys below the last, repeated
// keys and deletes that free and merge pages. Through the index file the
// pins go between the spot and the insert now and then, as the pool may
// move pages then.
struct SpotConfig {
  bool unique;
  uint8_t compression;
  bool key_statistics;
  bool through_file;
};

class SpotTest : public ::testing::TestWithParam<SpotConfig> {};

TEST_P(SpotTest, BuildsTheSamePagesAsPlainInserts) {
  const SpotConfig config = GetParam();
  TKeyComparator cmp({RecordIdKeyField()}, config.unique, false, 0);
  const TIndexLayout layout = LayoutFor(cmp, 1024, config.compression, config.key_statistics);
  MemoryPages plain_pages(1024);
  TIndexTree plain(plain_pages, layout, cmp, 0);
  TestPages source(config.through_file, 1024, "memory\\spot_test.idx");
  std::unique_ptr<MemoryPages>& memory = source.memory;
  std::unique_ptr<TIndexFile>& file = source.file;
  TPageSource& pages = source.pages();
  auto key_of = [&cmp](int32_t id) {
    Bytes key = RecordIdKey(id);
    key.resize(cmp.key_length());
    if (key.size() > 5) base::PutBE32(&key[5], static_cast<uint32_t>(id));  // non-unique suffix
    return key;
  };

  std::mt19937 rng(7 + config.compression);
  std::set<int32_t> present;
  int32_t top = 0;
  TIndexTree::TInsertSpot spot;  // kept from insert to insert
  int at_end = 0;
  for (int step = 0; step < 3000; ++step) {
    std::optional<TIndexFile::TPageScope> scope;
    if (file) scope.emplace(*file);
    TIndexTree tree(pages, layout, cmp, 0);
    const uint32_t roll = rng() % 100;
    int32_t id;
    if (roll < 70 || present.empty()) {
      id = ++top;
    } else if (roll < 80) {
      id = top;  // present unless just deleted
    } else if (roll < 85) {
      id = std::uniform_int_distribution<int32_t>(1, top)(rng);
    } else {
      auto it = roll < 92 ? std::prev(present.end()) : present.begin();
      if (roll >= 92)
        std::advance(it, std::uniform_int_distribution<size_t>(0, present.size() - 1)(rng));
      const Bytes key = key_of(*it);
      ASSERT_TRUE(plain.Delete(key.data()));
      ASSERT_TRUE(tree.Delete(key.data()));
      present.erase(it);
      id = 0;
    }
    if (id != 0) {
      const Bytes key = key_of(id);
      const bool fresh = present.insert(id).second;
      uint32_t found = 0;
      if (config.unique)
        found = tree.Find(key.data(), &spot);
      else
        tree.AtEnd(key.data(), &spot);
      at_end += spot.at_end;
      if (file && step % 3 == 0) {
        // Let go of the pins, write, and read every page, so that the pool
        // reuses the buffers the spot's pages were in.
        scope.reset();
        file->Flush();
        for (uint32_t n = 1; n < file->next_page(); ++n) {
          TIndexFile::TPageScope one(*file);
          file->Page(n);
        }
        scope.emplace(*file);
      }
      ASSERT_EQ(plain.Insert(key.data(), static_cast<uint32_t>(id)), fresh) << "step " << step;
      if (found != 0) {
        ASSERT_FALSE(fresh);
      } else {
        ASSERT_EQ(tree.Insert(key.data(), static_cast<uint32_t>(id), spot), fresh)
            << "step " << step;
      }
    }
    ASSERT_EQ(pages.Root(0), plain_pages.Root(0)) << "step " << step;
    ASSERT_EQ(file ? file->next_page() : memory->next_page(), plain_pages.next_page());
    for (uint32_t n = 1; n < plain_pages.next_page(); ++n) {
      ASSERT_EQ(std::memcmp(pages.Page(n).bytes(), plain_pages.Page(n).bytes(), 1024), 0)
          << "step " << step << " page " << n;
    }
  }
  std::set<uint32_t> tree_pages;
  TIndexTree tree(pages, layout, cmp, 0);
  std::optional<TIndexFile::TPageScope> scope;
  if (file) scope.emplace(*file);
  EXPECT_EQ(tree.Check(&tree_pages), "");
  // Fixed-size leaves take most growing keys without a search.
  if (config.compression == 0) {
    EXPECT_GT(at_end, 1000);
  } else {
    EXPECT_EQ(at_end, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Configurations, SpotTest,
                         ::testing::Values(SpotConfig{true, 0, true, false},
                                           SpotConfig{false, 0, false, false},
                                           SpotConfig{true, 2, true, false},
                                           SpotConfig{true, 0, true, true},
                                           SpotConfig{false, 0, true, true}),
                         [](const ::testing::TestParamInfo<SpotConfig>& info) {
                           const SpotConfig& c = info.param;
                           return std::string(c.unique ? "Unique" : "NonUnique") + "Compression" +
                                  std::to_string(c.compression) +
                                  (c.key_statistics ? "Counts" : "NoCounts") +
                                  (c.through_file ? "IndexFile" : "");
                         });

}  // namespace
}  // namespace downsql::storage
