// Files on the real file system: positioned I/O, share modes, the read-only
// attribute and its fallback, listing, and the Windows error numbers of
// failures. What differs between the systems is in file_posix_test.cc and
// file_win32_test.cc.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/os_error.h"
#include "tests/platform/temp_dir.h"

namespace downsql::platform {
namespace {

// The Windows error number of what fn raises; 0 when it raises nothing.
template <typename Fn>
uint32_t ErrorOf(Fn fn) {
  try {
    fn();
  } catch (const OsError& e) {
    return e.code();
  }
  return 0;
}

TEST(File, PositionedIoAt64BitOffsets) {
  TempDir dir;
  auto f = CreateFile(dir.File("t.dat"), Share::kExclusive);
  EXPECT_EQ(f->access(), Access::kReadWrite);
  EXPECT_EQ(f->Size(), 0u);
  EXPECT_EQ(f->WriteAt(10, "abc", 3), 3u);
  EXPECT_EQ(f->Size(), 13u);
  char buf[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(f->ReadAt(8, buf, 8), 5u);  // short at the end
  EXPECT_EQ(std::string(buf, 5), std::string("\0\0abc", 5));
  EXPECT_EQ(f->ReadAt(100, buf, 8), 0u);

  const uint64_t far = 0x100000010ull;  // beyond 4 GiB (a sparse file)
  f->WriteAt(far, "xyz", 3);
  EXPECT_EQ(f->Size(), far + 3);
  EXPECT_EQ(f->ReadAt(far + 1, buf, 2), 2u);
  EXPECT_EQ(std::string(buf, 2), "yz");

  f->Truncate(12);
  EXPECT_EQ(f->Size(), 12u);
  EXPECT_EQ(f->ReadAt(10, buf, 8), 2u);
  f->Truncate(20);
  EXPECT_EQ(f->ReadAt(12, buf, 8), 8u);
  EXPECT_EQ(std::string(buf, 8), std::string(8, '\0'));
  f->Flush();
}

TEST(File, CreateReplacesAndFailIfExists) {
  TempDir dir;
  std::string path = dir.File("t.dat");
  CreateFile(path, Share::kShared)->WriteAt(0, "old contents", 12);
  EXPECT_EQ(CreateFile(path, Share::kShared)->Size(), 0u);
  EXPECT_EQ(ErrorOf([&] { CreateFile(path, Share::kShared, true); }), kErrorFileExists);
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_TRUE(DirectoryExists(dir.path()));
  EXPECT_FALSE(DirectoryExists(path));
}

TEST(File, ShareModes) {
  TempDir dir;
  std::string path = dir.File("t.dat");
  CreateFile(path, Share::kShared)->WriteAt(0, "data", 4);
  {
    auto shared = OpenFile(path, Access::kReadWrite, Share::kShared);
    auto also = OpenFile(path, Access::kReadOnly, Share::kShared);
    EXPECT_EQ(ErrorOf([&] { OpenFile(path, Access::kReadOnly, Share::kExclusive); }),
              kErrorSharingViolation);
    EXPECT_EQ(ErrorOf([&] { CreateFile(path, Share::kShared); }), 0u)
        << "shared opens allow a shared create";
  }
  {
    auto alone = OpenFile(path, Access::kReadWrite, Share::kExclusive);
    EXPECT_EQ(ErrorOf([&] { OpenFile(path, Access::kReadOnly, Share::kShared); }),
              kErrorSharingViolation);
    EXPECT_EQ(ErrorOf([&] { OpenFile(path, Access::kReadWrite, Share::kExclusive); }),
              kErrorSharingViolation);
    // A refused create must not empty the file that is open.
    alone->WriteAt(0, "data", 4);
    EXPECT_EQ(ErrorOf([&] { CreateFile(path, Share::kExclusive); }), kErrorSharingViolation);
    EXPECT_EQ(alone->Size(), 4u);
    EXPECT_EQ(ErrorOf([&] { DeleteFile(path); }), kErrorSharingViolation);
    EXPECT_EQ(ErrorOf([&] { RenameFile(path, dir.File("u.dat")); }), kErrorSharingViolation);
  }
  EXPECT_EQ(ErrorOf([&] { OpenFile(path, Access::kReadWrite, Share::kExclusive); }), 0u);
}

TEST(File, ReadOnlyAttributeAndFallback) {
  TempDir dir;
  std::string path = dir.File("t.dat");
  CreateFile(path, Share::kShared)->WriteAt(0, "data", 4);
  EXPECT_FALSE(IsReadOnly(path));
  SetReadOnly(path, true);
  EXPECT_TRUE(IsReadOnly(path));

  EXPECT_EQ(ErrorOf([&] { OpenFile(path, Access::kReadWrite, Share::kShared); }),
            kErrorAccessDenied);
  EXPECT_EQ(ErrorOf([&] { CreateFile(path, Share::kShared); }), kErrorAccessDenied);
  EXPECT_EQ(ErrorOf([&] { DeleteFile(path); }), kErrorAccessDenied);
  auto f = OpenFileOrReadOnly(path, Share::kShared);
  EXPECT_EQ(f->access(), Access::kReadOnly);
  char buf[4];
  EXPECT_EQ(f->ReadAt(0, buf, 4), 4u);
  EXPECT_EQ(ErrorOf([&] { f->WriteAt(0, "x", 1); }), kErrorAccessDenied);
  EXPECT_EQ(ErrorOf([&] { f->Truncate(0); }), kErrorAccessDenied);
  EXPECT_EQ(f->Size(), 4u);
  f.reset();

  SetReadOnly(path, false);
  EXPECT_FALSE(IsReadOnly(path));
  EXPECT_EQ(OpenFileOrReadOnly(path, Share::kShared)->access(), Access::kReadWrite);
  // Other failures are not hidden by the fallback.
  EXPECT_EQ(ErrorOf([&] { OpenFileOrReadOnly(dir.File("none.dat"), Share::kShared); }),
            kErrorFileNotFound);
}

TEST(File, ErrorNumbersOfRealFailures) {
  TempDir dir;
  std::string file = dir.File("t.dat");
  CreateFile(file, Share::kShared);
  struct Case {
    const char* what;
    std::function<void()> call;
    uint32_t code;
  } cases[] = {
      {"open missing file",
       [&] { OpenFile(dir.File("no.dat"), Access::kReadOnly, Share::kShared); },
       kErrorFileNotFound},
      {"open in missing directory",
       [&] { OpenFile(dir.File("no\\t.dat"), Access::kReadOnly, Share::kShared); },
       kErrorPathNotFound},
      {"create in missing directory", [&] { CreateFile(dir.File("no\\t.dat"), Share::kShared); },
       kErrorPathNotFound},
      {"open a directory", [&] { OpenFile(dir.path(), Access::kReadOnly, Share::kShared); },
       kErrorAccessDenied},
      {"path through a file", [&] { OpenFile(file + "\\x", Access::kReadOnly, Share::kShared); },
       kErrorPathNotFound},
      {"delete missing file", [&] { DeleteFile(dir.File("no.dat")); }, kErrorFileNotFound},
      {"create existing directory", [&] { CreateDirectory(dir.path()); }, kErrorAlreadyExists},
      {"rename onto existing file",
       [&] {
         CreateFile(dir.File("u.dat"), Share::kShared);
         RenameFile(file, dir.File("u.dat"));
       },
       kErrorAlreadyExists},
      {"rename missing file", [&] { RenameFile(dir.File("no.dat"), dir.File("v.dat")); },
       kErrorFileNotFound},
      {"name too long", [&] { CreateFile(dir.File(std::string(300, 'n')), Share::kShared); },
       kErrorFilenameTooLong},
      {"list missing directory", [&] { ListFiles(dir.File("no"), ".dat"); }, kErrorPathNotFound},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.call), c.code) << c.what;
  EXPECT_TRUE(FileExists(file)) << "a refused rename keeps both files";

  RenameFile(file, dir.File("w.dat"));
  EXPECT_FALSE(FileExists(file));
  EXPECT_TRUE(FileExists(dir.File("w.dat")));
  DeleteFile(dir.File("w.dat"));
  EXPECT_FALSE(FileExists(dir.File("w.dat")));
}

TEST(File, ListFilesByExtensionInListingOrder) {
  TempDir dir;
  for (const char* name : {"LOTTO.dat", "keno.DAT", "keno.idx", "x.dat.bak", "dat", "a.Dat"}) {
    CreateFile(dir.File(name), Share::kShared);
  }
  CreateDirectory(dir.File("sub.dat"));
  std::vector<std::string> expected;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    std::string name = e.path().filename().string();
    if (e.is_regular_file() && name.size() > 4 &&
        (name.ends_with(".dat") || name.ends_with(".DAT") || name.ends_with(".Dat")))
      expected.push_back(name);
  }
  std::vector<std::string> got = ListFiles(dir.path() + "\\", ".dat");
  EXPECT_EQ(got, expected);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"LOTTO.dat", "a.Dat", "keno.DAT"}));
}

}  // namespace
}  // namespace downsql::platform
