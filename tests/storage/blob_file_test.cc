// The BLOB file: block chains byte for byte, reuse of freed blocks,
// compression, damaged chains, header checks and encryption.
#include "db/storage/blob_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/compress.h"
#include "db/storage/blob_buffer.h"
#include "db/storage/engine_error.h"
#include "tests/storage/storage_test_util.h"

namespace downsql::storage {
namespace {

using testing::CodeOf;

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kB = 64;  // smallest block size: 46 data bytes per block

Bytes Pattern(size_t n, uint8_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

class BlobFileTest : public ::testing::Test {
 protected:
  BlobFileTest() { file.Create(kB); }
  ~BlobFileTest() override {
    file.Close();
    file.file().Delete();
  }
  // Block n as stored (after a flush).
  Bytes Stored(uint32_t n) {
    Bytes b(kB);
    file.file().Read(512 + (n - 1) * kB, b.data(), kB);
    return b;
  }
  void Patch(uint32_t n, uint32_t offset, uint32_t value) {
    Bytes b = Stored(n);
    base::PutLE32(&b[offset], value);
    file.file().Write(512 + (n - 1) * kB, b.data(), b.size());
    file.Discard();
  }
  Bytes ReadBack(uint32_t first, uint32_t version, uint8_t compression = 0) {
    Bytes out;
    EXPECT_TRUE(file.Read(first, version, compression, &out));
    return out;
  }
  EngineSettings settings;
  TBlobFile file{"T", "memory\\blob_file_test.blb", true, settings};
};

TEST_F(BlobFileTest, NewFileIsItsHeader) {
  EXPECT_EQ(file.file().Size(), 512u);
  Bytes header(512);
  file.file().Read(0, header.data(), header.size());
  EXPECT_EQ(header[8], 6);
  EXPECT_EQ(Bytes(header.begin() + 9, header.begin() + 25),
            Bytes(settings.signature_digest().begin(), settings.signature_digest().end()));
  EXPECT_EQ(base::GetLE32(&header[25]), 0u);
  EXPECT_EQ(base::GetLE32(&header[29]), 1u);
}

TEST_F(BlobFileTest, ValueOfOneBlockAndOneByteMore) {
  const Bytes fits = Pattern(kB - 18);
  ASSERT_EQ(file.Write(0, fits.data(), fits.size(), 7, 0), 1u);
  EXPECT_EQ(file.next_block(), 2u) << "B - 18 bytes take one block";

  const Bytes over = Pattern(kB - 17, 9);
  ASSERT_EQ(file.Write(0, over.data(), over.size(), 8, 0), 2u);
  EXPECT_EQ(file.next_block(), 4u) << "one byte more takes two";
  file.Flush();

  Bytes first = Stored(2), second = Stored(3);
  EXPECT_EQ(base::GetLE32(&first[0]), 0u);  // prev
  EXPECT_EQ(base::GetLE32(&first[4]), 3u);  // next
  EXPECT_EQ(base::GetLE16(&first[8]), kB - 18);
  EXPECT_EQ(base::GetLE32(&first[10]), 8u);  // version
  EXPECT_EQ(base::GetLE32(&first[14]), kB - 17);
  EXPECT_EQ(base::GetLE32(&second[0]), 2u);
  EXPECT_EQ(base::GetLE32(&second[4]), 0u);
  EXPECT_EQ(base::GetLE16(&second[8]), 1u);
  EXPECT_EQ(base::GetLE32(&second[10]), 8u);
  EXPECT_EQ(base::GetLE32(&second[14]), 0u) << "total only in the first block";
  EXPECT_EQ(second[18], over.back());

  EXPECT_EQ(ReadBack(1, 7), fits);
  EXPECT_EQ(ReadBack(2, 8), over);
  Bytes out;
  EXPECT_FALSE(file.Read(2, 9, 0, &out)) << "another version: the record is stale";
}

TEST_F(BlobFileTest, ShrinkingFreesTheTailAndTheNextValueReusesIt) {
  const Bytes three = Pattern(3 * (kB - 18));
  const uint32_t first = file.Write(0, three.data(), three.size(), 1, 0);
  ASSERT_EQ(file.next_block(), 4u);
  const Bytes one = Pattern(10, 3);
  ASSERT_EQ(file.Write(first, one.data(), one.size(), 2, 0), first) << "keeps its first block";
  EXPECT_EQ(file.free_head(), 3u) << "freed in chain order, newest first";
  file.Flush();
  EXPECT_EQ(base::GetLE32(&Stored(3)[4]), 2u);
  EXPECT_EQ(base::GetLE32(&Stored(2)[4]), 0u);
  EXPECT_EQ(base::GetLE32(&Stored(1)[4]), 0u) << "chain cut after the last used block";
  EXPECT_EQ(ReadBack(first, 2), one);

  const Bytes two = Pattern(2 * (kB - 18), 5);
  const uint32_t reused = file.Write(0, two.data(), two.size(), 3, 0);
  EXPECT_EQ(reused, 3u);
  EXPECT_EQ(file.free_head(), 0u);
  EXPECT_EQ(file.next_block(), 4u) << "no block added";
  EXPECT_EQ(ReadBack(reused, 3), two);

  file.Free(reused, 4);
  EXPECT_EQ(file.free_head(), 2u);
  EXPECT_EQ(file.Write(first, nullptr, 0, 5, 0), 0u) << "an empty value has no block";
  EXPECT_EQ(file.free_head(), 1u);
}

TEST_F(BlobFileTest, CompressedMemoReadsBackWithTheCompressedSizeStored) {
  std::string memo;
  for (int i = 0; i < 200; ++i)
    memo += "Losowanie nr " + std::to_string(i) +
            " zako\xF1"
            "czone.\r\n";
  TBlobBuffer buffer(file, 6);
  buffer.Assign(reinterpret_cast<const uint8_t*>(memo.data()), memo.size());
  buffer.Store(11);
  file.Flush();
  const uint32_t stored_total = base::GetLE32(&Stored(buffer.first_block())[14]);
  EXPECT_LT(stored_total, memo.size() / 2);
  EXPECT_EQ(stored_total, base::Compress(memo.data(), memo.size(), 6).size());

  file.Close();
  file.Open(kB);
  TBlobBuffer again(file, 6, buffer.first_block(), buffer.version());
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(std::string(again.value().begin(), again.value().end()), memo);
}

TEST_F(BlobFileTest, DamagedChainsAreReported) {
  const Bytes value = Pattern(3 * (kB - 18));
  ASSERT_EQ(file.Write(0, value.data(), value.size(), 1, 0), 1u);
  file.Flush();
  struct Case {
    const char* what;
    uint32_t block, offset, value;
    uint8_t compression;
    uint32_t code;
  };
  const Case cases[] = {
      {"next link beyond the file", 2, 4, 9, 0, kErrBlobBuffersCorrupt},
      {"negative next link", 2, 4, 0xFFFFFFFF, 0, kErrBlobBuffersCorrupt},
      {"chain loops", 2, 4, 1, 0, kErrBlobBuffersCorrupt},
      {"chain ends early", 2, 4, 0, 0, kErrEndOfBlob},
      {"used length above B - 18", 2, 8, kB - 17, 0, kErrInvalidBlobLength},
      {"not a zlib stream", 2, 4, 3, 6, kErrUncompress},
      {"stored length beyond the chain", 1, 14, 0xFFFFFFF0, 0, kErrEndOfBlob},
  };
  for (const Case& c : cases) {
    const Bytes good = Stored(c.block);
    Patch(c.block, c.offset, c.value);
    Bytes out;
    EXPECT_EQ(CodeOf([&] { file.Read(1, 1, c.compression, &out); }), c.code) << c.what;
    file.file().Write(512 + (c.block - 1) * kB, good.data(), good.size());
    file.Discard();
  }
  Patch(2, 4, 1);
  EXPECT_EQ(CodeOf([&] { file.Write(1, value.data(), value.size(), 2, 0); }),
            kErrBlobBuffersCorrupt)
      << "rewriting over a looping chain";
}

TEST_F(BlobFileTest, OpeningChecksTheHeader) {
  struct Case {
    uint32_t offset;
    uint8_t value;
    uint32_t code;
  };
  for (const Case& c :
       {Case{8, 5, kErrWrongVersion}, Case{8, 7, kErrInvalidFile}, Case{9, 0, kErrInvalidFile}}) {
    file.Create(kB);
    Bytes header(512);
    file.file().Read(0, header.data(), header.size());
    header[c.offset] = c.value == 0 ? uint8_t(header[c.offset] ^ 0xFF) : c.value;
    file.file().Write(0, header.data(), header.size());
    file.Close();
    EXPECT_EQ(CodeOf([&] { file.Open(kB); }), c.code) << "offset " << c.offset;
  }
  file.Create(kB);
}

TEST_F(BlobFileTest, EncryptedHeaderAndBlocks) {
  const base::Md5Digest key = base::Md5("secret");
  base::BlowfishCbc cipher(key.data(), key.size());
  file.set_cipher(&cipher);
  file.Create(kB);
  const Bytes value = Pattern(100);
  const uint32_t first = file.Write(0, value.data(), value.size(), 3, 0);
  file.Flush();
  Bytes header(512);
  file.file().Read(0, header.data(), header.size());
  EXPECT_NE(header[8], 6);
  EXPECT_NE(base::GetLE32(&Stored(first)[14]), 100u);
  file.Close();
  file.Open(kB);
  EXPECT_EQ(ReadBack(first, 3), value);
}

}  // namespace
}  // namespace downsql::storage
