// Files for tests that stop a process in the middle of its writes: a
// FileOpener whose files count every change (write, truncation, flush)
// across all of them and, from a chosen change on, refuse every change and
// every open, as if the process had died there. Reads go on working so that
// the dying objects can be destroyed.
//
//   CrashFiles files;
//   options.files = &files;  ... open, change, note files.changes() ...
//   files.CrashAt(files.changes() + 5);  // the 5th change from now fails
//   ... the objects are destroyed ...
//   files.LosePower(seed);  // optional: what a disk keeps after a power cut
//
// LosePower puts every file that still exists back to what a disk would
// hold after losing power at the crash: its content at its last flush plus
// a random selection of the 512-byte sectors written after it (a disk may
// have kept any of them, in any order, and tears a longer write at sector
// bounds). A file created since the last SyncDirectory of its directory
// may be gone altogether; deleting counts at once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/os_error.h"

namespace downsql::platform {

class CrashFiles final : public FileOpener {
 public:
  std::unique_ptr<File> Create(const std::string& path, Share share) override {
    Alive(path);
    auto file = CreateFile(path, share);
    logs_[path] = Log{};
    logs_[path].entry_synced = false;
    return std::make_unique<CrashFile>(*this, path, std::move(file));
  }
  void SyncDirectory(const std::string& dir) override {
    Step(dir);
    for (auto& [path, log] : logs_)
      if (path.compare(0, dir.size(), dir) == 0) log.entry_synced = true;
  }
  std::unique_ptr<File> Open(const std::string& path, Access access, Share share) override {
    Alive(path);
    return Track(path, OpenFile(path, access, share));
  }
  std::unique_ptr<File> OpenOrReadOnly(const std::string& path, Share share) override {
    Alive(path);
    return Track(path, OpenFileOrReadOnly(path, share));
  }

  // Changes made so far through all files.
  int changes() const { return changes_; }
  // The nth change (counted from the first, 1-based) and all after it fail.
  void CrashAt(int nth) { crash_at_ = nth; }
  bool crashed() const { return crashed_; }

  // Call once every file is closed.
  void LosePower(uint32_t seed) {
    constexpr uint64_t kSector = 512;
    std::mt19937 random(seed);
    for (auto& [path, log] : logs_) {
      if (!FileExists(path)) continue;
      if (!log.entry_synced && random() % 2 == 0) {
        DeleteFile(path);
        continue;
      }
      std::string content = log.durable;
      for (const Change& c : log.pending) {
        if (c.truncate) {
          if (random() % 2 == 0) content.resize(c.offset);
          continue;
        }
        for (uint64_t at = c.offset; at < c.offset + c.bytes.size();) {
          uint64_t end = std::min<uint64_t>((at / kSector + 1) * kSector, c.offset + c.bytes.size());
          if (random() % 2 == 0) {
            if (content.size() < end) content.resize(end);
            std::memcpy(content.data() + at, c.bytes.data() + (at - c.offset), end - at);
          }
          at = end;
        }
      }
      std::ofstream out(NativePath(path), std::ios::binary | std::ios::trunc);
      out.write(content.data(), std::streamsize(content.size()));
    }
  }

 private:
  struct Change {
    bool truncate;
    uint64_t offset;  // or the new size
    std::string bytes;
  };
  struct Log {
    std::string durable;
    std::vector<Change> pending;
    bool entry_synced = true;
  };

  class CrashFile final : public File {
   public:
    CrashFile(CrashFiles& owner, std::string key, std::unique_ptr<File> inner)
        : File(inner->path(), inner->access()),
          owner_(owner),
          key_(std::move(key)),
          inner_(std::move(inner)) {}
    size_t ReadAt(uint64_t offset, void* data, size_t n) override {
      return inner_->ReadAt(offset, data, n);
    }
    size_t WriteAt(uint64_t offset, const void* data, size_t n) override {
      owner_.Step(path());
      owner_.logs_[key_].pending.push_back(
          {false, offset, std::string(static_cast<const char*>(data), n)});
      return inner_->WriteAt(offset, data, n);
    }
    uint64_t Size() override { return inner_->Size(); }
    void Truncate(uint64_t size) override {
      owner_.Step(path());
      owner_.logs_[key_].pending.push_back({true, size, {}});
      inner_->Truncate(size);
    }
    // The log says what a disk would keep; the real file need not wait
    // for the disk.
    void Flush() override {
      owner_.Step(path());
      Log& log = owner_.logs_[key_];
      log.durable = Content(*inner_);
      log.pending.clear();
    }
    bool TryLock(uint64_t offset, uint64_t length) override {
      return inner_->TryLock(offset, length);
    }
    bool Unlock(uint64_t offset, uint64_t length) override {
      return inner_->Unlock(offset, length);
    }

   private:
    CrashFiles& owner_;
    std::string key_;
    std::unique_ptr<File> inner_;
  };

  static std::string Content(File& file) {
    std::string content(size_t(file.Size()), '\0');
    if (!content.empty()) content.resize(file.ReadAt(0, content.data(), content.size()));
    return content;
  }

  std::unique_ptr<File> Track(const std::string& path, std::unique_ptr<File> file) {
    if (logs_.count(path) == 0) logs_[path].durable = Content(*file);
    return std::make_unique<CrashFile>(*this, path, std::move(file));
  }
  void Alive(const std::string& path) {
    if (crashed_) throw OsError(kErrorAccessDenied, path, path + ": the process is gone");
  }
  void Step(const std::string& path) {
    ++changes_;
    if (crash_at_ > 0 && changes_ >= crash_at_) crashed_ = true;
    Alive(path);
  }

  std::map<std::string, Log> logs_;
  int changes_ = 0;
  int crash_at_ = 0;
  bool crashed_ = false;
};

}  // namespace downsql::platform
