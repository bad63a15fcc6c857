// TNetIOHandlerSocket: the I/O handler over one TCP socket.
#pragma once

#include "http/net_io_handler.h"
#include "http/net_socket_handle.h"

namespace downsql::http {

class TNetIOHandlerSocket : public TNetIOHandler {
 public:
  void Open() override;
  // Allocates and binds the socket, resolves the host (TNetStack rules) and
  // connects; status texts "Resolving hostname %s." and "Connecting to %s.".
  void ConnectClient(const std::string& host, int port, int timeout_ms,
                     const TNetStatusSink& status) override;
  bool Connected() const override { return binding_.HandleAllocated(); }
  void Close() override { binding_.CloseSocket(); }
  bool Readable(int timeout_ms) override;
  platform::SocketIo Recv(void* data, size_t n) override;
  platform::SocketIo Send(const void* data, size_t n) override;

  TNetSocketHandle& Binding() { return binding_; }
  // Small-packet delay; on by default.
  bool UseNagle = true;

 private:
  TNetSocketHandle binding_;
};

}  // namespace downsql::http
