#include <sys/mman.h>

#include <cstdint>

#include "platform/memory.h"

namespace downsql::platform {

void AdviseLargeBuffer(void* data, size_t size) {
#ifdef MADV_HUGEPAGE
  // madvise wants page-aligned ranges: advise the whole pages inside.
  constexpr uintptr_t kPage = 4096;
  uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kPage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

bool OfferBufferBack(void* data, size_t size) {
#ifdef MADV_FREE
  constexpr uintptr_t kPage = 4096;
  uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kPage - 1);
  if (end <= begin) return true;
  return madvise(reinterpret_cast<void*>(begin), end - begin, MADV_FREE) == 0;
#else
  (void)data;
  (void)size;
  return false;
#endif
}

}  // namespace downsql::platform
