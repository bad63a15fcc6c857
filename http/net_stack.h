// TNetStack: the process-wide access to the system's sockets.
//
// The first Instance() starts the socket library (Winsock 2.2 on Windows)
// once for the process; name resolution follows the client's rules.
#pragma once

#include <cstdint>
#include <string>

namespace downsql::http {

class TNetStack {
 public:
  // The stack; raises ENetStackInitializationFailed "Winsock Initialization
  // Error." when the socket library cannot be started.
  static TNetStack& Instance();

  // IPv4 address (host byte order) of a host: "LOCALHOST" in any case is
  // 127.0.0.1 and a dotted address is taken as written, both without a name
  // look-up; any other name asks the name service for its first IPv4
  // address. Raises ENetSocketError (11001 for an unknown name).
  uint32_t ResolveHost(const std::string& host);

  // A dotted IPv4 text of four decimal parts 0..255.
  static bool IsIP(const std::string& text, uint32_t* address);
  static std::string AddressText(uint32_t address);

 private:
  TNetStack() = default;
};

}  // namespace downsql::http
