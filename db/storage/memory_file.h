// TMemoryFile: a file held in memory (in-memory tables, temporary results).
//
// The content is a list of chunks of 65528 bytes, allocated as the file
// grows and all released when it is truncated to 0 or created again. Byte
// range locks are kept by TBaseFile for the process alone.
#pragma once

#include <memory>
#include <vector>

#include "db/storage/base_file.h"

namespace downsql::storage {

class TMemoryFile : public TBaseFile {
 public:
  static constexpr size_t kChunkSize = 65528;

  explicit TMemoryFile(std::string name) : TBaseFile(std::move(name)) {}
  bool in_memory() const override { return true; }
  // Whether the file has been created (and not deleted).
  bool exists() const { return exists_; }
  size_t chunk_count() const { return chunks_.size(); }
  // Moves the content of a closed file into this one (rename).
  void TakeContent(TMemoryFile& from);

 protected:
  void DoCreate(platform::Share share) override;
  bool DoOpen(platform::Access access, platform::Share share) override;
  void DoCloseAll() override {}
  size_t DoRead(uint64_t pos, void* data, size_t n) override;
  size_t DoWrite(uint64_t pos, const void* data, size_t n) override;
  void DoTruncate(uint64_t size) override;
  uint64_t DoSize() override { return size_; }
  void DoFlush() override {}
  bool DoLock(uint64_t, uint64_t) override { return true; }
  bool DoUnlock(uint64_t, uint64_t) override { return true; }

 private:
  std::vector<std::unique_ptr<uint8_t[]>> chunks_;
  uint64_t size_ = 0;
  bool exists_ = false;
};

}  // namespace downsql::storage
