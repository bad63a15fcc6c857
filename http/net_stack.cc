#include "http/net_stack.h"

#include "http/net_exception.h"
#include "platform/socket.h"

namespace downsql::http {

TNetStack& TNetStack::Instance() {
  static const int started = platform::StartSockets();
  if (started != 0) throw ENetStackInitializationFailed("Winsock Initialization Error.");
  static TNetStack stack;
  return stack;
}

bool TNetStack::IsIP(const std::string& text, uint32_t* address) {
  uint32_t result = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
    size_t digits = 0;
    uint32_t value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      value = value * 10 + static_cast<uint32_t>(text[i] - '0');
      ++i, ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    result = (result << 8) | value;
  }
  if (i != text.size()) return false;
  *address = result;
  return true;
}

std::string TNetStack::AddressText(uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
         std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
}

uint32_t TNetStack::ResolveHost(const std::string& host) {
  std::string upper = host;
  for (char& ch : upper)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  if (upper == "LOCALHOST") return 0x7F000001;
  uint32_t address = 0;
  if (IsIP(host, &address)) return address;
  int error = platform::ResolveHostIPv4(host, &address);
  if (error != 0) throw ENetSocketError(error);
  return address;
}

}  // namespace downsql::http
