// zlib compression of whole buffers (one stream, finished).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace downsql::base {

// A zlib failure, with zlib's status code.
class CompressError : public std::runtime_error {
 public:
  CompressError(int status, const std::string& what) : std::runtime_error(what), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

// Compresses data at level 1..9 into one finished zlib stream.
std::vector<uint8_t> Compress(const void* data, size_t size, int level);
// Uncompresses a zlib stream whose uncompressed size is known; raises
// CompressError when the stream is damaged or its size differs.
std::vector<uint8_t> Uncompress(const void* data, size_t size, size_t uncompressed_size);

}  // namespace downsql::base
