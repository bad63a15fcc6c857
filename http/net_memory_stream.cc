#include "http/net_memory_stream.h"

namespace downsql::http {

void TNetMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  data_.resize(static_cast<size_t>(size));
  if (position_ > size) position_ = size;
}

void TNetMemoryStream::Write(std::string_view bytes) {
  size_t at = static_cast<size_t>(position_);
  if (data_.size() < at + bytes.size()) data_.resize(at + bytes.size());
  data_.replace(at, bytes.size(), bytes);
  position_ += static_cast<int64_t>(bytes.size());
}

}  // namespace downsql::http
