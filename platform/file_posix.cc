// Files, directories and byte-range locks on POSIX systems, with the Windows
// behaviour the table engine was written for:
//
//  - share modes: every open takes a BSD flock on its own open file
//    description, LOCK_EX for Share::kExclusive and LOCK_SH for
//    Share::kShared, never waiting; a refused flock is a sharing violation
//    (32). flock and fcntl byte-range locks do not interact on Linux.
//  - the read-only attribute is "no write permission bit for anyone", and
//    this layer checks it itself because root ignores permission bits.
//  - byte-range locks are open-file-description locks (F_OFD_SETLK): they
//    belong to one open() and so conflict between File objects even inside
//    one process, and closing a File drops only its own. See
//    ProcessLockTable for the part they do not cover.
//  - engine paths use "\"; it becomes "/" right before each system call.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <iterator>
#include <map>
#include <mutex>
#include <vector>

#include "platform/file.h"
#include "platform/os_error.h"
#include "platform/os_error_posix.h"

namespace downsql::platform {
namespace {

constexpr uint64_t kMaxLockEnd = uint64_t(INT64_MAX);

bool StatPath(const std::string& native, struct stat& st) {
  return ::stat(native.c_str(), &st) == 0;
}

bool NoWriteBits(const struct stat& st) {
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

std::string ParentOf(const std::string& native) {
  size_t slash = native.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return native.substr(0, slash);
}

// errno of a call on a path, with ENOENT split the Windows way: a missing
// file is 2, a missing directory on the way to it is 3.
[[noreturn]] void ThrowPathErrno(int err, const std::string& path) {
  if (err == ENOENT) {
    struct stat st;
    std::string parent = ParentOf(NativePath(path));
    if (!StatPath(parent, st) || !S_ISDIR(st.st_mode)) ThrowWinError(kErrorPathNotFound, path);
  }
  ThrowErrno(err, path);
}

// Owns a descriptor until it is handed to a File.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The byte ranges locked inside this process, per physical file.
//
// POSIX locks do not stop one owner from locking twice: the kernel merges an
// overlapping request of the same open file description into the ranges it
// already holds and grants it, and a later unlock of one range silently
// releases bytes that belong to another. Windows refuses an overlapping lock
// even through the same handle, and the engine relies on that refusal: one
// physical file is opened once per process and shared by several sessions,
// each of which locks through the same File. Read-only descriptors can only
// take read locks, which the kernel lets overlap. So every lock taken in
// this process is recorded here first, and an overlap with any record for
// the same file (same device and inode) is refused before the kernel is
// asked; the kernel's OFD locks then stand for this process against others.
class ProcessLockTable {
 public:
  static ProcessLockTable& Instance() {
    static ProcessLockTable table;
    return table;
  }

  // Records [offset, offset + length) for owner when nothing in this process
  // overlaps it and take_os_lock() agrees; false otherwise.
  template <typename OsLock>
  bool Lock(dev_t dev, ino_t ino, const void* owner, uint64_t offset, uint64_t length,
            OsLock take_os_lock) {
    std::lock_guard<std::mutex> guard(mutex_);
    // The records of one file never overlap, so only the nearest one on
    // each side can (a long transaction holds a lock per changed record).
    auto after = held_.lower_bound(Key{dev, ino, offset});
    if (after != held_.end() && SameFile(after->first, dev, ino) &&
        after->first.offset < offset + length) {
      return false;
    }
    if (after != held_.begin()) {
      auto before = std::prev(after);
      if (SameFile(before->first, dev, ino) &&
          offset < before->first.offset + before->second.length)
        return false;
    }
    if (!take_os_lock()) return false;
    held_.emplace_hint(after, Key{dev, ino, offset}, Held{owner, length});
    return true;
  }

  // Drops owner's record of exactly these bounds; false when there is none.
  bool Unlock(dev_t dev, ino_t ino, const void* owner, uint64_t offset, uint64_t length) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = held_.find(Key{dev, ino, offset});
    if (it == held_.end() || it->second.owner != owner || it->second.length != length) return false;
    held_.erase(it);
    return true;
  }

  // Drops every record of owner (its descriptor is being closed, which
  // releases the kernel's locks).
  void ReleaseAll(const void* owner) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::erase_if(held_, [owner](const auto& h) { return h.second.owner == owner; });
  }

 private:
  struct Key {
    dev_t dev;
    ino_t ino;
    uint64_t offset;
    bool operator<(const Key& o) const {
      if (dev != o.dev) return dev < o.dev;
      if (ino != o.ino) return ino < o.ino;
      return offset < o.offset;
    }
  };
  struct Held {
    const void* owner;
    uint64_t length;
  };
  static bool SameFile(const Key& key, dev_t dev, ino_t ino) {
    return key.dev == dev && key.ino == ino;
  }
  std::mutex mutex_;
  std::map<Key, Held> held_;
};

class PosixFile final : public File {
 public:
  PosixFile(std::string path, Access access, int fd, dev_t dev, ino_t ino)
      : File(std::move(path), access), fd_(fd), dev_(dev), ino_(ino) {}
  ~PosixFile() override {
    ProcessLockTable::Instance().ReleaseAll(this);
    ::close(fd_);  // drops this description's flock and OFD locks
  }

  size_t ReadAt(uint64_t offset, void* data, size_t n) override {
    CheckOffset(offset, n);
    size_t done = 0;
    while (done < n) {
      ssize_t got = ::pread(fd_, static_cast<char*>(data) + done, n - done, off_t(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        ThrowErrno(errno, path());
      }
      if (got == 0) break;
      done += size_t(got);
    }
    return done;
  }

  size_t WriteAt(uint64_t offset, const void* data, size_t n) override {
    if (access() != Access::kReadWrite) ThrowWinError(kErrorAccessDenied, path());
    CheckOffset(offset, n);
    size_t done = 0;
    while (done < n) {
      ssize_t put =
          ::pwrite(fd_, static_cast<const char*>(data) + done, n - done, off_t(offset + done));
      if (put < 0) {
        if (errno == EINTR) continue;
        ThrowErrno(errno, path());
      }
      done += size_t(put);
    }
    return n;
  }

  uint64_t Size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) ThrowErrno(errno, path());
    return uint64_t(st.st_size);
  }

  void Truncate(uint64_t size) override {
    if (access() != Access::kReadWrite) ThrowWinError(kErrorAccessDenied, path());
    if (size > kMaxLockEnd) ThrowWinError(kErrorInvalidParameter, path());
    while (::ftruncate(fd_, off_t(size)) != 0) {
      if (errno != EINTR) ThrowErrno(errno, path());
    }
  }

  void Flush() override {
    if (access() != Access::kReadWrite) return;
    // The data and the size; the times need not reach the disk.
    while (::fdatasync(fd_) != 0) {
      if (errno != EINTR) ThrowErrno(errno, path());
    }
  }

  bool TryLock(uint64_t offset, uint64_t length) override {
    CheckLockRange(offset, length);
    // Write locks need a descriptor open for writing; a read-only File takes
    // a read lock, which still conflicts with the locks of read-write
    // descriptors in other processes and, through the table, with every lock
    // in this one.
    short type = access() == Access::kReadWrite ? F_WRLCK : F_RDLCK;
    return ProcessLockTable::Instance().Lock(dev_, ino_, this, offset, length,
                                             [&] { return SetLock(type, offset, length); });
  }

  bool Unlock(uint64_t offset, uint64_t length) override {
    CheckLockRange(offset, length);
    if (!ProcessLockTable::Instance().Unlock(dev_, ino_, this, offset, length)) return false;
    SetLock(F_UNLCK, offset, length);
    return true;
  }

  // Adjacent locks of this description are one run for the kernel, and no
  // lock of anyone else can lie inside a run of this File's own locks, so
  // each run is released with one call.
  bool UnlockAll(const std::vector<std::pair<uint64_t, uint64_t>>& ranges) override {
    std::vector<std::pair<uint64_t, uint64_t>> held;
    held.reserve(ranges.size());
    bool all = true;
    for (const auto& [offset, length] : ranges) {
      CheckLockRange(offset, length);
      if (ProcessLockTable::Instance().Unlock(dev_, ino_, this, offset, length)) {
        held.emplace_back(offset, length);
      } else {
        all = false;
      }
    }
    std::sort(held.begin(), held.end());
    size_t i = 0;
    while (i < held.size()) {
      uint64_t start = held[i].first;
      uint64_t end = start + held[i].second;
      for (++i; i < held.size() && held[i].first == end; ++i) end += held[i].second;
      SetLock(F_UNLCK, start, end - start);
    }
    return all;
  }

 private:
  void CheckOffset(uint64_t offset, size_t n) const {
    if (offset > kMaxLockEnd || n > kMaxLockEnd - offset) {
      ThrowWinError(kErrorInvalidParameter, path());
    }
  }

  void CheckLockRange(uint64_t offset, uint64_t length) const {
    if (length == 0 || offset > kMaxLockEnd || length > kMaxLockEnd - offset) {
      ThrowWinError(kErrorInvalidParameter, path());
    }
  }

  // False when another open file description holds a conflicting lock.
  bool SetLock(short type, uint64_t offset, uint64_t length) {
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(offset);
    fl.l_len = off_t(length);
    while (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EACCES) return false;
      ThrowErrno(errno, path());
    }
    return true;
  }

  int fd_;
  dev_t dev_;
  ino_t ino_;
};

// Takes the share-mode flock on a fresh descriptor; false when another open
// of the file does not allow ours.
bool TakeShareLock(int fd, Share share, const std::string& path) {
  int op = (share == Share::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  while (::flock(fd, op) != 0) {
    if (errno == EWOULDBLOCK) return false;
    if (errno != EINTR) ThrowErrno(errno, path);
  }
  return true;
}

// Opens path for access with the share mode; the file must be a regular
// file. Raises 32 when another open refuses to share.
std::unique_ptr<File> OpenRegular(const std::string& path, Access access, Share share, int flags) {
  std::string native = NativePath(path);
  int mode = access == Access::kReadWrite ? O_RDWR : O_RDONLY;
  int fd;
  do {
    fd = ::open(native.c_str(), mode | flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if ((flags & O_EXCL) && errno == EEXIST) ThrowWinError(kErrorFileExists, path);
    ThrowPathErrno(errno, path);
  }
  ScopedFd owned(fd);
  struct stat st;
  if (::fstat(fd, &st) != 0) ThrowErrno(errno, path);
  if (!S_ISREG(st.st_mode)) ThrowWinError(kErrorAccessDenied, path);
  if (access == Access::kReadWrite && NoWriteBits(st)) ThrowWinError(kErrorAccessDenied, path);
  if (!TakeShareLock(fd, share, path)) ThrowWinError(kErrorSharingViolation, path);
  return std::make_unique<PosixFile>(path, access, owned.release(), st.st_dev, st.st_ino);
}

// Windows refuses to delete or rename a file that is open without delete
// sharing, which no open here grants: probe with an exclusive flock.
void CheckNotOpen(const std::string& path) {
  int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;  // the real call reports what is wrong
  ScopedFd owned(fd);
  if (!TakeShareLock(fd, Share::kExclusive, path)) ThrowWinError(kErrorSharingViolation, path);
}

}  // namespace

std::unique_ptr<File> CreateFile(const std::string& path, Share share, bool fail_if_exists) {
  // No O_TRUNC: the file is emptied only after the share mode and the
  // read-only attribute have been checked, so a refused create destroys
  // nothing.
  std::unique_ptr<File> file =
      OpenRegular(path, Access::kReadWrite, share, O_CREAT | (fail_if_exists ? O_EXCL : 0));
  file->Truncate(0);
  return file;
}

std::unique_ptr<File> OpenFile(const std::string& path, Access access, Share share) {
  return OpenRegular(path, access, share, 0);
}

std::unique_ptr<File> OpenFileOrReadOnly(const std::string& path, Share share) {
  try {
    return OpenRegular(path, Access::kReadWrite, share, 0);
  } catch (const OsError& e) {
    if (e.code() != kErrorAccessDenied) throw;
  }
  return OpenRegular(path, Access::kReadOnly, share, 0);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return StatPath(NativePath(path), st) && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return StatPath(NativePath(path), st) && S_ISDIR(st.st_mode);
}

void DeleteFile(const std::string& path) {
  std::string native = NativePath(path);
  struct stat st;
  if (StatPath(native, st)) {
    if (!S_ISREG(st.st_mode) || NoWriteBits(st)) ThrowWinError(kErrorAccessDenied, path);
    CheckNotOpen(path);
  }
  if (::unlink(native.c_str()) != 0) ThrowPathErrno(errno, path);
}

void RenameFile(const std::string& from, const std::string& to) {
  std::string native_from = NativePath(from), native_to = NativePath(to);
  struct stat st;
  if (StatPath(native_from, st) && S_ISREG(st.st_mode)) CheckNotOpen(from);
  if (::renameat2(AT_FDCWD, native_from.c_str(), AT_FDCWD, native_to.c_str(), RENAME_NOREPLACE) ==
      0) {
    return;
  }
  if (errno != EINVAL && errno != ENOSYS) ThrowPathErrno(errno, from);
  // The file system cannot refuse to replace: check first, then rename.
  if (StatPath(native_to, st)) ThrowWinError(kErrorAlreadyExists, to);
  if (::rename(native_from.c_str(), native_to.c_str()) != 0) ThrowPathErrno(errno, from);
}

bool IsReadOnly(const std::string& path) {
  struct stat st;
  if (!StatPath(NativePath(path), st)) ThrowPathErrno(errno, path);
  return NoWriteBits(st);
}

void SetReadOnly(const std::string& path, bool read_only) {
  std::string native = NativePath(path);
  struct stat st;
  if (!StatPath(native, st)) ThrowPathErrno(errno, path);
  mode_t mode = st.st_mode & 07777;
  mode = read_only ? (mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  if (::chmod(native.c_str(), mode) != 0) ThrowPathErrno(errno, path);
}

void SyncDirectory(const std::string& dir) {
  const std::string native = dir.empty() ? std::string(".") : NativePath(dir);
  ScopedFd fd(::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) ThrowPathErrno(errno, dir);
  while (::fsync(fd.get()) != 0) {
    if (errno != EINTR) ThrowErrno(errno, dir);
  }
}

void CreateDirectory(const std::string& path) {
  if (::mkdir(NativePath(path).c_str(), 0777) != 0) ThrowPathErrno(errno, path);
}

std::vector<std::string> ListFiles(const std::string& dir, const std::string& extension) {
  const std::string native = dir.empty() ? std::string(".") : NativePath(dir);
  DIR* d = ::opendir(native.c_str());
  if (!d) {
    if (errno == ENOENT) ThrowWinError(kErrorPathNotFound, dir);
    ThrowErrno(errno, dir);
  }
  std::vector<std::string> names;
  auto ends_with_extension = [&](const std::string& name) {
    if (name.size() < extension.size()) return false;
    for (size_t i = 0; i < extension.size(); ++i) {
      unsigned char a = name[name.size() - extension.size() + i], b = extension[i];
      if (a >= 'A' && a <= 'Z') a = a - 'A' + 'a';
      if (b >= 'A' && b <= 'Z') b = b - 'A' + 'a';
      if (a != b) return false;
    }
    return true;
  };
  std::string base = native.back() == '/' ? native : native + "/";
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == ".." || !ends_with_extension(name)) continue;
    bool regular = e->d_type == DT_REG;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      regular = StatPath(base + name, st) && S_ISREG(st.st_mode);
    }
    if (regular) names.push_back(std::move(name));
  }
  ::closedir(d);
  return names;
}

std::string CurrentDirectory() {
  std::vector<char> buf(PATH_MAX);
  while (!::getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE) ThrowErrno(errno, ".");
    buf.resize(buf.size() * 2);
  }
  std::string dir = buf.data();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

char PathSeparator() { return '/'; }

std::string NativePath(const std::string& path) {
  std::string native = path;
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

bool StandardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

}  // namespace downsql::platform
