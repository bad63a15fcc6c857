#include "http/net_memory_stream.h"

#include "platform/memory.h"

namespace downsql::http {
namespace {

// A store this large is an answer of many megabytes, filled front to back.
constexpr size_t kLargeStore = size_t{4} << 20;

}  // namespace

void TNetMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  data_.resize(static_cast<size_t>(size));
  if (position_ > size) position_ = size;
}

std::string TNetMemoryStream::TakeData() {
  std::string data = std::move(data_);
  data_.clear();
  position_ = 0;
  return data;
}

void TNetMemoryStream::Reserve(int64_t size) {
  if (size <= 0 || static_cast<size_t>(size) <= data_.capacity()) return;
  data_.reserve(static_cast<size_t>(size));
  AdviseIfLarge();
}

void TNetMemoryStream::AdviseIfLarge() {
  if (data_.capacity() >= kLargeStore) platform::AdviseLargeBuffer(data_.data(), data_.capacity());
}

void TNetMemoryStream::Write(std::string_view bytes) {
  size_t at = static_cast<size_t>(position_);
  if (at == data_.size()) {
    const size_t capacity = data_.capacity();
    data_.append(bytes);
    if (data_.capacity() != capacity) AdviseIfLarge();
    position_ += static_cast<int64_t>(bytes.size());
    return;
  }
  if (data_.size() < at + bytes.size()) data_.resize(at + bytes.size());
  data_.replace(at, bytes.size(), bytes);
  position_ += static_cast<int64_t>(bytes.size());
}

}  // namespace downsql::http
