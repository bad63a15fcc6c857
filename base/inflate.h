// Inflating a zlib stream whose uncompressed size is not recorded (BLOB
// values store only their compressed length).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace downsql::base {

// Inflates one complete zlib stream. Raises CompressError (compress.h) when
// the stream is damaged, truncated, followed by other bytes, or inflates to
// more than max_size bytes.
std::vector<uint8_t> UncompressStream(const void* data, size_t size,
                                      size_t max_size = size_t(1) << 31);

}  // namespace downsql::base
