#include "platform/memory.h"

namespace downsql::platform {

// Large pages on Windows need a privilege that a plug-in cannot count on.
void AdviseLargeBuffer(void* data, size_t size) {
  (void)data;
  (void)size;
}

// Heap memory cannot be reset page by page safely; it is given back.
bool OfferBufferBack(void* data, size_t size) {
  (void)data;
  (void)size;
  return false;
}

}  // namespace downsql::platform
