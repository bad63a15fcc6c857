// Files on disk.
#include "db/storage/physical_file.h"

#include "platform/os_error.h"

namespace downsql::storage {

void TPhysicalFile::DoCreate(platform::Share share) { file_ = opener_.Create(name(), share); }

bool TPhysicalFile::DoOpen(platform::Access access, platform::Share share) {
  if (access == platform::Access::kReadOnly) {
    file_ = opener_.Open(name(), access, share);
  } else {
    file_ = opener_.OpenOrReadOnly(name(), share);
  }
  return file_->access() == platform::Access::kReadOnly;
}

}  // namespace downsql::storage
