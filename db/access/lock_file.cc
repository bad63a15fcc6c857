#include "db/access/lock_file.h"

#include <algorithm>
#include <cstring>

#include "platform/file.h"
#include "platform/locale.h"
#include "platform/os_error.h"

namespace downsql::access {
namespace {

class TDiskLockFile : public TLockFile {
 public:
  explicit TDiskLockFile(std::unique_ptr<platform::File> file) : file_(std::move(file)) {}
  bool read_only() const override { return file_->access() == platform::Access::kReadOnly; }
  size_t ReadAt(uint64_t offset, void* data, size_t n) override {
    return file_->ReadAt(offset, data, n);
  }
  void WriteAt(uint64_t offset, const void* data, size_t n) override {
    file_->WriteAt(offset, data, n);
  }
  bool TryLock(uint64_t offset, uint64_t length) override { return file_->TryLock(offset, length); }
  bool Unlock(uint64_t offset, uint64_t length) override { return file_->Unlock(offset, length); }

 private:
  std::unique_ptr<platform::File> file_;
};

}  // namespace

bool TDiskLockFileStore::Exists(const std::string& path) {
  try {
    return platform::FileExists(path);
  } catch (const platform::OsError&) {
    return false;
  }
}

TLockFileStore::CreateResult TDiskLockFileStore::CreateNew(const std::string& path,
                                                           const std::string& content) {
  std::unique_ptr<platform::File> file;
  try {
    // Exclusive while it is written: another process opening it meanwhile
    // is refused and retries instead of reading a half-written list.
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

std::unique_ptr<TLockFile> TDiskLockFileStore::OpenShared(const std::string& path) {
  try {
    return std::make_unique<TDiskLockFile>(
        platform::OpenFileOrReadOnly(path, platform::Share::kShared));
  } catch (const platform::OsError&) {
    return nullptr;
  }
}

std::vector<std::string> TDiskLockFileStore::ListTableFiles(const std::string& dir,
                                                            const std::string& extension) {
  std::vector<std::string> names;
  try {
    names = platform::ListFiles(dir.empty() ? std::string(".") : dir, extension);
  } catch (const platform::OsError&) {
    return {};
  }
  for (std::string& n : names) n.resize(n.size() - std::min(n.size(), extension.size()));
  return names;
}

// ---------------------------------------------------------------------------

struct TMemoryLockFileStore::File {
  struct Held {
    uint64_t offset, length;
    const void* owner;
  };
  std::mutex mutex;
  std::string content;
  std::vector<Held> held;
};

namespace {

class TMemoryLockFile : public TLockFile {
 public:
  explicit TMemoryLockFile(std::shared_ptr<TMemoryLockFileStore::File> file)
      : file_(std::move(file)) {}
  ~TMemoryLockFile() override {
    std::lock_guard lock(file_->mutex);
    std::erase_if(file_->held, [this](const auto& h) { return h.owner == this; });
  }
  bool read_only() const override { return false; }
  size_t ReadAt(uint64_t offset, void* data, size_t n) override {
    std::lock_guard lock(file_->mutex);
    if (offset >= file_->content.size()) return 0;
    size_t count = std::min<uint64_t>(n, file_->content.size() - offset);
    std::memcpy(data, file_->content.data() + offset, count);
    return count;
  }
  void WriteAt(uint64_t offset, const void* data, size_t n) override {
    std::lock_guard lock(file_->mutex);
    if (file_->content.size() < offset + n) file_->content.resize(offset + n);
    std::memcpy(file_->content.data() + offset, data, n);
  }
  bool TryLock(uint64_t offset, uint64_t length) override {
    std::lock_guard lock(file_->mutex);
    for (const auto& h : file_->held)
      if (offset < h.offset + h.length && h.offset < offset + length) return false;
    file_->held.push_back({offset, length, this});
    return true;
  }
  bool Unlock(uint64_t offset, uint64_t length) override {
    std::lock_guard lock(file_->mutex);
    auto it = std::find_if(file_->held.begin(), file_->held.end(), [&](const auto& h) {
      return h.owner == this && h.offset == offset && h.length == length;
    });
    if (it == file_->held.end()) return false;
    file_->held.erase(it);
    return true;
  }

 private:
  std::shared_ptr<TMemoryLockFileStore::File> file_;
};

}  // namespace

TMemoryLockFileStore::TMemoryLockFileStore() = default;
TMemoryLockFileStore::~TMemoryLockFileStore() = default;

bool TMemoryLockFileStore::Exists(const std::string& path) {
  std::lock_guard lock(mutex_);
  return files_.count(platform::UpperCase(path)) != 0;
}

TLockFileStore::CreateResult TMemoryLockFileStore::CreateNew(const std::string& path,
                                                             const std::string& content) {
  std::lock_guard lock(mutex_);
  auto& slot = files_[platform::UpperCase(path)];
  if (slot) return CreateResult::kExists;
  slot = std::make_shared<File>();
  slot->content = content;
  return CreateResult::kCreated;
}

std::unique_ptr<TLockFile> TMemoryLockFileStore::OpenShared(const std::string& path) {
  std::lock_guard lock(mutex_);
  auto it = files_.find(platform::UpperCase(path));
  if (it == files_.end()) return nullptr;
  return std::make_unique<TMemoryLockFile>(it->second);
}

std::vector<std::string> TMemoryLockFileStore::ListTableFiles(const std::string&,
                                                              const std::string&) {
  // Memory tables come into being after their directory's lock file, and
  // register themselves when they are opened.
  return {};
}

}  // namespace downsql::access
