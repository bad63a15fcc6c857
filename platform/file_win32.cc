// Files, directories and byte-range locks on Windows: thin wrappers over the
// ANSI file API, whose share modes, read-only attribute and LockFileEx
// semantics are the ones the table engine was written for. Text paths are
// in the process's ANSI code page (Windows-1250 on the host's systems).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// <windows.h> maps these names onto its A/W functions; ours are plain.
#undef CreateFile
#undef DeleteFile
#undef CreateDirectory

#include <algorithm>

#include "platform/file.h"
#include "platform/os_error.h"
#include "platform/os_error_win32.h"

namespace downsql::platform {
namespace {

constexpr uint64_t kMaxEnd = 0x7FFFFFFFFFFFFFFFull;

// Owns a file handle until it is handed to a File.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h) : h_(h) {}
  ~ScopedHandle() {
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return h_; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }

 private:
  HANDLE h_;
};

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov = {};
  ov.Offset = DWORD(offset);
  ov.OffsetHigh = DWORD(offset >> 32);
  return ov;
}

class Win32File final : public File {
 public:
  Win32File(std::string path, Access access, HANDLE h) : File(std::move(path), access), h_(h) {}
  ~Win32File() override { ::CloseHandle(h_); }  // releases this handle's locks

  size_t ReadAt(uint64_t offset, void* data, size_t n) override {
    CheckRange(offset, n);
    size_t done = 0;
    while (done < n) {
      DWORD part = DWORD(std::min<size_t>(n - done, 1u << 30)), got = 0;
      OVERLAPPED ov = At(offset + done);
      if (!::ReadFile(h_, static_cast<char*>(data) + done, part, &got, &ov)) {
        if (::GetLastError() == ERROR_HANDLE_EOF) break;
        ThrowLastError(path());
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  size_t WriteAt(uint64_t offset, const void* data, size_t n) override {
    if (access() != Access::kReadWrite) ThrowWinError(kErrorAccessDenied, path());
    CheckRange(offset, n);
    size_t done = 0;
    while (done < n) {
      DWORD part = DWORD(std::min<size_t>(n - done, 1u << 30)), put = 0;
      OVERLAPPED ov = At(offset + done);
      if (!::WriteFile(h_, static_cast<const char*>(data) + done, part, &put, &ov)) {
        ThrowLastError(path());
      }
      if (put == 0) ThrowWinError(kErrorDiskFull, path());
      done += put;
    }
    return n;
  }

  uint64_t Size() override {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(h_, &size)) ThrowLastError(path());
    return uint64_t(size.QuadPart);
  }

  void Truncate(uint64_t size) override {
    if (access() != Access::kReadWrite) ThrowWinError(kErrorAccessDenied, path());
    if (size > kMaxEnd) ThrowWinError(kErrorInvalidParameter, path());
    LARGE_INTEGER to;
    to.QuadPart = LONGLONG(size);
    if (!::SetFilePointerEx(h_, to, nullptr, FILE_BEGIN) || !::SetEndOfFile(h_)) {
      ThrowLastError(path());
    }
  }

  void Flush() override {
    if (access() != Access::kReadWrite) return;
    if (!::FlushFileBuffers(h_)) ThrowLastError(path());
  }

  // LockFileEx already refuses an overlapping lock through the same handle,
  // so no table of held ranges is needed on this side.
  bool TryLock(uint64_t offset, uint64_t length) override {
    CheckLockRange(offset, length);
    OVERLAPPED ov = At(offset);
    if (::LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, DWORD(length),
                     DWORD(length >> 32), &ov)) {
      return true;
    }
    DWORD err = ::GetLastError();
    if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING) return false;
    ThrowWinError(err, path());
  }

  bool Unlock(uint64_t offset, uint64_t length) override {
    CheckLockRange(offset, length);
    OVERLAPPED ov = At(offset);
    if (::UnlockFileEx(h_, 0, DWORD(length), DWORD(length >> 32), &ov)) return true;
    DWORD err = ::GetLastError();
    // A range that another handle holds is not held here either; some
    // systems (wine) report it as a lock violation rather than "not locked".
    if (err == ERROR_NOT_LOCKED || err == ERROR_LOCK_VIOLATION) return false;
    ThrowWinError(err, path());
  }

 private:
  void CheckRange(uint64_t offset, size_t n) const {
    if (offset > kMaxEnd || n > kMaxEnd - offset) ThrowWinError(kErrorInvalidParameter, path());
  }
  void CheckLockRange(uint64_t offset, uint64_t length) const {
    if (length == 0 || offset > kMaxEnd || length > kMaxEnd - offset) {
      ThrowWinError(kErrorInvalidParameter, path());
    }
  }

  HANDLE h_;
};

DWORD ShareFlags(Share share) {
  return share == Share::kExclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
}

std::unique_ptr<File> Open(const std::string& path, Access access, Share share, DWORD disposition) {
  std::string native = NativePath(path);
  // The system refuses to write a file with the read-only attribute, except
  // where its emulation maps the attribute onto permissions that an
  // administrator bypasses (wine run as root): the attribute is checked here
  // too, as on POSIX.
  if (access == Access::kReadWrite && disposition != CREATE_NEW) {
    DWORD a = ::GetFileAttributesA(native.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) &&
        !(a & FILE_ATTRIBUTE_DIRECTORY)) {
      ThrowWinError(kErrorAccessDenied, path);
    }
  }
  DWORD rights = GENERIC_READ | (access == Access::kReadWrite ? GENERIC_WRITE : 0);
  ScopedHandle h(::CreateFileA(native.c_str(), rights, ShareFlags(share), nullptr, disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (h.get() == INVALID_HANDLE_VALUE) ThrowLastError(path);
  return std::make_unique<Win32File>(path, access, h.release());
}

DWORD Attributes(const std::string& path) { return ::GetFileAttributesA(NativePath(path).c_str()); }

bool EndsWithNoCase(const std::string& name, const std::string& extension) {
  if (name.size() < extension.size()) return false;
  return ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE,
                          name.data() + name.size() - extension.size(), int(extension.size()),
                          extension.data(), int(extension.size())) == CSTR_EQUAL;
}

}  // namespace

std::unique_ptr<File> CreateFile(const std::string& path, Share share, bool fail_if_exists) {
  return Open(path, Access::kReadWrite, share, fail_if_exists ? CREATE_NEW : CREATE_ALWAYS);
}

std::unique_ptr<File> OpenFile(const std::string& path, Access access, Share share) {
  return Open(path, access, share, OPEN_EXISTING);
}

std::unique_ptr<File> OpenFileOrReadOnly(const std::string& path, Share share) {
  try {
    return Open(path, Access::kReadWrite, share, OPEN_EXISTING);
  } catch (const OsError& e) {
    if (e.code() != kErrorAccessDenied) throw;
  }
  return Open(path, Access::kReadOnly, share, OPEN_EXISTING);
}

bool FileExists(const std::string& path) {
  DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void DeleteFile(const std::string& path) {
  if (!::DeleteFileA(NativePath(path).c_str())) ThrowLastError(path);
}

void RenameFile(const std::string& from, const std::string& to) {
  if (!::MoveFileA(NativePath(from).c_str(), NativePath(to).c_str())) ThrowLastError(from);
}

bool IsReadOnly(const std::string& path) {
  DWORD a = Attributes(path);
  if (a == INVALID_FILE_ATTRIBUTES) ThrowLastError(path);
  return (a & FILE_ATTRIBUTE_READONLY) != 0;
}

void SetReadOnly(const std::string& path, bool read_only) {
  DWORD a = Attributes(path);
  if (a == INVALID_FILE_ATTRIBUTES) ThrowLastError(path);
  a = read_only ? (a | FILE_ATTRIBUTE_READONLY) : (a & ~DWORD(FILE_ATTRIBUTE_READONLY));
  if (!::SetFileAttributesA(NativePath(path).c_str(), a)) ThrowLastError(path);
}

// Windows cannot open a directory for flushing; see file.h.
void SyncDirectory(const std::string&) {}

void CreateDirectory(const std::string& path) {
  if (!::CreateDirectoryA(NativePath(path).c_str(), nullptr)) ThrowLastError(path);
}

std::vector<std::string> ListFiles(const std::string& dir, const std::string& extension) {
  // "*" and our own extension test: a "*.dat" pattern would also match
  // "x.data" through its short 8.3 name.
  std::string pattern = NativePath(dir);
  if (!pattern.empty() && pattern.back() != '\\') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA found;
  HANDLE h = ::FindFirstFileA(pattern.c_str(), &found);
  std::vector<std::string> names;
  if (h == INVALID_HANDLE_VALUE) {
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return names;
    ThrowLastError(dir);
  }
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::string name = found.cFileName;
    if (EndsWithNoCase(name, extension)) names.push_back(std::move(name));
  } while (::FindNextFileA(h, &found));
  DWORD err = ::GetLastError();
  ::FindClose(h);
  if (err != ERROR_NO_MORE_FILES) ThrowWinError(err, dir);
  return names;
}

std::string CurrentDirectory() {
  DWORD n = ::GetCurrentDirectoryA(0, nullptr);
  std::string dir(n, '\0');
  n = ::GetCurrentDirectoryA(n, dir.data());
  if (n == 0) ThrowLastError(".");
  dir.resize(n);
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  return dir;
}

char PathSeparator() { return '\\'; }

std::string NativePath(const std::string& path) {
  std::string native = path;
  std::replace(native.begin(), native.end(), '/', '\\');
  return native;
}

bool StandardOutputIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

}  // namespace downsql::platform
