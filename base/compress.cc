// zlib compression of whole buffers: one deflate stream, finished in one
// call, and its inverse for a stream whose uncompressed size is known.
#include "base/compress.h"

#include <zlib.h>

#include <limits>

namespace downsql::base {
namespace {

void CheckSize(size_t size) {
  if (size > std::numeric_limits<uLong>::max())
    throw CompressError(Z_BUF_ERROR, "buffer too large for zlib");
}

}  // namespace

std::vector<uint8_t> Compress(const void* data, size_t size, int level) {
  if (level < 1 || level > 9) throw CompressError(Z_STREAM_ERROR, "compression level out of range");
  CheckSize(size);
  uLongf bound = compressBound(uLong(size));
  std::vector<uint8_t> out(bound);
  int status = compress2(out.data(), &bound, static_cast<const Bytef*>(data), uLong(size), level);
  if (status != Z_OK)
    throw CompressError(status, std::string("zlib compress failed: ") + zError(status));
  out.resize(bound);
  return out;
}

std::vector<uint8_t> Uncompress(const void* data, size_t size, size_t uncompressed_size) {
  CheckSize(size);
  CheckSize(uncompressed_size);
  // One spare byte tells a stream that inflates to more than announced
  // (Z_OK with the spare byte used) from an exact one.
  std::vector<uint8_t> out(uncompressed_size + 1);
  uLongf got = uLongf(out.size());
  int status = uncompress(out.data(), &got, static_cast<const Bytef*>(data), uLong(size));
  if (status == Z_BUF_ERROR && got == out.size()) {
    throw CompressError(Z_DATA_ERROR, "zlib stream is longer than its recorded size");
  }
  if (status != Z_OK) {
    throw CompressError(status, std::string("zlib uncompress failed: ") + zError(status));
  }
  if (got != uncompressed_size) {
    throw CompressError(Z_DATA_ERROR, "zlib stream size differs from its recorded size");
  }
  out.resize(got);
  return out;
}

}  // namespace downsql::base
