// TPhysicalFile: a file on disk behind the platform layer.
//
// Opening an existing file: read-write unless asked for read-only; a
// read-write open that is refused (read-only attribute or file system) is
// retried read-only and the file counts as read-only from then on. Sharing
// is none for exclusive opens, read and write otherwise. Creating always
// replaces the file, opened read-write without sharing unless asked.
#pragma once

#include <memory>

#include "db/storage/base_file.h"

namespace downsql::storage {

class TPhysicalFile : public TBaseFile {
 public:
  // opener makes the operating-system file when the first handle opens.
  TPhysicalFile(std::string name, platform::FileOpener& opener)
      : TBaseFile(std::move(name)), opener_(opener) {}
  bool in_memory() const override { return false; }

 protected:
  void DoCreate(platform::Share share) override;
  bool DoOpen(platform::Access access, platform::Share share) override;
  void DoCloseAll() override { file_.reset(); }
  size_t DoRead(uint64_t pos, void* data, size_t n) override { return file_->ReadAt(pos, data, n); }
  // The system's read stops at the end of the file.
  size_t DoReadUpTo(uint64_t pos, void* data, size_t n) override {
    return file_->ReadAt(pos, data, n);
  }
  size_t DoWrite(uint64_t pos, const void* data, size_t n) override {
    return file_->WriteAt(pos, data, n);
  }
  void DoTruncate(uint64_t size) override { file_->Truncate(size); }
  uint64_t DoSize() override { return file_->Size(); }
  void DoFlush() override { file_->Flush(); }
  bool DoLock(uint64_t offset, uint64_t length) override { return file_->TryLock(offset, length); }
  bool DoUnlock(uint64_t offset, uint64_t length) override { return file_->Unlock(offset, length); }
  void DoUnlockAll(const std::vector<std::pair<uint64_t, uint64_t>>& ranges) override {
    file_->UnlockAll(ranges);
  }

 private:
  platform::FileOpener& opener_;
  std::unique_ptr<platform::File> file_;
};

}  // namespace downsql::storage
