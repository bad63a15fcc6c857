#include "platform/memory.h"

namespace downsql::platform {

// Large pages on Windows need a privilege that a plug-in cannot count on.
void AdviseLargeBuffer(void* data, size_t size) {
  (void)data;
  (void)size;
}

}  // namespace downsql::platform
