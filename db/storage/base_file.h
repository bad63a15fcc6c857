// TBaseFile: the one shared object per file of the engine, on disk
// (TPhysicalFile) or in memory (TMemoryFile).
//
// Every open of a file by a table or a directory gets a handle (counted up
// from 1) with its own 64-bit position; the operating-system file is opened
// with the first handle and closed with the last. Every operation runs under
// the file's critical section, so threads of different sessions that share
// the file see one size and their own positions.
//
// Failures raise platform::OsError with a Windows error number (memory files
// raise the numbers the disk would: 2 missing, 5 read-only, 32 in use);
// TEngineFile maps them onto engine codes.
//
// Files are found through a process-wide registry keyed by the normalised
// name (case folded, "/" as "\"): AcquireBaseFile hands every caller the
// same object. A physical file leaves the registry when its last user lets
// go; a memory file stays until it is deleted, since its content lives
// nowhere else.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file.h"

namespace downsql::storage {

class TBaseFile {
 public:
  using Handle = uint32_t;
  enum SeekOrigin { kFromStart, kFromCurrent, kFromEnd };

  virtual ~TBaseFile() = default;
  TBaseFile(const TBaseFile&) = delete;
  TBaseFile& operator=(const TBaseFile&) = delete;

  const std::string& name() const { return name_; }
  virtual bool in_memory() const = 0;

  // Creates the file anew (size 0) and returns a handle open for reading and
  // writing. Fails with 32 while other handles are open.
  Handle Create(platform::Share share);
  // Opens the existing file. kReadWrite on a read-only file falls back to
  // read-only (see read_only()). Exclusive opens conflict with any other
  // open (32).
  Handle Open(platform::Access access, platform::Share share);
  // Closes a handle and releases the byte-range locks taken through it.
  void Close(Handle h);
  bool read_only(Handle h);

  // Reads up to n bytes at the handle's position and advances it; returns
  // the count (at most size - position).
  size_t Read(Handle h, void* data, size_t n);
  // Writes n bytes at the handle's position, advancing it and extending the
  // file; a write of 0 bytes truncates the file at the position.
  size_t Write(Handle h, const void* data, size_t n);
  uint64_t Seek(Handle h, int64_t offset, SeekOrigin origin);
  uint64_t Position(Handle h);
  // Seek and read or write under one hold of the critical section.
  size_t ReadAt(Handle h, uint64_t pos, void* data, size_t n);
  size_t WriteAt(Handle h, uint64_t pos, const void* data, size_t n);
  void Truncate(Handle h, uint64_t size);
  uint64_t Size();
  void Flush(Handle h);

  // Exclusive byte-range lock through a handle; false when any overlapping
  // lock is held (through any handle, or by another process for files on
  // disk). Unlock needs the exact bounds of a lock of that handle.
  bool Lock(Handle h, uint64_t offset, uint64_t length);
  bool Unlock(Handle h, uint64_t offset, uint64_t length);
  // Releases several locks of the handle at once, each given with its exact
  // bounds; false when one of them is not held (the others are released).
  bool UnlockAll(Handle h, const std::vector<std::pair<uint64_t, uint64_t>>& ranges);

  int open_handles();

 protected:
  explicit TBaseFile(std::string name) : name_(std::move(name)) {}

  // Called under the critical section. DoOpen/DoCreate run for the first
  // handle, DoCloseAll after the last one; DoOpen returns whether the file
  // was opened read-only.
  virtual void DoCreate(platform::Share share) = 0;
  virtual bool DoOpen(platform::Access access, platform::Share share) = 0;
  virtual void DoCloseAll() = 0;
  virtual size_t DoRead(uint64_t pos, void* data, size_t n) = 0;
  // Reads up to n bytes at pos, fewer at the end of the file. Files that
  // stop at their end by themselves save asking for the size first.
  virtual size_t DoReadUpTo(uint64_t pos, void* data, size_t n);
  virtual size_t DoWrite(uint64_t pos, const void* data, size_t n) = 0;  // count written
  virtual void DoTruncate(uint64_t size) = 0;
  virtual uint64_t DoSize() = 0;
  virtual void DoFlush() = 0;
  virtual bool DoLock(uint64_t offset, uint64_t length) = 0;
  virtual bool DoUnlock(uint64_t offset, uint64_t length) = 0;
  virtual void DoUnlockAll(const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
    for (const auto& [offset, length] : ranges) DoUnlock(offset, length);
  }

 private:
  struct HandleState {
    uint64_t position = 0;
    bool read_only = false;
  };
  struct HeldLock {
    uint64_t length;
    Handle handle;
  };
  HandleState& StateOf(Handle h);
  void CheckWritable(Handle h);

  std::string name_;
  std::mutex mutex_;
  std::map<Handle, HandleState> handles_;
  // The byte ranges locked through all handles, by offset. They never
  // overlap (an overlapping request is refused), so a request is checked
  // against its two neighbours only, however many locks a long transaction
  // holds.
  std::map<uint64_t, HeldLock> locks_;
  Handle next_handle_ = 1;
  bool exclusive_ = false;
  bool file_read_only_ = false;
};

// The name under which the registry keeps a file: "\" separators, case
// folded.
std::string NormaliseFileName(const std::string& name);

// The shared object of a file (created on first use; it need not exist).
// A file on disk made by this call opens through opener (nullptr: the
// system's files); one that is already in use keeps the opener it has.
std::shared_ptr<TBaseFile> AcquireBaseFile(const std::string& name, bool in_memory,
                                           platform::FileOpener* opener = nullptr);
bool BaseFileExists(const std::string& name, bool in_memory);
// Deletes the file (32 while it is open, 2 when it does not exist).
void DeleteBaseFile(const std::string& name, bool in_memory);
// Renames a closed file (32 while open, 2 missing, 183 target exists).
void RenameBaseFile(const std::string& from, const std::string& to, bool in_memory);

}  // namespace downsql::storage
