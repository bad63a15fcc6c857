#include "db/storage/engine_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "db/storage/engine_error.h"
#include "db/storage/memory_file.h"
#include "tests/platform/temp_dir.h"
#include "tests/storage/storage_test_util.h"

namespace downsql::storage {
namespace {

using testing::CodeOf;

TEST(EngineFile, OsErrorNumbersMapOntoEngineCodes) {
  struct Case {
    uint32_t os, engine;
  } cases[] = {{2, kErrFileNotFound},    {3, kErrFileNotFound},        {4, kErrTooManyOpenFiles},
               {5, kErrAccessDenied},    {32, kErrAccessDenied},       {65, kErrAccessDenied},
               {183, kErrAccessDenied},  {6, kErrInvalidFileHandle},   {8, kErrOutOfMemory},
               {14, kErrOutOfMemory},    {15, kErrDeviceAccessDenied}, {17, kErrFileMoved},
               {39, kErrUnknownOsError}, {112, kErrUnknownOsError}};
  for (const Case& c : cases) EXPECT_EQ(EngineCodeForOsError(c.os), c.engine) << c.os;
  TEngineFile f("MemT1.dat", true);
  try {
    f.RaiseOsError(platform::OsError(112, "x", "disk full"));
  } catch (const ETabulaEngineError& e) {
    EXPECT_EQ(e.text(),
              "An unknown operating system error 112 occurred with the table or backup file "
              "'MemT1.dat'");
  }
}

TEST(EngineFile, MemoryFileReadsWritesAcrossChunks) {
  TEngineFile f("MemT2.dat", true);
  EXPECT_FALSE(f.Exists());
  EXPECT_EQ(CodeOf([&] { f.Open(); }), kErrFileNotFound);
  f.Create();
  EXPECT_TRUE(f.Exists());
  std::vector<uint8_t> data(100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  uint64_t at = TMemoryFile::kChunkSize - 50;  // straddles the first chunk boundary
  f.Write(at, data.data(), data.size());
  EXPECT_EQ(f.Size(), at + 100);
  std::vector<uint8_t> back(100);
  f.Read(at, back.data(), back.size());
  EXPECT_EQ(back, data);
  uint8_t zero[4] = {1, 1, 1, 1};
  f.Read(0, zero, 4);  // the gap before the write reads as zeros
  EXPECT_EQ(zero[0] | zero[1] | zero[2] | zero[3], 0);
  EXPECT_EQ(CodeOf([&] { f.Read(at + 90, back.data(), 20); }), kErrReadFailed);
  f.Truncate(0);
  EXPECT_EQ(f.Size(), 0u);
  f.Close();
  f.Delete();
  EXPECT_FALSE(f.Exists());
}

TEST(EngineFile, SharedObjectGivesEachHandleItsFileAndRefusesDeleteWhileOpen) {
  TEngineFile a("MemT3.dat", true), b("memt3.DAT", true);
  a.Create(false);
  b.Open();
  a.Write(0, "abcd", 4);
  char got[4];
  b.Read(0, got, 4);
  EXPECT_EQ(std::string(got, 4), "abcd");
  TEngineFile c("MemT3.dat", true);
  EXPECT_EQ(CodeOf([&] { c.Delete(); }), kErrAccessDenied);
  EXPECT_EQ(CodeOf([&] { c.Open(false, true); }), kErrAccessDenied);  // exclusive while shared
  a.Close();
  b.Close();
  a.Rename("MemT3b.dat");
  EXPECT_FALSE(TEngineFile("MemT3.dat", true).Exists());
  a.Open();
  a.Read(0, got, 4);
  EXPECT_EQ(std::string(got, 4), "abcd");
  a.Close();
  a.Delete();
}

TEST(BaseFile, HandlesKeepTheirOwnPositionsAndAnEmptyWriteTruncates) {
  auto file = AcquireBaseFile("MemBase.dat", true);
  EXPECT_EQ(AcquireBaseFile("membase.DAT", true), file);
  TBaseFile::Handle h1 = file->Create(platform::Share::kShared);
  TBaseFile::Handle h2 = file->Open(platform::Access::kReadOnly, platform::Share::kShared);
  EXPECT_NE(h1, h2);
  file->Write(h1, "abcdef", 6);
  file->Seek(h2, 2, TBaseFile::kFromStart);
  char got[8] = {};
  EXPECT_EQ(file->Read(h2, got, 2), 2u);
  EXPECT_EQ(std::string(got, 2), "cd");
  EXPECT_EQ(file->Position(h2), 4u);
  EXPECT_EQ(file->Position(h1), 6u);
  EXPECT_EQ(file->Read(h2, got, 8), 2u);  // at most size - position
  file->Seek(h1, -3, TBaseFile::kFromEnd);
  file->Write(h1, nullptr, 0);
  EXPECT_EQ(file->Size(), 3u);
  EXPECT_THROW(file->Write(h2, "x", 1), platform::OsError);
  file->Close(h1);
  file->Close(h2);
  DeleteBaseFile("MemBase.dat", true);
  EXPECT_FALSE(BaseFileExists("MemBase.dat", true));
}

TEST(EngineFile, ByteRangeLocksExcludeOverlapsAndReleaseOnClose) {
  TEngineFile a("MemLock.lck", true), b("MemLock.lck", true);
  a.Create(false);
  b.Open();
  const uint64_t far = uint64_t(1) << 40;
  EXPECT_TRUE(a.Lock(far, 10));
  EXPECT_FALSE(b.Lock(far + 9, 1));
  EXPECT_FALSE(a.Lock(far, 1));  // the same file may not lock twice either
  EXPECT_TRUE(b.Lock(far + 10, 1));
  EXPECT_FALSE(b.Unlock(far, 10));  // not b's lock
  EXPECT_TRUE(a.Unlock(far, 10));
  EXPECT_FALSE(a.Unlock(far, 10));
  EXPECT_TRUE(a.Lock(far, 5));
  a.Close();
  EXPECT_TRUE(b.Lock(far, 5));
  b.Close();
  b.Delete();
}

TEST(EngineFile, DiskFileWithReadOnlyAttributeOpensReadOnly) {
  platform::TempDir dir;
  std::string path = dir.File("GRY.dat");
  {
    TEngineFile f(path, false);
    EXPECT_EQ(CodeOf([&] { f.Open(); }), kErrFileNotFound);
    f.Create();
    f.Write(0, "abcdef", 6);
    char got[6];
    f.Read(0, got, 6);
    EXPECT_EQ(std::string(got, 6), "abcdef");
    EXPECT_EQ(CodeOf([&] { f.Read(4, got, 6); }), kErrReadFailed);
  }
  platform::SetReadOnly(path, true);
  TEngineFile f(path, false);
  f.Open();
  EXPECT_TRUE(f.read_only());
  EXPECT_EQ(CodeOf([&] { f.Write(0, "x", 1); }), kErrAccessDenied);
  // A second engine file of the same path shares the object and its locks.
  TEngineFile g(dir.path() + "/GRY.dat", false);
  g.Open();
  EXPECT_TRUE(f.Lock(1000, 1));
  EXPECT_FALSE(g.Lock(1000, 1));
  f.Close();
  EXPECT_TRUE(g.Lock(1000, 1));
  g.Close();
  platform::SetReadOnly(path, false);
}

}  // namespace
}  // namespace downsql::storage
