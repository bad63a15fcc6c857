#include "db/access/lock_file.h"

#include <algorithm>

#include "db/storage/engine_error.h"
#include "db/storage/engine_file.h"
#include "platform/file.h"
#include "platform/os_error.h"

namespace downsql::access {
namespace {

using storage::ETabulaEngineError;
using storage::TEngineFile;

class TEngineLockFile : public TLockFile {
 public:
  explicit TEngineLockFile(std::unique_ptr<TEngineFile> file) : file_(std::move(file)) {}
  bool read_only() const override { return file_->read_only(); }
  size_t ReadAt(uint64_t offset, void* data, size_t n) override {
    return file_->ReadUpTo(offset, data, n);
  }
  void WriteAt(uint64_t offset, const void* data, size_t n) override {
    file_->Write(offset, data, n);
  }
  bool TryLock(uint64_t offset, uint64_t length) override { return file_->Lock(offset, length); }
  bool Unlock(uint64_t offset, uint64_t length) override { return file_->Unlock(offset, length); }

 private:
  std::unique_ptr<TEngineFile> file_;
};

}  // namespace

bool TEngineLockFileStore::Exists(const std::string& path) {
  try {
    return TEngineFile(path, in_memory_).Exists();
  } catch (const ETabulaEngineError&) {
    return false;
  }
}

TLockFileStore::CreateResult TEngineLockFileStore::CreateNew(const std::string& path,
                                                             const std::string& content) {
  if (in_memory_) {
    try {
      TEngineFile file(path, true);
      if (file.Exists()) return CreateResult::kExists;
      file.Create(/*exclusive=*/true);
      file.Write(0, content.data(), content.size());
      return CreateResult::kCreated;
    } catch (const ETabulaEngineError&) {
      return CreateResult::kFailed;
    }
  }
  // On disk the file is made only if no other process made it meanwhile,
  // and exclusively while it is written: a process opening it then is
  // refused and retries instead of reading a half-written list.
  std::unique_ptr<platform::File> file;
  try {
    file = platform::CreateFile(path, platform::Share::kExclusive, /*fail_if_exists=*/true);
  } catch (const platform::OsError& e) {
    if (e.code() == platform::kErrorFileExists || e.code() == platform::kErrorAlreadyExists)
      return CreateResult::kExists;
    return CreateResult::kFailed;
  }
  try {
    file->WriteAt(0, content.data(), content.size());
  } catch (const platform::OsError&) {
    return CreateResult::kFailed;
  }
  return CreateResult::kCreated;
}

std::unique_ptr<TLockFile> TEngineLockFileStore::OpenShared(const std::string& path) {
  auto file = std::make_unique<TEngineFile>(path, in_memory_);
  try {
    file->Open(/*read_only=*/false, /*exclusive=*/false);
  } catch (const ETabulaEngineError&) {
    return nullptr;
  }
  return std::make_unique<TEngineLockFile>(std::move(file));
}

std::vector<std::string> TEngineLockFileStore::ListTableFiles(const std::string& dir,
                                                              const std::string& extension) {
  // Memory tables come into being after their directory's lock file and
  // enter it when they are opened.
  if (in_memory_) return {};
  std::vector<std::string> names;
  try {
    names = platform::ListFiles(dir.empty() ? std::string(".") : dir, extension);
  } catch (const platform::OsError&) {
    return {};
  }
  for (std::string& n : names) n.resize(n.size() - std::min(n.size(), extension.size()));
  return names;
}

}  // namespace downsql::access
