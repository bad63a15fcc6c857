// The narrow file interface the directory locks work through.
//
// A directory's lock file is read, written and byte-range locked only
// through TLockFile; every lock offset the engine computes passes through
// TryLock/Unlock there, which is where tests observe them. TLockFileStore
// says where lock files live: on disk (whose locks are the operating
// system's and work across processes) or in memory for the in-memory
// database (locks emulated inside the process).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace downsql::access {

class TLockFile {
 public:
  virtual ~TLockFile() = default;
  // True when the file could only be opened for reading.
  virtual bool read_only() const = 0;
  // Reads up to n bytes at offset; returns the count read (short at the end).
  virtual size_t ReadAt(uint64_t offset, void* data, size_t n) = 0;
  // Writes n bytes at offset; raises on failure.
  virtual void WriteAt(uint64_t offset, const void* data, size_t n) = 0;
  // An exclusive lock of [offset, offset + length); false when any
  // overlapping lock is held, through this handle or any other.
  virtual bool TryLock(uint64_t offset, uint64_t length) = 0;
  // Releases a lock taken through this handle with exactly these bounds;
  // false when there is none.
  virtual bool Unlock(uint64_t offset, uint64_t length) = 0;
};

class TLockFileStore {
 public:
  enum class CreateResult { kCreated, kExists, kFailed };

  virtual ~TLockFileStore() = default;
  virtual bool Exists(const std::string& path) = 0;
  // Creates the file with content unless it exists already; nobody can open
  // it until it is complete.
  virtual CreateResult CreateNew(const std::string& path, const std::string& content) = 0;
  // Opens the file shared, for reading and writing when allowed, else for
  // reading; nullptr when it cannot be opened at this moment.
  virtual std::unique_ptr<TLockFile> OpenShared(const std::string& path) = 0;
  // Names, without extension, of the files in dir ending in extension, in
  // the order the directory lists them.
  virtual std::vector<std::string> ListTableFiles(const std::string& dir,
                                                  const std::string& extension) = 0;
};

// Lock files as engine files: on disk, or in the engine's memory for the
// in-memory database. Every open of one file in this process shares one
// file object (and its handle on disk); locks taken through different
// opens exclude each other inside the process as they do between
// processes, and memory files emulate the same rules.
class TEngineLockFileStore : public TLockFileStore {
 public:
  explicit TEngineLockFileStore(bool in_memory) : in_memory_(in_memory) {}
  bool Exists(const std::string& path) override;
  CreateResult CreateNew(const std::string& path, const std::string& content) override;
  std::unique_ptr<TLockFile> OpenShared(const std::string& path) override;
  std::vector<std::string> ListTableFiles(const std::string& dir,
                                          const std::string& extension) override;

 private:
  bool in_memory_;
};

}  // namespace downsql::access
