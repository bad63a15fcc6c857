#include "tests/access/access_test_util.h"

#include <stdexcept>

#include "base/byte_order.h"
#include "db/storage/base_file.h"
#include "platform/os_error.h"

namespace downsql::access::testing {
namespace {

class RecordingFile : public TLockFile {
 public:
  RecordingFile(std::unique_ptr<TLockFile> inner, RecordingStore& store, bool read_only)
      : inner_(std::move(inner)), store_(store), read_only_(read_only) {}
  bool read_only() const override { return read_only_ || inner_->read_only(); }
  size_t ReadAt(uint64_t offset, void* data, size_t n) override {
    return inner_->ReadAt(offset, data, n);
  }
  void WriteAt(uint64_t offset, const void* data, size_t n) override {
    inner_->WriteAt(offset, data, n);
  }
  bool TryLock(uint64_t offset, uint64_t length) override {
    store_.calls.push_back({true, offset, length});
    return inner_->TryLock(offset, length);
  }
  bool Unlock(uint64_t offset, uint64_t length) override {
    store_.calls.push_back({false, offset, length});
    return inner_->Unlock(offset, length);
  }

 private:
  std::unique_ptr<TLockFile> inner_;
  RecordingStore& store_;
  bool read_only_;
};

}  // namespace

std::unique_ptr<TLockFile> RecordingStore::OpenShared(const std::string& path) {
  auto inner = inner_.OpenShared(path);
  if (!inner) return nullptr;
  return std::make_unique<RecordingFile>(std::move(inner), *this, open_read_only);
}

std::string ReadAll(TLockFileStore& store, const std::string& path) {
  auto file = store.OpenShared(path);
  if (!file) return "<missing>";
  std::string out(1 << 20, '\0');
  out.resize(file->ReadAt(0, out.data(), out.size()));
  return out;
}

std::string LockFileBytes(int32_t counter, const std::vector<std::string>& names) {
  std::string entries;
  for (const auto& n : names) entries += static_cast<char>(n.size()) + n;
  std::string out(8, '\0');
  base::PutLE32(out.data(), static_cast<uint32_t>(counter));
  base::PutLE32(out.data() + 4, static_cast<uint32_t>(entries.size() + 4));
  return out + entries;
}

void DeleteMemoryFile(const std::string& name) {
  try {
    storage::DeleteBaseFile(name, true);
  } catch (const platform::OsError&) {
  }
}

void FakeTable::BeginTransaction() {
  log_.push_back("begin " + name_);
  if (fail_begin) throw std::runtime_error("begin failed");
  in_transaction = true;
}

void FakeTable::CommitTransaction(bool force_flush, bool end) {
  log_.push_back(std::string(force_flush ? "commit! " : "commit ") + name_);
  if (on_commit) on_commit();
  if (end) in_transaction = false;
  if (fail_commit) throw std::runtime_error("commit failed");
}

void FakeTable::RollbackTransaction() {
  log_.push_back("rollback " + name_);
  in_transaction = false;
}

}  // namespace downsql::access::testing
