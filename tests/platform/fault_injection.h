// A File wrapper for tests that makes chosen calls fail, the way a full
// disk, a lost network share or a competing process would.
//
//   auto file = std::make_unique<FaultInjectingFile>(OpenFile(...));
//   file->FailNth(FaultOp::kWrite, 3, kErrorDiskFull);   // 3rd write raises 112
//   file->ShortNth(FaultOp::kRead, 1, 10);              // 1st read stops at 10 bytes
//   file->RefuseNthLock(2);                             // 2nd TryLock says no
//
// Calls are counted per operation from construction, 1-based; calls() tells
// how many there were. Every call that is not faulted goes to the wrapped
// File unchanged.
//
// FaultInjectingOpener hands such files to code that opens files through a
// FileOpener (the table engine's open path), and finds them again by the
// end of their path:
//
//   FaultInjectingOpener files;
//   options.files = &files;  ... open the table ...
//   files.Last(".dat")->FailNext(FaultOp::kWrite, kErrorDiskFull);
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/os_error.h"

namespace downsql::platform {

enum class FaultOp { kRead, kWrite, kSize, kTruncate, kFlush, kLock, kUnlock };

class FaultInjectingFile final : public File {
 public:
  explicit FaultInjectingFile(std::unique_ptr<File> inner)
      : File(inner->path(), inner->access()), inner_(std::move(inner)) {}
  ~FaultInjectingFile() override {
    if (on_close_) on_close_(this);
  }
  // Called with this file when it is closed (destroyed).
  void set_on_close(std::function<void(FaultInjectingFile*)> on_close) {
    on_close_ = std::move(on_close);
  }

  // The nth call of op raises OsError(code); with sticky, every call from
  // the nth on does.
  void FailNth(FaultOp op, int nth, uint32_t code, bool sticky = false) {
    faults_.push_back({op, nth, code, sticky, Kind::kRaise, 0});
  }
  // The nth ReadAt or WriteAt moves only the first `bytes` bytes and returns
  // that count (a short write really writes those bytes).
  void ShortNth(FaultOp op, int nth, size_t bytes) {
    faults_.push_back({op, nth, 0, false, Kind::kShort, bytes});
  }
  // The nth TryLock returns false without taking the lock.
  void RefuseNthLock(int nth) {
    faults_.push_back({FaultOp::kLock, nth, 0, false, Kind::kRefuse, 0});
  }

  // The next call of op raises OsError(code).
  void FailNext(FaultOp op, uint32_t code) { FailNth(op, calls(op) + 1, code); }

  int calls(FaultOp op) const { return calls_[size_t(op)]; }
  File& inner() { return *inner_; }

  size_t ReadAt(uint64_t offset, void* data, size_t n) override {
    const Fault* f = Next(FaultOp::kRead);
    if (f && f->kind == Kind::kShort) n = std::min(n, f->bytes);
    return inner_->ReadAt(offset, data, n);
  }
  size_t WriteAt(uint64_t offset, const void* data, size_t n) override {
    const Fault* f = Next(FaultOp::kWrite);
    if (f && f->kind == Kind::kShort) {
      size_t part = std::min(n, f->bytes);
      if (part > 0) inner_->WriteAt(offset, data, part);
      return part;
    }
    return inner_->WriteAt(offset, data, n);
  }
  uint64_t Size() override {
    Next(FaultOp::kSize);
    return inner_->Size();
  }
  void Truncate(uint64_t size) override {
    Next(FaultOp::kTruncate);
    inner_->Truncate(size);
  }
  void Flush() override {
    Next(FaultOp::kFlush);
    inner_->Flush();
  }
  bool TryLock(uint64_t offset, uint64_t length) override {
    const Fault* f = Next(FaultOp::kLock);
    if (f && f->kind == Kind::kRefuse) return false;
    return inner_->TryLock(offset, length);
  }
  bool Unlock(uint64_t offset, uint64_t length) override {
    Next(FaultOp::kUnlock);
    return inner_->Unlock(offset, length);
  }

 private:
  enum class Kind { kRaise, kShort, kRefuse };
  struct Fault {
    FaultOp op;
    int nth;
    uint32_t code;
    bool sticky;
    Kind kind;
    size_t bytes;
  };

  // Counts a call of op and returns the fault that applies to it, if any;
  // raising faults are raised here.
  const Fault* Next(FaultOp op) {
    int n = ++calls_[size_t(op)];
    for (const Fault& f : faults_) {
      if (f.op != op || !(f.nth == n || (f.sticky && n > f.nth))) continue;
      if (f.kind == Kind::kRaise) {
        throw OsError(f.code, path(), path() + ": injected error " + std::to_string(f.code));
      }
      return &f;
    }
    return nullptr;
  }

  std::unique_ptr<File> inner_;
  std::function<void(FaultInjectingFile*)> on_close_;
  std::vector<Fault> faults_;
  std::array<int, 7> calls_ = {};
};

// Opens and creates real files, each wrapped in a FaultInjectingFile.
class FaultInjectingOpener final : public FileOpener {
 public:
  std::unique_ptr<File> Create(const std::string& path, Share share) override {
    return Wrap(CreateFile(path, share));
  }
  std::unique_ptr<File> Open(const std::string& path, Access access, Share share) override {
    return Wrap(OpenFile(path, access, share));
  }
  std::unique_ptr<File> OpenOrReadOnly(const std::string& path, Share share) override {
    return Wrap(OpenFileOrReadOnly(path, share));
  }

  // The open file made last whose path ends in ending;
  // nullptr when there is none.
  FaultInjectingFile* Last(const std::string& ending) const {
    for (auto it = made_->rbegin(); it != made_->rend(); ++it) {
      const std::string& path = (*it)->path();
      if (path.size() >= ending.size() &&
          path.compare(path.size() - ending.size(), ending.size(), ending) == 0) {
        return *it;
      }
    }
    return nullptr;
  }

 private:
  std::unique_ptr<File> Wrap(std::unique_ptr<File> file) {
    auto wrapped = std::make_unique<FaultInjectingFile>(std::move(file));
    std::weak_ptr<std::vector<FaultInjectingFile*>> made = made_;
    wrapped->set_on_close([made](FaultInjectingFile* closed) {
      if (auto list = made.lock()) std::erase(*list, closed);
    });
    made_->push_back(wrapped.get());
    return wrapped;
  }

  // Files that are still open, oldest first.
  std::shared_ptr<std::vector<FaultInjectingFile*>> made_ =
      std::make_shared<std::vector<FaultInjectingFile*>>();
};

}  // namespace downsql::platform
