// Shared file objects: handles, positions, locks and the registry.
#include "db/storage/base_file.h"

#include <algorithm>
#include <iterator>

#include "db/storage/memory_file.h"
#include "db/storage/physical_file.h"
#include "platform/os_error.h"

namespace downsql::storage {
namespace {

using platform::OsError;

[[noreturn]] void Fail(uint32_t code, const std::string& name, const char* what) {
  throw OsError(code, name, what);
}

bool Overlaps(uint64_t a, uint64_t alen, uint64_t b, uint64_t blen) {
  return a < b + blen && b < a + alen;
}

}  // namespace

TBaseFile::HandleState& TBaseFile::StateOf(Handle h) {
  auto it = handles_.find(h);
  if (it == handles_.end()) Fail(platform::kErrorInvalidHandle, name_, "invalid file handle");
  return it->second;
}

void TBaseFile::CheckWritable(Handle h) {
  if (StateOf(h).read_only) Fail(platform::kErrorAccessDenied, name_, "file is read-only");
}

TBaseFile::Handle TBaseFile::Create(platform::Share share) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!handles_.empty()) Fail(platform::kErrorSharingViolation, name_, "file is in use");
  DoCreate(share);
  exclusive_ = share == platform::Share::kExclusive;
  file_read_only_ = false;
  Handle h = next_handle_++;
  handles_[h] = HandleState{};
  return h;
}

TBaseFile::Handle TBaseFile::Open(platform::Access access, platform::Share share) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (handles_.empty()) {
    file_read_only_ = DoOpen(access, share);
    exclusive_ = share == platform::Share::kExclusive;
  } else if (exclusive_ || share == platform::Share::kExclusive) {
    Fail(platform::kErrorSharingViolation, name_, "file is in use");
  }
  Handle h = next_handle_++;
  HandleState st;
  st.read_only = file_read_only_ || access == platform::Access::kReadOnly;
  handles_[h] = st;
  return h;
}

void TBaseFile::Close(Handle h) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = handles_.find(h);
  if (it == handles_.end()) return;
  for (auto lock = locks_.begin(); lock != locks_.end();) {
    if (lock->second.handle == h) {
      DoUnlock(lock->first, lock->second.length);
      lock = locks_.erase(lock);
    } else {
      ++lock;
    }
  }
  handles_.erase(it);
  if (handles_.empty()) DoCloseAll();
}

bool TBaseFile::read_only(Handle h) {
  std::lock_guard<std::mutex> lock(mutex_);
  return StateOf(h).read_only;
}

size_t TBaseFile::Read(Handle h, void* data, size_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  HandleState& st = StateOf(h);
  uint64_t size = DoSize();
  if (st.position >= size) return 0;
  size_t count = size_t(std::min<uint64_t>(n, size - st.position));
  count = DoRead(st.position, data, count);
  st.position += count;
  return count;
}

size_t TBaseFile::Write(Handle h, const void* data, size_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckWritable(h);
  HandleState& st = StateOf(h);
  if (n == 0) {
    DoTruncate(st.position);
    return 0;
  }
  size_t written = DoWrite(st.position, data, n);
  st.position += written;
  return written;
}

uint64_t TBaseFile::Seek(Handle h, int64_t offset, SeekOrigin origin) {
  std::lock_guard<std::mutex> lock(mutex_);
  HandleState& st = StateOf(h);
  int64_t base = origin == kFromStart     ? 0
                 : origin == kFromCurrent ? int64_t(st.position)
                                          : int64_t(DoSize());
  int64_t target = base + offset;
  if (target < 0)
    Fail(platform::kErrorInvalidParameter, name_, "seek before the start of the file");
  st.position = uint64_t(target);
  return st.position;
}

uint64_t TBaseFile::Position(Handle h) {
  std::lock_guard<std::mutex> lock(mutex_);
  return StateOf(h).position;
}

size_t TBaseFile::DoReadUpTo(uint64_t pos, void* data, size_t n) {
  uint64_t size = DoSize();
  if (pos >= size) return 0;
  return DoRead(pos, data, size_t(std::min<uint64_t>(n, size - pos)));
}

size_t TBaseFile::ReadAt(Handle h, uint64_t pos, void* data, size_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  HandleState& st = StateOf(h);
  st.position = pos;
  size_t count = DoReadUpTo(pos, data, n);
  st.position += count;
  return count;
}

size_t TBaseFile::WriteAt(Handle h, uint64_t pos, const void* data, size_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckWritable(h);
  HandleState& st = StateOf(h);
  st.position = pos;
  if (n == 0) {
    DoTruncate(pos);
    return 0;
  }
  size_t written = DoWrite(pos, data, n);
  st.position += written;
  return written;
}

void TBaseFile::Truncate(Handle h, uint64_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckWritable(h);
  StateOf(h).position = size;
  DoTruncate(size);
}

uint64_t TBaseFile::Size() {
  std::lock_guard<std::mutex> lock(mutex_);
  return DoSize();
}

void TBaseFile::Flush(Handle h) {
  std::lock_guard<std::mutex> lock(mutex_);
  StateOf(h);
  DoFlush();
}

bool TBaseFile::Lock(Handle h, uint64_t offset, uint64_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  StateOf(h);
  if (length == 0) return false;
  // Locks of this process are checked here for both kinds, so two handles
  // of one shared object exclude each other as two Windows handles would.
  // Only the nearest lock on each side can overlap.
  auto after = locks_.lower_bound(offset);
  if (after != locks_.end() && Overlaps(offset, length, after->first, after->second.length))
    return false;
  if (after != locks_.begin()) {
    auto before = std::prev(after);
    if (Overlaps(offset, length, before->first, before->second.length)) return false;
  }
  if (!DoLock(offset, length)) return false;
  locks_.emplace_hint(after, offset, HeldLock{length, h});
  return true;
}

bool TBaseFile::Unlock(Handle h, uint64_t offset, uint64_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  StateOf(h);
  auto it = locks_.find(offset);
  if (it == locks_.end() || it->second.handle != h || it->second.length != length) return false;
  locks_.erase(it);
  DoUnlock(offset, length);
  return true;
}

bool TBaseFile::UnlockAll(Handle h, const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
  std::lock_guard<std::mutex> lock(mutex_);
  StateOf(h);
  std::vector<std::pair<uint64_t, uint64_t>> held;
  held.reserve(ranges.size());
  for (const auto& [offset, length] : ranges) {
    auto it = locks_.find(offset);
    if (it == locks_.end() || it->second.handle != h || it->second.length != length) continue;
    locks_.erase(it);
    held.emplace_back(offset, length);
  }
  if (!held.empty()) DoUnlockAll(held);
  return held.size() == ranges.size();
}

int TBaseFile::open_handles() {
  std::lock_guard<std::mutex> lock(mutex_);
  return int(handles_.size());
}

// ---------------------------------------------------------------------------
// Registry

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<TBaseFile>> disk;
  std::map<std::string, std::shared_ptr<TMemoryFile>> memory;
};

Registry& TheRegistry() {
  static Registry* r = new Registry;  // outlives every static user
  return *r;
}

}  // namespace

std::string NormaliseFileName(const std::string& name) {
  std::string n = name;
  for (char& c : n) {
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  }
  return n;
}

std::shared_ptr<TBaseFile> AcquireBaseFile(const std::string& name, bool in_memory,
                                           platform::FileOpener* opener) {
  Registry& r = TheRegistry();
  std::string key = NormaliseFileName(name);
  std::lock_guard<std::mutex> lock(r.mutex);
  if (in_memory) {
    auto& slot = r.memory[key];
    if (!slot) slot = std::make_shared<TMemoryFile>(name);
    return slot;
  }
  auto& weak = r.disk[key];
  std::shared_ptr<TBaseFile> file = weak.lock();
  if (!file) {
    file = std::make_shared<TPhysicalFile>(name, opener ? *opener : platform::SystemFiles());
    weak = file;
  }
  // Drop entries of files nobody holds any more.
  for (auto it = r.disk.begin(); it != r.disk.end();)
    it = it->second.expired() ? r.disk.erase(it) : std::next(it);
  return file;
}

bool BaseFileExists(const std::string& name, bool in_memory) {
  if (!in_memory) return platform::FileExists(name);
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.memory.find(NormaliseFileName(name));
  return it != r.memory.end() && it->second->exists();
}

namespace {

// The registry entry of a file if someone holds it open.
std::shared_ptr<TBaseFile> Held(Registry& r, const std::string& key, bool in_memory) {
  if (in_memory) {
    auto it = r.memory.find(key);
    return it == r.memory.end() ? nullptr : it->second;
  }
  auto it = r.disk.find(key);
  return it == r.disk.end() ? nullptr : it->second.lock();
}

}  // namespace

void DeleteBaseFile(const std::string& name, bool in_memory) {
  Registry& r = TheRegistry();
  std::string key = NormaliseFileName(name);
  std::lock_guard<std::mutex> lock(r.mutex);
  std::shared_ptr<TBaseFile> held = Held(r, key, in_memory);
  if (held && held->open_handles() > 0)
    Fail(platform::kErrorSharingViolation, name, "file is in use");
  if (in_memory) {
    if (!held || !static_cast<TMemoryFile&>(*held).exists())
      Fail(platform::kErrorFileNotFound, name, "file not found");
    r.memory.erase(key);
    return;
  }
  platform::DeleteFile(name);
}

void RenameBaseFile(const std::string& from, const std::string& to, bool in_memory) {
  Registry& r = TheRegistry();
  std::string key = NormaliseFileName(from);
  std::string to_key = NormaliseFileName(to);
  std::lock_guard<std::mutex> lock(r.mutex);
  std::shared_ptr<TBaseFile> held = Held(r, key, in_memory);
  if (held && held->open_handles() > 0)
    Fail(platform::kErrorSharingViolation, from, "file is in use");
  if (!in_memory) {
    platform::RenameFile(from, to);
    return;
  }
  if (!held || !static_cast<TMemoryFile&>(*held).exists())
    Fail(platform::kErrorFileNotFound, from, "file not found");
  if (key != to_key) {
    auto target = r.memory.find(to_key);
    if (target != r.memory.end() && target->second->exists())
      Fail(platform::kErrorAlreadyExists, to, "file exists");
  }
  auto moved = std::static_pointer_cast<TMemoryFile>(held);
  r.memory.erase(key);
  auto renamed = std::make_shared<TMemoryFile>(to);
  renamed->TakeContent(*moved);
  r.memory[to_key] = renamed;
}

}  // namespace downsql::storage
