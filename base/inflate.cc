#include "base/inflate.h"

#include <zlib.h>

#include <limits>
#include <string>

#include "base/compress.h"

namespace downsql::base {

std::vector<uint8_t> UncompressStream(const void* data, size_t size, size_t max_size) {
  if (size > std::numeric_limits<uInt>::max())
    throw CompressError(Z_BUF_ERROR, "buffer too large for zlib");
  z_stream z{};
  int status = inflateInit(&z);
  if (status != Z_OK) throw CompressError(status, "zlib inflateInit failed");
  z.next_in = const_cast<Bytef*>(static_cast<const Bytef*>(data));
  z.avail_in = static_cast<uInt>(size);
  std::vector<uint8_t> out;
  size_t chunk = size * 4 + 64;
  do {
    if (out.size() >= max_size) {
      inflateEnd(&z);
      throw CompressError(Z_DATA_ERROR, "zlib stream inflates beyond the limit");
    }
    const size_t have = out.size();
    const size_t grow =
        std::min(std::min(chunk, max_size - have), size_t(std::numeric_limits<uInt>::max()));
    out.resize(have + grow);
    z.next_out = out.data() + have;
    z.avail_out = static_cast<uInt>(grow);
    status = inflate(&z, Z_NO_FLUSH);
    out.resize(have + grow - z.avail_out);
    chunk *= 2;
  } while (status == Z_OK);
  const bool complete = status == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  if (!complete)
    throw CompressError(status == Z_STREAM_END ? Z_DATA_ERROR : status,
                        "zlib stream damaged or incomplete");
  return out;
}

}  // namespace downsql::base
