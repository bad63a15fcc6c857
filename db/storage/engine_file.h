// TEngineFile: one file of the engine (a table's data, index or BLOB file,
// or a directory's lock file "tabula.lck") as the engine uses it: exists,
// create, open, close, delete, rename, read and write at a position, size,
// truncate, flush, byte-range lock and unlock, copy.
//
// Several TEngineFiles of one name share one TBaseFile (base_file.h), each
// with its own handle. Operating-system failures are raised as
// ETabulaEngineError with the file's name, mapped from the Windows error
// number:
//
//   2, 3            11010  file does not exist
//   4               11012  too many open files
//   5, 32, 65, 183  11013  access denied (also: writing a read-only file)
//   6               11014  invalid handle
//   8, 14           11016  insufficient memory
//   15              11023  logical device access denied
//   17              11025  file has been moved
//   any other       11047  unknown operating-system error (number in text)
//
// A short read is 9217 and a short write 9218.
//
// Locks: Lock/Unlock pass through to the platform's byte-range locks for
// files on disk (64-bit offsets, also far beyond the end of the file; an
// overlapping lock held by anyone, this process included, refuses). Memory
// files emulate the same rules inside the process. Closing the file releases
// the locks taken through it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/storage/base_file.h"
#include "platform/file.h"
#include "platform/os_error.h"

namespace downsql::storage {

class TEngineFile;

// Told about every change of a file before it is made (writes and
// truncation) and after every flush, so that it can first save what is
// about to be overwritten (see table_journal.h). It may raise; the change
// is then not made.
class TWriteGuard {
 public:
  virtual ~TWriteGuard() = default;
  virtual void BeforeWrite(TEngineFile& file, uint64_t offset, uint64_t length) = 0;
  virtual void BeforeTruncate(TEngineFile& file, uint64_t size) = 0;
  virtual void AfterFlush(TEngineFile& file) = 0;
};

class TEngineFile {
 public:
  // name: at most 255 characters are kept. in_memory: a memory file.
  TEngineFile(std::string name, bool in_memory);
  ~TEngineFile();
  TEngineFile(const TEngineFile&) = delete;
  TEngineFile& operator=(const TEngineFile&) = delete;

  const std::string& name() const { return name_; }
  bool in_memory() const { return in_memory_; }
  // What makes the operating-system file when this one is the first open of
  // it (nullptr: the system's files); set before Create or Open.
  void set_opener(platform::FileOpener* opener) { opener_ = opener; }
  platform::FileOpener* opener() const { return opener_; }
  // Sees every write, truncation and flush from now on (nullptr: none).
  void set_write_guard(TWriteGuard* guard) { guard_ = guard; }
  bool is_open() const { return file_ != nullptr; }
  // True when opened read-only (asked for, or fallen back to).
  bool read_only() const { return read_only_; }

  bool Exists() const;
  // Creates (replacing) and opens the file read-write; exclusive unless
  // shared is asked for.
  void Create(bool exclusive = true);
  // Opens the existing file: read-write with a fall-back to read-only when
  // that is refused, or read-only when asked; exclusive or shared.
  void Open(bool read_only = false, bool exclusive = false);
  void Close();
  // Deletes / renames the (closed) file; the name follows a rename.
  void Delete();
  void Rename(const std::string& new_name);

  // Reads exactly n bytes at pos (9217 when fewer are there).
  void Read(uint64_t pos, void* data, size_t n);
  // Reads up to n bytes at pos; returns the count.
  size_t ReadUpTo(uint64_t pos, void* data, size_t n);
  // Writes n bytes at pos (9218 when not all were written; 11013 when the
  // file is read-only).
  void Write(uint64_t pos, const void* data, size_t n);
  uint64_t Size();
  void Truncate(uint64_t size);
  void Flush();

  // Takes an exclusive byte-range lock; false when it is refused.
  bool Lock(uint64_t offset, uint64_t length);
  // Releases a lock taken through this file with the same bounds; false
  // when there is none.
  bool Unlock(uint64_t offset, uint64_t length);
  // Releases several locks taken through this file, each given with its
  // bounds; false when one of them is not held (the others are released).
  bool UnlockAll(const std::vector<std::pair<uint64_t, uint64_t>>& ranges);

  // Copies the whole content into another open file (replacing its content).
  void CopyTo(TEngineFile& target);

  // The engine error for an operating-system failure of this file.
  [[noreturn]] void RaiseOsError(const platform::OsError& e) const;

 private:
  void RequireOpen() const;

  std::string name_;
  bool in_memory_;
  platform::FileOpener* opener_ = nullptr;
  TWriteGuard* guard_ = nullptr;
  std::shared_ptr<TBaseFile> file_;
  TBaseFile::Handle handle_ = 0;
  bool read_only_ = false;
};

// The engine code for a Windows error number (11010 ... 11047).
uint32_t EngineCodeForOsError(uint32_t os_code);

}  // namespace downsql::storage
