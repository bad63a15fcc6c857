#include "http/net_io_handler_memory.h"

#include <algorithm>
#include <cstring>

namespace downsql::http {

platform::SocketIo TNetIOHandlerMemory::Recv(void* data, size_t n) {
  if (!connected_) return {0, platform::kWsaENotConnected};
  size_t count = std::min(n, answer_.size() - offset_);
  if (segment_ > 0) count = std::min(count, segment_);
  std::memcpy(data, answer_.data() + offset_, count);
  offset_ += count;
  return {count, 0};
}

platform::SocketIo TNetIOHandlerMemory::Send(const void* data, size_t n) {
  if (!connected_) return {0, platform::kWsaENotConnected};
  sent_.append(static_cast<const char*>(data), n);
  return {n, 0};
}

}  // namespace downsql::http
