// Engine files: the file layer with engine errors.
#include "db/storage/engine_file.h"

#include <vector>

#include "db/storage/engine_error.h"

namespace downsql::storage {

uint32_t EngineCodeForOsError(uint32_t os_code) {
  switch (os_code) {
    case 2:
    case 3:
      return kErrFileNotFound;
    case 4:
      return kErrTooManyOpenFiles;
    case 5:
    case 32:
    case 65:
    case 183:
      return kErrAccessDenied;
    case 6:
      return kErrInvalidFileHandle;
    case 8:
    case 14:
      return kErrOutOfMemory;
    case 15:
      return kErrDeviceAccessDenied;
    case 17:
      return kErrFileMoved;
    default:
      return kErrUnknownOsError;
  }
}

TEngineFile::TEngineFile(std::string name, bool in_memory)
    : name_(name.substr(0, 255)), in_memory_(in_memory) {}

TEngineFile::~TEngineFile() {
  try {
    Close();
  } catch (...) {
  }
}

void TEngineFile::RaiseOsError(const platform::OsError& e) const {
  uint32_t code = EngineCodeForOsError(e.code());
  if (code == kErrUnknownOsError) throw ETabulaEngineError(code, {std::to_string(e.code()), name_});
  throw ETabulaEngineError(code, {name_});
}

void TEngineFile::RequireOpen() const {
  if (!file_) throw ETabulaEngineError(kErrInvalidFileHandle, {name_});
}

bool TEngineFile::Exists() const {
  try {
    return BaseFileExists(name_, in_memory_);
  } catch (const platform::OsError& e) {
    RaiseOsError(e);
  }
}

void TEngineFile::Create(bool exclusive) {
  Close();
  try {
    auto file = AcquireBaseFile(name_, in_memory_, opener_);
    handle_ = file->Create(exclusive ? platform::Share::kExclusive : platform::Share::kShared);
    file_ = std::move(file);
    read_only_ = false;
  } catch (const platform::OsError& e) {
    RaiseOsError(e);
  }
}

void TEngineFile::Open(bool read_only, bool exclusive) {
  Close();
  try {
    auto file = AcquireBaseFile(name_, in_memory_, opener_);
    handle_ = file->Open(read_only ? platform::Access::kReadOnly : platform::Access::kReadWrite,
                         exclusive ? platform::Share::kExclusive : platform::Share::kShared);
    read_only_ = file->read_only(handle_);
    file_ = std::move(file);
  } catch (const platform::OsError& e) {
    RaiseOsError(e);
  }
}

void TEngineFile::Close() {
  if (!file_) return;
  auto file = std::move(file_);
  file_.reset();
  try {
    file->Close(handle_);
  } catch (const platform::OsError& e) {
    RaiseOsError(e);
  }
}

void TEngineFile::Delete() {
  Close();
  try {
    DeleteBaseFile(name_, in_memory_);
  } catch (const platform::OsError& e) {
    RaiseOsError(e);
  }
}

void TEngineFile::Rename(const std::string& new_name) {
  Close();
  std::string target = new_name.substr(0, 255);
  try {
    RenameBaseFile(name_, target, in_memory_);
  } catch (const platform::OsError& e) {
    RaiseOsError(e);
  }
  name_ = target;
}

size_t TEngineFile::ReadUpTo(uint64_t pos, void* data, size_t n) {
  RequireOpen();
  try {
    return file_->ReadAt(handle_, pos, data, n);
  } catch (const platform::OsError&) {
    throw ETabulaEngineError(kErrReadFailed, {name_});
  }
}

void TEngineFile::Read(uint64_t pos, void* data, size_t n) {
  if (ReadUpTo(pos, data, n) != n) throw ETabulaEngineError(kErrReadFailed, {name_});
}

void TEngineFile::Write(uint64_t pos, const void* data, size_t n) {
  RequireOpen();
  if (read_only_) throw ETabulaEngineError(kErrAccessDenied, {name_});
  if (n == 0) return;
  if (guard_) guard_->BeforeWrite(*this, pos, n);
  size_t written = 0;
  try {
    written = file_->WriteAt(handle_, pos, data, n);
  } catch (const platform::OsError& e) {
    if (e.code() == platform::kErrorAccessDenied) RaiseOsError(e);
    throw ETabulaEngineError(kErrWriteFailed, {name_});
  }
  if (written != n) throw ETabulaEngineError(kErrWriteFailed, {name_});
}

uint64_t TEngineFile::Size() {
  RequireOpen();
  try {
    return file_->Size();
  } catch (const platform::OsError& e) {
    RaiseOsError(e);
  }
}

void TEngineFile::Truncate(uint64_t size) {
  RequireOpen();
  if (read_only_) throw ETabulaEngineError(kErrAccessDenied, {name_});
  if (guard_) guard_->BeforeTruncate(*this, size);
  try {
    file_->Truncate(handle_, size);
  } catch (const platform::OsError&) {
    throw ETabulaEngineError(kErrWriteFailed, {name_});
  }
}

void TEngineFile::Flush() {
  RequireOpen();
  try {
    file_->Flush(handle_);
  } catch (const platform::OsError&) {
    throw ETabulaEngineError(kErrWriteFailed, {name_});
  }
  if (guard_) guard_->AfterFlush(*this);
}

bool TEngineFile::Lock(uint64_t offset, uint64_t length) {
  RequireOpen();
  try {
    return file_->Lock(handle_, offset, length);
  } catch (const platform::OsError& e) {
    RaiseOsError(e);
  }
}

bool TEngineFile::Unlock(uint64_t offset, uint64_t length) {
  RequireOpen();
  try {
    return file_->Unlock(handle_, offset, length);
  } catch (const platform::OsError& e) {
    RaiseOsError(e);
  }
}

bool TEngineFile::UnlockAll(const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
  RequireOpen();
  try {
    return file_->UnlockAll(handle_, ranges);
  } catch (const platform::OsError& e) {
    RaiseOsError(e);
  }
}

void TEngineFile::CopyTo(TEngineFile& target) {
  RequireOpen();
  uint64_t size = Size();
  target.Truncate(0);
  std::vector<uint8_t> chunk(1 << 16);
  for (uint64_t pos = 0; pos < size; pos += chunk.size()) {
    size_t n = size_t(std::min<uint64_t>(chunk.size(), size - pos));
    Read(pos, chunk.data(), n);
    target.Write(pos, chunk.data(), n);
  }
}

}  // namespace downsql::storage
