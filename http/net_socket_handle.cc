#include "http/net_socket_handle.h"

#include "http/net_exception.h"
#include "http/net_stack.h"

namespace downsql::http {

void TNetSocketHandle::AllocateSocket() {
  if (socket_.Open() != 0) throw ENetInvalidSocket("Cannot allocate socket.");
}

void TNetSocketHandle::Bind() {
  uint32_t address = 0;
  if (!IP.empty()) address = TNetStack::Instance().ResolveHost(IP);
  if (ClientPortMin == 0 && ClientPortMax == 0) {
    int error = socket_.Bind(address, static_cast<uint16_t>(Port));
    if (error == platform::kWsaEAddressInUse)
      throw ENetCouldNotBindSocket("Could not bind socket. Address and port are already in use.");
    if (error != 0) throw ENetSocketError(error);
    return;
  }
  std::string range =
      "(" + std::to_string(ClientPortMin) + " - " + std::to_string(ClientPortMax) + ")";
  if (ClientPortMin > ClientPortMax || ClientPortMin < 0 || ClientPortMax > 65535)
    throw ENetInvalidPortRange("Invalid Port Range " + range);
  for (int port = ClientPortMin; port <= ClientPortMax; ++port) {
    if (socket_.Bind(address, static_cast<uint16_t>(port)) == 0) return;
  }
  throw ENetCanNotBindPortInRange("Can not bind in port range " + range);
}

void TNetSocketHandle::Connect(int timeout_ms) {
  uint32_t address = 0;
  if (!TNetStack::IsIP(PeerIP, &address)) throw ENetSocketError(platform::kWsaEAddressNotAvailable);
  // A port outside 0..65535 would be cut to another port by the system.
  if (PeerPort < 0 || PeerPort > 65535) throw ENetSocketError(platform::kWsaEAddressNotAvailable);
  int error = socket_.Connect(address, static_cast<uint16_t>(PeerPort), timeout_ms);
  if (error == platform::kWsaETimedOut && timeout_ms > 0) {
    socket_.Close();
    throw ENetConnectTimeout("Connect timed out.");
  }
  if (error != 0) throw ENetSocketError(error);
}

void TNetSocketHandle::SetNagle(bool on) {
  int error = socket_.SetNoDelay(!on);
  if (error != 0) throw ENetSocketError(error);
}

void TNetSocketHandle::UpdateBindingLocal() {
  uint32_t address = 0;
  uint16_t port = 0;
  if (socket_.LocalName(&address, &port) == 0) {
    IP = TNetStack::AddressText(address);
    Port = port;
  }
}

}  // namespace downsql::http
