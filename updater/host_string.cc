// Copying a host string.
#include "updater/host_string.h"

#include <cstdint>
#include <cstring>

namespace downsql::updater {

std::string ReadHostString(const char* text) {
  if (text == nullptr) return {};
  int32_t length;
  std::memcpy(&length, text + kHostStringLengthOffset, sizeof length);
  if (length <= 0) return {};
  return std::string(text, static_cast<size_t>(length));
}

}  // namespace downsql::updater
