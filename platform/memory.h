// Hints about how the process uses its memory.
#pragma once

#include <cstddef>

namespace downsql::platform {

// Tells the system that [data, data + size) is one large buffer that will be
// filled from front to back, so that it may back it with large pages: filling
// tens of megabytes then takes hundreds of page faults instead of thousands.
// Only a hint: it changes no content and never fails; systems without such
// pages ignore it.
void AdviseLargeBuffer(void* data, size_t size);

}  // namespace downsql::platform
