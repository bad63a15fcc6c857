#include "db/storage/data_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "db/storage/engine_error.h"
#include "db/storage/record.h"
#include "tests/storage/storage_test_util.h"

namespace downsql::storage {
namespace {

using testing::CodeOf;

TFieldDef Col(const std::string& name, uint8_t type, uint8_t subtype = 0, uint16_t size = 0) {
  TFieldDef d;
  d.name = name;
  d.type = type;
  d.subtype = subtype;
  d.size = size;
  return d;
}

TTableDefinition OneInteger() {
  TTableDefinition s;
  s.fields = {Col("ID", kTypeInteger)};
  return s;
}

// A data file in memory, deleted afterwards.
class DataFileTest : public ::testing::Test {
 protected:
  ~DataFileTest() override {
    table.Close();
    TEngineFile f(kName, true);
    if (f.Exists()) f.Delete();
  }
  std::vector<uint8_t> FileBytes() {
    TEngineFile f(kName, true);
    f.Open(true);
    std::vector<uint8_t> bytes(f.Size());
    f.Read(0, bytes.data(), bytes.size());
    return bytes;
  }
  void Patch(uint64_t at, const std::vector<uint8_t>& bytes) {
    table.Close();
    TEngineFile f(kName, true);
    f.Open();
    f.Write(at, bytes.data(), bytes.size());
  }
  // Inserts a record with ID = v and returns its slot.
  uint32_t Insert(int32_t v) {
    TBuffer* b = table.InsertSlot();
    TRecordBuffer r(table.record_size());
    r.SetInteger(*table.FieldByName("id"), v);
    r.set_record_id(table.NextRecordId());
    std::memcpy(b->data.data(), r.data(), r.size());
    uint32_t slot = b->block;
    table.Unpin(b);
    return slot;
  }
  static constexpr char kName[] = "MemDataTest.dat";
  EngineSettings settings;
  TDataFile table{"LOTTO", kName, true, settings};
};

TEST_F(DataFileTest, EmptyTableHasEveryHeaderFieldAtItsOffset) {
  TTableDefinition definition = OneInteger();
  definition.description = "Lotto";
  definition.locale = 0;
  definition.user_major = 3;
  definition.user_minor = 4;
  definition.last_autoinc = 10;
  table.Create(definition, false);
  std::vector<uint8_t> f = FileBytes();
  ASSERT_EQ(f.size(), 512u + 768u);
  base::Md5Digest sig = base::Md5("TABULA_SIG");
  EXPECT_EQ(base::GetLE32(&f[0]), 1u);  // written once
  EXPECT_EQ(base::GetLE32(&f[4]), 0u);
  EXPECT_EQ(f[8], 6);
  EXPECT_EQ(0, std::memcmp(&f[9], sig.data(), 16));
  EXPECT_EQ(base::GetLE32(&f[25]), 0u);   // chain head
  EXPECT_EQ(base::GetLE32(&f[29]), 1u);   // next slot
  EXPECT_EQ(base::GetLE32(&f[33]), 0u);   // last RecordID
  EXPECT_EQ(base::GetLE32(&f[37]), 10u);  // last AUTOINC
  EXPECT_EQ(base::GetLE32(&f[41]), 0u);   // record count
  EXPECT_EQ(base::GetLE16(&f[45]), 32);
  EXPECT_EQ(base::GetLE16(&f[47]), 1);
  EXPECT_EQ(base::GetLE16(&f[49]), 0);
  EXPECT_EQ(base::GetLE32(&f[51]), kDefaultBlobBlockSize);
  EXPECT_EQ(base::GetLE32(&f[59]), kDefaultIndexPageSize);
  double stamp = base::GetLEDouble(&f[63]) + 693594.0;  // host date-time
  EXPECT_GT(stamp, 40000.0);
  EXPECT_EQ(f[71], 5);
  EXPECT_EQ(0, std::memcmp(&f[72], "Lotto", 5));
  EXPECT_EQ(f[172], 0);
  EXPECT_EQ(base::GetLE32(&f[189]), 0u);
  EXPECT_EQ(base::GetLE16(&f[193]), 3);
  EXPECT_EQ(base::GetLE16(&f[195]), 4);
  EXPECT_EQ(f[197], 1);
  for (size_t i = 198; i < 512; ++i) ASSERT_EQ(f[i], 0) << i;
  EXPECT_EQ(base::GetLE16(&f[512]), 1);
  EXPECT_EQ(f[514], 2);
  EXPECT_EQ(f[512 + 164], kTypeInteger);
  EXPECT_EQ(base::GetLE16(&f[512 + 169]), 4);
  EXPECT_EQ(base::GetLE16(&f[512 + 172]), 25);

  table.Open();
  EXPECT_EQ(table.record_count(), 0u);
  EXPECT_EQ(table.next_slot(), 1u);
  EXPECT_EQ(table.description(), "Lotto");
  EXPECT_NEAR(table.last_updated(), stamp, 1e-9);
  EXPECT_NO_THROW(table.Verify());
}

TEST_F(DataFileTest, OpenChecksHeaderInOrder) {
  struct Case {
    size_t at;
    std::vector<uint8_t> bytes;
    uint32_t code;
  } cases[] = {
      {8, {5}, kErrWrongVersion},
      {8, {9}, kErrInvalidFile},
      {8, {7}, kErrInvalidFile},
      {9, {0xDE, 0xAD}, kErrInvalidFile},
      {47, {0x01, 0x04}, kErrHeaderCorrupt},  // 1025 columns
      {29, {0, 0, 0, 0}, kErrHeaderCorrupt},  // next slot 0
      {25, {1, 0, 0, 0}, kErrHeaderCorrupt},  // chain head past the last slot
      {8, {5, 0xDE}, kErrWrongVersion},       // version before signature
  };
  for (const Case& c : cases) {
    table.Create(OneInteger(), false);
    Patch(c.at, c.bytes);
    EXPECT_EQ(CodeOf([&] { table.Open(); }), c.code) << c.at;
    EXPECT_FALSE(table.is_open());
  }
  // The configured signature and "TABULA_SIG" are both accepted; others not.
  table.Create(OneInteger(), false);  // signed "TABULA_SIG"
  table.Close();
  settings.set_engine_signature("OTHER_SIG");
  EXPECT_NO_THROW(table.Open());
  table.Create(OneInteger(), false);  // signed "OTHER_SIG"
  table.Close();
  EXPECT_NO_THROW(table.Open());
  table.Close();
  settings.Reset();
  EXPECT_EQ(CodeOf([&] { table.Open(); }), kErrInvalidFile);
  TDataFile missing("NOPE", "MemNope.dat", true, settings);
  EXPECT_EQ(CodeOf([&] { missing.Open(); }), kErrFileNotFound);
}

TEST_F(DataFileTest, CreateChecksInTheirOrder) {
  auto with = [](std::function<void(TTableDefinition&)> change) {
    TTableDefinition s = OneInteger();
    change(s);
    return s;
  };
  std::vector<TFieldDef> many(1025, Col("C", kTypeInteger));
  for (size_t i = 0; i < many.size(); ++i) many[i].name = "C" + std::to_string(i);
  struct Case {
    const char* what;
    TTableDefinition definition;
    uint32_t code;
  } cases[] = {
      {"empty password", with([](TTableDefinition& s) {
         s.encrypted = true;
         s.password = "   ";
       }),
       kErrInvalidPassword},
      {"long password", with([](TTableDefinition& s) {
         s.encrypted = true;
         s.password = std::string(129, 'x');
       }),
       kErrInvalidPassword},
      {"password first", with([&](TTableDefinition& s) {
         s.encrypted = true;
         s.fields = many;
       }),
       kErrInvalidPassword},
      {"no columns", with([](TTableDefinition& s) { s.fields.clear(); }), kErrFieldCountLimits},
      {"1025 columns", with([&](TTableDefinition& s) { s.fields = many; }), kErrFieldCountLimits},
      {"page size", with([](TTableDefinition& s) { s.index_page_size = 512; }), kErrIndexLimits},
      {"31 indexes", with([](TTableDefinition& s) { s.secondary_indexes = 31; }), kErrIndexLimits},
      {"block size", with([](TTableDefinition& s) { s.blob_block_size = 63; }), kErrBlobLimits},
      {"recordid",
       with([](TTableDefinition& s) { s.fields.push_back(Col("rEcOrDiD", kTypeInteger)); }),
       kErrInvalidFieldName},
      {"recordhash", with([](TTableDefinition& s) { s.fields[0].name = " RecordHash "; }),
       kErrInvalidFieldName},
      {"digit first", with([](TTableDefinition& s) { s.fields[0].name = "1st"; }),
       kErrInvalidFieldName},
      {"duplicate", with([](TTableDefinition& s) { s.fields.push_back(Col("id", kTypeDate)); }),
       kErrInvalidFieldName},
      {"61 chars", with([](TTableDefinition& s) { s.fields[0].name = std::string(61, 'a'); }),
       kErrInvalidFieldName},
      {"string size",
       with([](TTableDefinition& s) { s.fields.push_back(Col("S", kTypeString, 0, 513)); }),
       kErrInvalidFieldDefinition},
      {"integer size", with([](TTableDefinition& s) { s.fields[0].size = 4; }),
       kErrInvalidFieldDefinition},
      {"number twice", with([](TTableDefinition& s) {
         s.fields.push_back(Col("B", kTypeDate));
         s.fields[0].number = 2;
       }),
       kErrInvalidFieldDefinition},
      {"default", with([](TTableDefinition& s) { s.fields[0].default_value = "x"; }),
       kErrInvalidDefaultOrLimit},
      {"compression", with([](TTableDefinition& s) { s.fields[0].compression = 1; }),
       kErrInvalidFieldDefinition},
      {"129 BLOBs", with([](TTableDefinition& s) {
         for (int i = 0; i < 129; ++i) s.fields.push_back(Col("B" + std::to_string(i), kTypeBlob));
       }),
       kErrBlobLimits},
      {"record size", with([](TTableDefinition& s) {
         for (int i = 0; i < 128; ++i)
           s.fields.push_back(Col("S" + std::to_string(i), kTypeString, 0, 512));
       }),
       kErrRecordTooLarge},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CodeOf([&] { table.Create(c.definition, false); }), c.code) << c.what;
  EXPECT_FALSE(TEngineFile(kName, true).Exists());

  many.pop_back();
  TTableDefinition wide = OneInteger();
  wide.fields = many;
  table.Create(wide, false);
  EXPECT_EQ(table.column_count(), 1024);
  EXPECT_EQ(FileBytes().size(), 512u + 768u * 1024u);
}

TEST_F(DataFileTest, DeletedSlotIsReusedWithTheFileLengthUnchanged) {
  table.Create(OneInteger(), false);
  EXPECT_EQ(Insert(7), 1u);
  table.WriteModified();
  table.WriteHeader();
  size_t length = FileBytes().size();
  EXPECT_EQ(length, 512u + 768u + 32u);
  table.DeleteSlot(1);
  table.WriteModified();
  table.WriteHeader();
  std::vector<uint8_t> f = FileBytes();
  EXPECT_EQ(f.size(), length);
  EXPECT_EQ(base::GetLE32(&f[25]), 1u);
  EXPECT_EQ(base::GetLE32(&f[41]), 0u);
  EXPECT_EQ(f[1280], kSlotDeleted);
  EXPECT_EQ(table.SlotForNewRecord(), 1u);
  EXPECT_EQ(Insert(8), 1u);
  EXPECT_EQ(table.next_slot(), 2u);
  EXPECT_EQ(table.free_chain_head(), 0u);
  EXPECT_EQ(table.record_count(), 1u);
}

TEST_F(DataFileTest, FreeChainIsNewestFirst) {
  table.Create(OneInteger(), false);
  for (int i = 0; i < 3; ++i) Insert(i);
  table.DeleteSlot(1);
  table.DeleteSlot(3);
  EXPECT_EQ(table.free_chain_head(), 3u);
  TBuffer* b3 = table.GetBlock(3);
  EXPECT_EQ(base::GetLE32(&b3->data[1]), 1u);
  table.Unpin(b3);
  EXPECT_EQ(CodeOf([&] { table.DeleteSlot(3); }), kErrRecordBuffersCorrupt);
  EXPECT_EQ(CodeOf([&] { table.DeleteSlot(4); }), kErrRecordBuffersCorrupt);
  EXPECT_EQ(Insert(9), 3u);
  EXPECT_EQ(Insert(9), 1u);
  EXPECT_EQ(Insert(9), 4u);
  table.WriteModified();
  table.WriteHeader();
  EXPECT_NO_THROW(table.Verify());
}

TEST_F(DataFileTest, HeaderWritesAdvanceTheUpdateCount) {
  table.Create(OneInteger(), false);
  int32_t before = table.update_count();
  EXPECT_FALSE(table.WriteHeader());  // nothing modified
  table.set_last_autoinc(5);
  EXPECT_TRUE(table.WriteHeader());
  EXPECT_TRUE(table.WriteHeader(true));
  EXPECT_EQ(base::GetLE32(&FileBytes()[0]), uint32_t(before + 2));
  EXPECT_FALSE(table.ReReadHeader());
  Patch(0, {0x55});
  table.Open();
  TDataFile other("LOTTO", kName, true, settings);
  other.Open();
  other.WriteHeader(true);
  EXPECT_TRUE(table.ReReadHeader());
  other.Close();
}

TEST_F(DataFileTest, EmptyResetsCountersAndKeepsDefinitions) {
  table.Create(OneInteger(), false);
  for (int i = 0; i < 3; ++i) Insert(i);
  table.DeleteSlot(2);
  table.WriteModified();
  table.WriteHeader();
  table.Empty();
  table.WriteHeader();
  std::vector<uint8_t> f = FileBytes();
  EXPECT_EQ(f.size(), 512u + 768u);
  EXPECT_EQ(base::GetLE32(&f[0]), 1u);
  EXPECT_EQ(base::GetLE32(&f[25]), 0u);
  EXPECT_EQ(base::GetLE32(&f[29]), 1u);
  EXPECT_EQ(base::GetLE32(&f[33]), 0u);
  EXPECT_EQ(base::GetLE32(&f[41]), 0u);
  EXPECT_EQ(Insert(5), 1u);
}

TEST_F(DataFileTest, CountersWrapToOne) {
  table.Create(OneInteger(), false);
  table.set_last_record_id(2147483646);
  EXPECT_EQ(table.NextRecordId(), 2147483647);
  EXPECT_EQ(table.NextRecordId(), 1);
  EXPECT_EQ(table.NextBlobVersion(), 1);
  // A damaged (negative) counter starts again at 1, as does one at 0.
  for (int32_t last : {-5, 0}) {
    table.set_last_record_id(last);
    EXPECT_EQ(table.NextRecordId(), 1) << last;
  }
}

TEST_F(DataFileTest, EncryptedTableNeedsItsPassword) {
  TTableDefinition definition = OneInteger();
  definition.encrypted = true;
  definition.password = "tajne";
  table.Create(definition, false);
  Insert(0x01020304);
  table.WriteModified();
  table.WriteHeader();
  table.Close();
  std::vector<uint8_t> f = FileBytes();
  EXPECT_EQ(f[172], 1);
  auto check = PasswordCheckValue("tajne");
  EXPECT_EQ(0, std::memcmp(&f[173], check.data(), 16));
  EXPECT_NE(f[514], 2);                  // the definitions are enciphered
  EXPECT_EQ(base::GetLE16(&f[45]), 32);  // the header is not

  std::vector<std::string> known = {"wrong"};
  int asked = 0;
  TPasswordSource source{[&] { return known; },
                         [&] {
                           ++asked;
                           return false;
                         }};
  EXPECT_EQ(CodeOf([&] { table.Open(false, false, source); }), kErrPasswordRequired);
  EXPECT_EQ(asked, 1);
  source.ask = [&] {
    known.push_back("tajne");
    return true;
  };
  table.Open(false, false, source);
  ASSERT_NE(table.FieldByName("ID"), nullptr);
  TBuffer* b = table.GetBlock(1);
  EXPECT_EQ(base::GetLE32(&b->data[26]), 0x01020304u);
  table.Unpin(b);
}

TEST_F(DataFileTest, CapacityLimitsDependOnLargeFileSupport) {
  // Slot count at the record limit.
  table.Create(OneInteger(), false);
  std::vector<uint8_t> next(4);
  base::PutLE32(next.data(), 200000001);
  Patch(29, next);
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.InsertSlot(); }), kErrTableFull);
  settings.set_large_file_support(true);
  TBuffer* b = table.InsertSlot();  // in memory only; never written
  table.Unpin(b);
  table.Close();
  settings.set_large_file_support(false);

  // File size at 4000000000 bytes with large records.
  TTableDefinition big;
  for (int i = 0; i < 127; ++i)
    big.fields.push_back(Col("S" + std::to_string(i), kTypeString, 0, 512));
  table.Create(big, false);
  uint64_t start = 512 + 768 * 127;
  uint32_t slots = uint32_t((4000000000ULL - start) / table.record_size());
  base::PutLE32(next.data(), slots + 1);
  Patch(29, next);
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.InsertSlot(); }), kErrTableFull);
  settings.set_large_file_support(true);
  table.Unpin(table.InsertSlot());
}

TEST_F(DataFileTest, VerifyFindsDamage) {
  table.Create(OneInteger(), false);
  Insert(1);
  table.WriteModified();
  table.WriteHeader();
  EXPECT_NO_THROW(table.Verify());
  Patch(512 + 768 + 32, {0});  // a partial slot
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.Verify(); }), kErrHeaderCorrupt);
  Patch(512 + 172, {24});  // null flag inside the record header
  EXPECT_EQ(CodeOf([&] { table.Open(); }), kErrHeaderCorrupt);
}

}  // namespace
}  // namespace downsql::storage
