#include "db/storage/buffered_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/storage/engine_error.h"
#include "tests/storage/storage_test_util.h"

namespace downsql::storage {
namespace {

using testing::CodeOf;

// A pool over a memory file of 8-byte blocks after a 16-byte header; block
// m's bytes on disk are all m.
class TestPool : public TBufferedFile {
 public:
  TestPool(Kind kind, const std::string& name, uint32_t blocks_on_disk)
      : TBufferedFile(kind, "T", name, true), count_(blocks_on_disk) {
    file().Create();
    std::vector<uint8_t> bytes(16 + 8 * blocks_on_disk, 0);
    for (uint32_t m = 1; m <= blocks_on_disk; ++m)
      std::fill(bytes.begin() + 16 + 8 * (m - 1), bytes.begin() + 16 + 8 * m, uint8_t(m));
    file().Write(0, bytes.data(), bytes.size());
    SetGeometry(16, 8);
  }
  ~TestPool() override {
    file().Close();
    file().Delete();
  }
  uint32_t block_count() const override { return count_; }
  uint8_t OnDisk(uint32_t m) {
    uint8_t b = 0;
    file().Read(BlockOffset(m), &b, 1);
    return b;
  }
  int written_notices = 0;

 protected:
  void AddBlock() override { ++count_; }
  void OnBlocksWritten() override { ++written_notices; }

 private:
  uint32_t count_;
};

TEST(BufferedFile, BlockZeroIsTheKindsCorruptError) {
  struct Case {
    TBufferedFile::Kind kind;
    uint32_t code;
  } cases[] = {{TBufferedFile::kDataKind, kErrRecordBuffersCorrupt},
               {TBufferedFile::kIndexKind, kErrIndexPageCorrupt},
               {TBufferedFile::kBlobKind, kErrBlobBuffersCorrupt}};
  for (const Case& c : cases) {
    TestPool pool(c.kind, "MemPool0.x", 2);
    EXPECT_EQ(CodeOf([&] { pool.GetBlock(0); }), c.code);
    EXPECT_EQ(CodeOf([&] { pool.GetBlock(4); }), c.code);  // beyond count + 1
  }
}

TEST(BufferedFile, CountLimitOneEvictsOnEveryReadWritingModifiedFirst) {
  TestPool pool(TBufferedFile::kDataKind, "MemPool1.x", 3);
  pool.SetBufferLimits(1 << 20, 1);
  TBuffer* b1 = pool.GetBlock(1);
  EXPECT_EQ(b1->data[0], 1);
  b1->data[0] = 0xAA;
  pool.MarkModified(b1);
  pool.Unpin(b1);
  TBuffer* b2 = pool.GetBlock(2);
  EXPECT_EQ(b2->data[0], 2);
  EXPECT_EQ(pool.buffer_count(), 1u);
  EXPECT_EQ(pool.OnDisk(1), 0xAA);
  EXPECT_EQ(pool.writes(), 1u);
  pool.Unpin(b2);
  TBuffer* again = pool.GetBlock(1);
  EXPECT_EQ(again->data[0], 0xAA);
  pool.Unpin(again);
}

TEST(BufferedFile, UnderTransactionAFullPoolGrowsInsteadOfWriting) {
  TestPool pool(TBufferedFile::kDataKind, "MemPool2.x", 3);
  pool.SetBufferLimits(1 << 20, 1);
  pool.set_transaction_active(true);
  TBuffer* b1 = pool.GetBlock(1);
  b1->data[0] = 0xAA;
  pool.MarkModified(b1);
  pool.Unpin(b1);
  TBuffer* b2 = pool.GetBlock(2);
  pool.Unpin(b2);
  EXPECT_EQ(pool.writes(), 0u);
  EXPECT_EQ(pool.OnDisk(1), 1);
  EXPECT_EQ(pool.capacity(), 65u);
  EXPECT_EQ(pool.buffer_count(), 3u);  // 1 (modified), 2 and its read-ahead 3
  // Rollback throws the change away and the pool returns to its capacity.
  pool.Discard();
  EXPECT_EQ(pool.capacity(), 1u);
  TBuffer* fresh = pool.GetBlock(1);
  EXPECT_EQ(fresh->data[0], 1);
  pool.Unpin(fresh);
}

TEST(BufferedFile, ReadAheadInAGrownPoolStaysAtHalfTheLimitsCapacity) {
  TestPool pool(TBufferedFile::kDataKind, "MemPool5.x", 100);
  pool.SetBufferLimits(1 << 20, 4);  // read-ahead 2
  pool.set_transaction_active(true);
  for (uint32_t m = 1; m <= 10; ++m) {
    TBuffer* b = pool.GetBlock(m);
    pool.MarkModified(b);
    pool.Unpin(b);
  }
  EXPECT_GT(pool.capacity(), 10u);
  const size_t before = pool.buffer_count();
  pool.Unpin(pool.GetBlock(50));  // 50..52, not half of the grown pool
  EXPECT_EQ(pool.buffer_count(), before + 3);
}

TEST(BufferedFile, ReadAheadKeepsWhatItReadWhenATransactionFillsThePool) {
  // A transaction changing every block in order: the pool is full of
  // modified buffers, and each miss grows it by less than the read-ahead.
  // The read-ahead must not push out the blocks it has just read, or every
  // step reads again.
  constexpr uint32_t kBlocks = 400;
  TestPool pool(TBufferedFile::kDataKind, "MemPool6.x", kBlocks);
  pool.SetBufferLimits(1 << 20, 200);  // read-ahead 100, growth 64
  pool.set_transaction_active(true);
  for (uint32_t m = 1; m <= kBlocks; ++m) {
    TBuffer* b = pool.GetBlock(m);
    ASSERT_EQ(b->data[0], uint8_t(m));
    pool.MarkModified(b);
    pool.Unpin(b);
  }
  EXPECT_LT(kBlocks - pool.hits(), 10u);  // about one read per growth step
}

TEST(BufferedFile, ModifiedRunsAreWrittenWithOneWriteEach) {
  TestPool pool(TBufferedFile::kIndexKind, "MemPool3.x", 6);
  for (uint32_t m : {1u, 2u, 3u, 5u, 7u, 8u}) {  // 7 and 8 are appended
    TBuffer* b = pool.GetBlock(m);
    b->data[0] = uint8_t(0x10 + m);
    pool.MarkModified(b);
    pool.Unpin(b);
  }
  EXPECT_EQ(pool.block_count(), 8u);
  TBuffer* pinned = pool.GetBlock(2);  // pinned buffers wait
  EXPECT_TRUE(pool.WriteModified());
  EXPECT_EQ(pool.writes(), 4u);  // 1, 3, 5, 7-8
  EXPECT_EQ(pool.OnDisk(2), 2);
  EXPECT_EQ(pool.OnDisk(8), 0x18);
  EXPECT_EQ(pool.written_notices, 1);
  pool.Unpin(pinned);
  EXPECT_TRUE(pool.WriteModified());
  EXPECT_EQ(pool.OnDisk(2), 0x12);
  EXPECT_FALSE(pool.WriteModified());
}

TEST(BufferedFile, ReadAheadFollowsTheDirectionAndRefreshesCleanNeighbours) {
  TestPool pool(TBufferedFile::kDataKind, "MemPool4.x", 40);
  pool.SetBufferLimits(1 << 20, 32);  // read-ahead 16
  pool.Unpin(pool.GetBlock(10));      // forward: 10..26
  EXPECT_EQ(pool.buffer_count(), 17u);
  TBuffer* b12 = pool.GetBlock(12);
  b12->data[0] = 0x77;
  pool.MarkModified(b12);
  pool.Unpin(b12);
  const uint8_t other[8] = {0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99};
  pool.file().Write(pool.BlockOffset(12), other, 8);  // another writer
  pool.file().Write(pool.BlockOffset(13), other, 8);
  pool.Unpin(pool.GetBlock(30));  // forward, stops at the end: 30..40
  EXPECT_EQ(pool.buffer_count(), 28u);
  pool.Unpin(pool.GetBlock(28));  // backward: 12..28, only 27 and 28 new
  EXPECT_EQ(pool.buffer_count(), 30u);
  uint64_t hits = pool.hits();
  TBuffer* b13 = pool.GetBlock(13);
  EXPECT_EQ(b13->data[0], 0x99);  // refreshed
  pool.Unpin(b13);
  b12 = pool.GetBlock(12);
  EXPECT_EQ(b12->data[0], 0x77);  // modified: left alone
  pool.Unpin(b12);
  EXPECT_EQ(pool.hits(), hits + 2);
}

TEST(BufferedFile, AGrownPoolShrinksAfterWritingAndKeepsPinnedAndNewBuffersSound) {
  TestPool pool(TBufferedFile::kDataKind, "MemPool6.x", 0);
  pool.SetBufferLimits(1 << 20, 16);
  auto append = [&](uint32_t first, uint32_t last) {
    for (uint32_t m = first; m <= last; ++m) {
      TBuffer* b = pool.GetBlock(m);
      std::fill(b->data.begin(), b->data.end(), uint8_t(m * 7));
      pool.Unpin(b);
    }
  };
  auto expect_blocks = [&](uint32_t first, uint32_t last) {
    for (uint32_t m = first; m <= last; ++m) {
      TBuffer* b = pool.GetBlock(m);
      ASSERT_EQ(b->data[0], uint8_t(m * 7)) << m;
      ASSERT_EQ(b->data[7], uint8_t(m * 7)) << m;
      pool.Unpin(b);
    }
  };
  // A transaction appends blocks over many allocations of buffers; one old
  // block stays pinned through the write that shrinks the pool.
  pool.set_transaction_active(true);
  append(1, 3000);
  TBuffer* held = pool.GetBlock(5);
  pool.set_transaction_active(false);
  EXPECT_TRUE(pool.WriteModified());
  EXPECT_EQ(pool.capacity(), 16u);
  EXPECT_LE(pool.buffer_count(), 16u);
  EXPECT_EQ(pool.OnDisk(2999), uint8_t(2999 * 7));
  held->data[1] = 0x5A;  // the pinned buffer is still the pool's
  pool.MarkModified(held);
  pool.Unpin(held);
  // The buffers left over are taken again: a second transaction, then a
  // rollback, then reads of everything.
  pool.set_transaction_active(true);
  append(3001, 3100);
  pool.set_transaction_active(false);
  EXPECT_TRUE(pool.WriteModified());
  EXPECT_EQ(pool.OnDisk(5), uint8_t(5 * 7));
  expect_blocks(1, 3100);
  TBuffer* b5 = pool.GetBlock(5);
  EXPECT_EQ(b5->data[1], 0x5A);
  pool.Unpin(b5);
  pool.set_transaction_active(true);
  append(3101, 3200);
  pool.Discard();
  pool.set_transaction_active(false);
  expect_blocks(1, 3100);
}

// Blocks a transaction appends stay out of the pool, go out in block order
// with the pool's own, encoded like every block, and a block pinned through
// the write keeps its bytes and is written once it is let go.
TEST(BufferedFile, AppendedBlocksOfATransactionAreWrittenInOrderAndEncoded) {
  // Blocks on disk are the buffer bytes with every bit flipped.
  class FlippingPool : public TestPool {
   public:
    using TestPool::TestPool;

   protected:
    void EncodeBlock(const TBuffer& buffer, uint8_t* out) const override {
      for (size_t i = 0; i < buffer.data.size(); ++i) out[i] = uint8_t(~buffer.data[i]);
    }
    void DecodeBlock(const uint8_t* in, TBuffer& buffer) const override {
      for (size_t i = 0; i < buffer.data.size(); ++i) buffer.data[i] = uint8_t(~in[i]);
    }
    void DecodeInPlace(uint8_t* bytes) const override {
      for (size_t i = 0; i < 8; ++i) bytes[i] = uint8_t(~bytes[i]);
    }
    bool EncodesBlocks() const override { return true; }
    void EncodeInPlace(uint8_t* bytes) const override { DecodeInPlace(bytes); }
  };
  FlippingPool pool(TBufferedFile::kDataKind, "MemPool7.x", 3);
  pool.SetBufferLimits(1 << 20, 4);
  auto put = [&](uint32_t m, uint8_t value) {
    TBuffer* b = pool.GetBlock(m);
    std::fill(b->data.begin(), b->data.end(), value);
    pool.MarkModified(b);
    pool.Unpin(b);
  };
  auto read = [&](uint32_t m) {
    TBuffer* b = pool.GetBlock(m);
    uint8_t value = b->data[7];
    pool.Unpin(b);
    return value;
  };
  pool.set_transaction_active(true);
  put(3, 0x33);
  for (uint32_t m = 4; m <= 2003; ++m) put(m, uint8_t(m));
  EXPECT_LE(pool.buffer_count(), 4u);  // the appended blocks are not buffers
  EXPECT_EQ(read(1000), uint8_t(1000));
  EXPECT_EQ(pool.PeekBlock(2003)[0], uint8_t(2003));
  TBuffer* held = pool.GetBlock(1500);
  EXPECT_EQ(pool.GetBlock(1500), held);  // one buffer per block, pinned twice
  pool.Unpin(held);
  pool.set_transaction_active(false);
  put(2004, 0x44);  // appended by the pool after the transaction's blocks
  using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;
  EXPECT_EQ(pool.ModifiedRanges(),
            (Ranges{{pool.BlockOffset(3), 1497 * 8}, {pool.BlockOffset(1501), 504 * 8}}));
  EXPECT_TRUE(pool.WriteModified());
  for (uint32_t m : {3u, 4u, 1499u, 1501u, 2003u})
    EXPECT_EQ(pool.OnDisk(m), uint8_t(~(m == 3 ? 0x33 : m))) << m;
  EXPECT_EQ(pool.OnDisk(2004), uint8_t(~0x44));
  EXPECT_EQ(pool.OnDisk(1500), 0);  // pinned: not yet
  EXPECT_EQ(pool.GetBlock(1500), held);
  pool.Unpin(held);
  held->data[2] = 0x5A;
  pool.MarkModified(held);
  pool.Unpin(held);
  EXPECT_EQ(pool.ModifiedRanges(), (Ranges{{pool.BlockOffset(1500), 8}}));
  EXPECT_TRUE(pool.WriteModified());
  EXPECT_EQ(pool.OnDisk(1500), uint8_t(~uint8_t(1500)));
  EXPECT_EQ(read(1500), uint8_t(1500));
  EXPECT_FALSE(pool.HasModified());
  // A rolled back transaction leaves nothing of its appended blocks.
  pool.set_transaction_active(true);
  for (uint32_t m = 2005; m <= 2100; ++m) put(m, 0x77);
  EXPECT_TRUE(pool.HasModified());
  pool.Discard();
  pool.set_transaction_active(false);
  EXPECT_FALSE(pool.HasModified());
  EXPECT_FALSE(pool.WriteModified());
}

}  // namespace
}  // namespace downsql::storage
