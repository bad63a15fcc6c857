// The index file: its exact bytes when new, the header checks on opening,
// index definitions with their checks, trees kept across reopening, and
// encryption.
#include "db/storage/index_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "db/storage/column_type.h"
#include "db/storage/engine_error.h"
#include "tests/storage/storage_test_util.h"

namespace downsql::storage {
namespace {

using testing::CodeOf;

using Bytes = std::vector<uint8_t>;

std::vector<TFieldDef> Columns() {
  std::vector<TFieldDef> columns(3);
  columns[0].number = 1;
  columns[0].name = "Name";
  columns[0].type = kTypeString;
  columns[0].size = 20;
  columns[1].number = 2;
  columns[1].name = "Born";
  columns[1].type = kTypeDate;
  columns[2].number = 3;
  columns[2].name = "Photo";
  columns[2].type = kTypeBlob;
  AssignRecordLayout(columns);
  return columns;
}

TIndexDefinition Secondary(const std::string& name, std::vector<int16_t> columns) {
  TIndexDefinition def;
  def.name = name;
  def.columns = std::move(columns);
  return def;
}

Bytes RecordIdKey(int32_t id) {
  Bytes key(5);
  key[0] = 1;
  base::PutBE32(&key[1], static_cast<uint32_t>(id) ^ 0x80000000u);
  return key;
}

class IndexFileTest : public ::testing::Test {
 protected:
  ~IndexFileTest() override {
    file.Close();
    file.file().Delete();
  }
  Bytes Raw(uint64_t offset, size_t n) {
    Bytes b(n);
    file.file().Read(offset, b.data(), n);
    return b;
  }
  void Reopen(uint32_t page_size = 1024) {
    file.Close();
    file.Open(page_size);
  }
  EngineSettings settings;
  TIndexFile file{"T", "memory\\index_file_test.idx", true, settings};
};

TEST_F(IndexFileTest, NewFileIsHeaderAndDefaultDefinitions) {
  file.Create(4096);
  EXPECT_EQ(file.file().Size(), 25088u);
  Bytes header = Raw(0, 512);
  EXPECT_EQ(base::GetLE32(&header[0]), 1u) << "update count after the first write";
  EXPECT_EQ(header[8], 6);
  EXPECT_EQ(Bytes(header.begin() + 9, header.begin() + 25),
            Bytes(settings.signature_digest().begin(), settings.signature_digest().end()));
  EXPECT_EQ(base::GetLE32(&header[25]), 0u);
  EXPECT_EQ(base::GetLE32(&header[29]), 1u);
  EXPECT_EQ(header[33], 0);
  EXPECT_EQ(Bytes(header.begin() + 34, header.begin() + 290), Bytes(256, 0)) << "all roots 0";

  Bytes primary = Raw(512, 768);
  EXPECT_EQ(primary[0], 0) << "no name";
  EXPECT_EQ(base::GetLE16(&primary[61]), 5);
  EXPECT_EQ(primary[126], 0);
  EXPECT_EQ(primary[127], 0);
  EXPECT_EQ(primary[128], 1);
  EXPECT_EQ(primary[129], 0);
  EXPECT_EQ(primary[130], 1);
  EXPECT_EQ(base::GetLE16(&primary[259]), 0xFFFF) << "RecordID";
  EXPECT_EQ(primary[515], 0);

  Bytes text = Raw(512 + 31 * 768, 768);
  EXPECT_EQ(std::string(text.begin() + 1, text.begin() + 1 + text[0]), "Sys Text");
  EXPECT_EQ(base::GetLE16(&text[61]), 68);
  EXPECT_EQ(text[128], 0);
  EXPECT_EQ(text[129], 3);
  EXPECT_EQ(text[130], 0);
  EXPECT_EQ(text[515], 1);
}

TEST_F(IndexFileTest, TreesSurviveFlushAndReopen) {
  file.Create(1024);
  TKeyComparator cmp = file.Comparator(0, {}, 0);
  {
    auto tree = file.Tree(0, cmp);
    ASSERT_TRUE(tree->Insert(RecordIdKey(1).data(), 1));
  }
  EXPECT_EQ(file.Root(0), 1u);
  ASSERT_TRUE(file.Flush());
  EXPECT_EQ(file.file().Size(), 25088u + 1024);
  EXPECT_EQ(Raw(25088, 1)[0], kPageRootLeaf);
  {
    auto tree = file.Tree(0, cmp);
    for (int id = 2; id <= 1000; ++id) ASSERT_TRUE(tree->Insert(RecordIdKey(id).data(), id));
    for (int id = 1; id <= 1000; id += 3) ASSERT_TRUE(tree->Delete(RecordIdKey(id).data()));
  }
  file.Flush();
  Reopen();
  auto tree = file.Tree(0, cmp);
  std::set<uint32_t> pages;
  EXPECT_EQ(tree->Check(&pages), "");
  EXPECT_EQ(tree->Total(), 666u);
  EXPECT_EQ(tree->Find(RecordIdKey(2).data()), 2u);
  EXPECT_EQ(tree->Find(RecordIdKey(4).data()), 0u);
  // Every page is in the tree or on the free chain.
  uint32_t free_pages = 0;
  for (uint32_t n = file.free_head(); n != 0; n = file.Page(n).next()) ++free_pages;
  EXPECT_EQ(pages.size() + free_pages, file.next_page() - 1);
}

TEST_F(IndexFileTest, OpeningChecksVersionSignatureAndIndexCount) {
  struct Case {
    uint32_t offset;
    uint8_t value;
    uint32_t code;
  };
  const Case cases[] = {{8, 5, kErrWrongVersion},
                        {8, 9, kErrInvalidFile},
                        {9, 0x00, kErrInvalidFile},
                        {33, 31, kErrHeaderCorrupt}};
  for (const Case& c : cases) {
    file.Create(1024);
    Bytes header = Raw(0, 512);
    header[c.offset] = c.value == 0 ? uint8_t(header[c.offset] ^ 0xFF) : c.value;
    file.file().Write(0, header.data(), header.size());
    file.Close();
    EXPECT_EQ(CodeOf([&] { file.Open(1024); }), c.code) << "offset " << c.offset;
  }
  file.Create(1024);
  file.Close();
  EXPECT_EQ(CodeOf([&] { file.Open(1024); }), 0u);
}

TEST_F(IndexFileTest, AddIndexChecksInOrder) {
  file.Create(1024);
  const std::vector<TFieldDef> columns = Columns();
  ASSERT_EQ(file.AddIndex(Secondary("ByName", {1}), columns), 1u);
  EXPECT_EQ(file.definition(1).key_length, 1 + 21 + 4) << "non-unique: RecordID suffix";

  TIndexDefinition too_many_columns = Secondary("Wide", std::vector<int16_t>(129, 2));
  TIndexDefinition long_key = Secondary("Long", std::vector<int16_t>(70, 2));  // 70 x 5 > 1011 / 3
  struct Case {
    const char* what;
    TIndexDefinition def;
    uint32_t code;
  };
  const Case cases[] = {
      {"no name", Secondary("", {1}), kErrIndexNameMissing},
      {"bad first character", Secondary("1st", {1}), kErrInvalidIndexName},
      {"same name in other case", Secondary("BYNAME", {2}), kErrIndexExists},
      {"BLOB key column", Secondary("ByPhoto", {3}), kErrInvalidIndexField},
      {"unknown column", Secondary("ByGhost", {9}), kErrInvalidIndexField},
      {"129 key columns", too_many_columns, kErrIndexLimits},
      {"key part above (P - 13) div 3", long_key, kErrInvalidKeySize},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CodeOf([&] { file.AddIndex(c.def, columns); }), c.code) << c.what;
  EXPECT_EQ(file.secondary_count(), 1u) << "refused definitions change nothing";

  for (int i = 2; i <= 30; ++i) file.AddIndex(Secondary("I" + std::to_string(i), {2}), columns);
  EXPECT_EQ(CodeOf([&] { file.AddIndex(Secondary("Extra", {2}), columns); }), kErrIndexLimits);

  TIndexDefinition primary;
  primary.columns = {2, 1};
  EXPECT_EQ(CodeOf([&] { file.ReplacePrimary(primary, columns); }), 0u);
  EXPECT_EQ(file.definition(0).key_length, 5 + 22);
  EXPECT_EQ(CodeOf([&] { file.ReplacePrimary(primary, columns); }), kErrPrimaryIndexExists);
}

TEST_F(IndexFileTest, DeleteIndexMovesSlotsDownAndFreesPages) {
  file.Create(1024);
  const std::vector<TFieldDef> columns = Columns();
  file.AddIndex(Secondary("A", {2}), columns);
  file.AddIndex(Secondary("B", {2}), columns);
  file.AddIndex(Secondary("C", {1}), columns);
  TKeyComparator cmp = file.Comparator(2, columns, 0);
  {
    auto tree = file.Tree(2, cmp);
    Bytes record(64, 0);
    for (int id = 1; id <= 300; ++id) {
      base::PutLE32(&record[5], id);
      ASSERT_TRUE(tree->Insert(cmp.BuildKey(record.data()).data(), id));
    }
  }
  const uint32_t pages = file.next_page() - 1;
  ASSERT_GT(pages, 3u);
  file.DeleteIndex(2);
  EXPECT_EQ(file.secondary_count(), 2u);
  EXPECT_EQ(file.definition(2).name, "C");
  EXPECT_TRUE(file.definition(3).empty());
  EXPECT_EQ(file.Root(2), 0u);
  uint32_t free_pages = 0;
  for (uint32_t n = file.free_head(); n != 0; n = file.Page(n).next()) ++free_pages;
  EXPECT_EQ(free_pages, pages);
  file.Flush();
  Reopen();
  EXPECT_EQ(file.definition(2).name, "C");
  EXPECT_EQ(file.secondary_count(), 2u);
}

TEST_F(IndexFileTest, EncryptedHeaderDefinitionsAndPages) {
  const base::Md5Digest key = base::Md5("secret");
  base::BlowfishCbc cipher(key.data(), key.size());
  file.set_cipher(&cipher);
  file.Create(1024);
  TKeyComparator cmp = file.Comparator(0, {}, 0);
  {
    auto tree = file.Tree(0, cmp);
    for (int id = 1; id <= 200; ++id) tree->Insert(RecordIdKey(id).data(), id);
  }
  file.Flush();
  EXPECT_NE(Raw(8, 1)[0], 6) << "header enciphered";
  EXPECT_NE(Raw(512 + 31 * 768, 9), (Bytes{8, 'S', 'y', 's', ' ', 'T', 'e', 'x', 't'}));
  EXPECT_NE(Raw(25088, 1)[0], kPageLeaf);
  Reopen();
  auto tree = file.Tree(0, cmp);
  EXPECT_EQ(tree->Total(), 200u);
  std::set<uint32_t> pages;
  EXPECT_EQ(tree->Check(&pages), "");
  file.set_cipher(nullptr);
  file.Close();
  EXPECT_NE(CodeOf([&] { file.Open(1024); }), 0u) << "unreadable without the key";
}

}  // namespace
}  // namespace downsql::storage
