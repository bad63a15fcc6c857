// Files, directories and byte-range locks.
//
// Engine paths use "\" as separator; every function here accepts both "\"
// and "/" and the POSIX implementation turns "\" into "/" at the system call.
// All failures raise OsError with a Windows error number.
//
// Byte-range locks follow the Windows rules the table engine was built for:
// a lock is exclusive, it conflicts with every overlapping lock held through
// any other File object (in this process or another) and with an overlapping
// lock already held through the same File object, a refused lock is an
// immediate "no" (callers retry), offsets are 64-bit and may lie far beyond
// the end of the file, and closing a File releases exactly the locks taken
// through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace downsql::platform {

enum class Access { kReadOnly, kReadWrite };

// kExclusive: no other open of the file may exist (others get error 32).
// kShared: other shared opens, reading and writing, are allowed.
enum class Share { kExclusive, kShared };

// An open file. Code above this layer holds Files through the interface, so
// tests can hand it a wrapper instead (see FileOpener).
class File {
 public:
  virtual ~File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Reads up to n bytes at offset; returns the count read (short at the end
  // of the file, 0 beyond it).
  virtual size_t ReadAt(uint64_t offset, void* data, size_t n) = 0;
  // Writes n bytes at offset, extending the file as needed; returns n.
  virtual size_t WriteAt(uint64_t offset, const void* data, size_t n) = 0;
  virtual uint64_t Size() = 0;
  // Sets the end of the file (shrinks or extends with zeros).
  virtual void Truncate(uint64_t size) = 0;
  // Flushes written data to the storage device, with what is needed to read
  // it back (the size), so that it survives a power cut. Files opened
  // read-only have nothing to flush.
  virtual void Flush() = 0;

  // Takes an exclusive lock on [offset, offset + length); false when any
  // overlapping lock is held (see the file comment). length > 0 and
  // offset + length <= 2^63 - 1.
  virtual bool TryLock(uint64_t offset, uint64_t length) = 0;
  // Releases a lock taken through this File with exactly these bounds; false
  // when no such lock is held.
  virtual bool Unlock(uint64_t offset, uint64_t length) = 0;
  // Releases several locks taken through this File, each given with its
  // exact bounds (offset, length); false when one of them was not held (the
  // others are released all the same). Systems that release a run of
  // adjacent locks with one call do so.
  virtual bool UnlockAll(const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
    bool all = true;
    for (const auto& [offset, length] : ranges) all = Unlock(offset, length) && all;
    return all;
  }

  Access access() const { return access_; }
  const std::string& path() const { return path_; }

 protected:
  File(std::string path, Access access) : path_(std::move(path)), access_(access) {}

 private:
  std::string path_;
  Access access_;
};

// Creates a file, replacing an existing one (truncating it); with
// fail_if_exists, an existing file is error 80 instead. The new file is open
// for reading and writing with the given share mode. An existing file that
// is open without sharing, or with the read-only attribute, is left intact
// (errors 32 and 5).
std::unique_ptr<File> CreateFile(const std::string& path, Share share, bool fail_if_exists = false);

// Opens an existing file. With kReadWrite on a file that has the read-only
// attribute, raises error 5 (access denied); see OpenFileOrReadOnly. Error 32
// when an open of the file elsewhere (this process or another) and this one
// do not both share; error 5 for a directory; 2 or 3 when it is missing.
std::unique_ptr<File> OpenFile(const std::string& path, Access access, Share share);

// Opens read-write, and falls back to read-only when the read-write open is
// refused with access denied (read-only attribute or file system); the
// result's access() says which it got.
std::unique_ptr<File> OpenFileOrReadOnly(const std::string& path, Share share);

// Makes the entries of files created, deleted or renamed in dir survive a
// power cut (a file's own Flush covers its content, not its name). On
// Windows there is no such call: FlushFileBuffers on the file itself, which
// the callers do anyway, is what the system offers, and NTFS logs the
// change of the directory with the file's metadata; this does nothing there.
void SyncDirectory(const std::string& dir);

// Makes the Files that the table engine works with. Storage takes one on a
// table's open path, so that tests can hand it files that fail on purpose
// (tests/platform/fault_injection.h); everything else uses SystemFiles().
class FileOpener {
 public:
  virtual ~FileOpener() = default;
  virtual std::unique_ptr<File> Create(const std::string& path, Share share) {
    return CreateFile(path, share);
  }
  virtual std::unique_ptr<File> Open(const std::string& path, Access access, Share share) {
    return OpenFile(path, access, share);
  }
  virtual std::unique_ptr<File> OpenOrReadOnly(const std::string& path, Share share) {
    return OpenFileOrReadOnly(path, share);
  }
  virtual void SyncDirectory(const std::string& dir) { platform::SyncDirectory(dir); }
};

// The opener of real files, the functions above.
inline FileOpener& SystemFiles() {
  static FileOpener system;
  return system;
}

// True for an existing regular file; false for a directory or nothing.
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Deletes a file: error 5 when it has the read-only attribute (or is a
// directory), 32 while it is open anywhere, 2 or 3 when it is missing.
void DeleteFile(const std::string& path);
// Renames or moves a file: error 183 when `to` exists (nothing is replaced),
// 32 while `from` is open anywhere.
void RenameFile(const std::string& from, const std::string& to);
// The read-only attribute. On POSIX it is "no write permission bit for
// anyone", checked by this layer itself because root ignores permissions.
bool IsReadOnly(const std::string& path);
void SetReadOnly(const std::string& path, bool read_only);
void CreateDirectory(const std::string& path);

// Names (not paths) of the regular files in dir whose name ends in
// extension (".dat"; compared without regard to case), in the order the
// system lists them. Error 3 when dir does not exist.
std::vector<std::string> ListFiles(const std::string& dir, const std::string& extension);

// The process's current directory, with a trailing separator.
std::string CurrentDirectory();

// The platform's path separator ("/" on POSIX, "\" on Windows), and a path
// turned into the platform's form.
char PathSeparator();
std::string NativePath(const std::string& path);

// True when the process's standard output is a terminal (a console on
// Windows), not a file or a pipe.
bool StandardOutputIsTerminal();

}  // namespace downsql::platform
