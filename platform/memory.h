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

// Tells the system that the content of [data, data + size) is no longer
// needed while the memory stays allocated: it may take the pages back when
// it runs short (they read as zeros then), else they are reused as they are,
// without page faults. Returns false where the system offers no such thing;
// the caller should then give the memory back instead of keeping it.
bool OfferBufferBack(void* data, size_t size);

}  // namespace downsql::platform
