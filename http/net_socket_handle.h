// TNetSocketHandle: one socket of the client with its local and peer
// addresses and its bind settings. Every failure raises; socket errors as
// ENetSocketError with the Windows number.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace downsql::http {

class TNetSocketHandle {
 public:
  // Allocates an IPv4 stream socket (closing any held); raises
  // ENetInvalidSocket "Cannot allocate socket.".
  void AllocateSocket();
  bool HandleAllocated() const { return socket_.IsOpen(); }
  void CloseSocket() { socket_.Close(); }

  // Binds to IP:Port, or to the first free port of ClientPortMin..Max when
  // that range is set. Raises ENetCouldNotBindSocket, ENetInvalidPortRange,
  // ENetCanNotBindPortInRange or ENetSocketError.
  void Bind();
  // Connects to PeerIP:PeerPort; timeout_ms > 0 limits the wait and raises
  // ENetConnectTimeout "Connect timed out." when it passes.
  void Connect(int timeout_ms);
  void SetNagle(bool on);
  void UpdateBindingLocal();

  platform::Socket& Socket() { return socket_; }

  // Bind settings: empty address and port 0 mean any.
  std::string IP;
  int Port = 0;
  int ClientPortMin = 0;
  int ClientPortMax = 0;
  // Filled by the connect.
  std::string PeerIP;
  int PeerPort = 0;

 private:
  platform::Socket socket_;
};

}  // namespace downsql::http
