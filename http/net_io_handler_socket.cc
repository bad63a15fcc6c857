#include "http/net_io_handler_socket.h"

#include "http/net_exception.h"
#include "http/net_stack.h"

namespace downsql::http {

void TNetIOHandlerSocket::Open() { binding_.CloseSocket(); }

void TNetIOHandlerSocket::ConnectClient(const std::string& host, int port, int timeout_ms,
                                        const TNetStatusSink& status) {
  TNetStack& stack = TNetStack::Instance();
  binding_.AllocateSocket();
  binding_.Bind();
  status("Resolving hostname " + host + ".");
  binding_.PeerIP = TNetStack::AddressText(stack.ResolveHost(host));
  binding_.PeerPort = port;
  if (!UseNagle) binding_.SetNagle(false);
  status("Connecting to " + binding_.PeerIP + ".");
  binding_.Connect(timeout_ms);
  binding_.UpdateBindingLocal();
}

bool TNetIOHandlerSocket::Readable(int timeout_ms) {
  int rc = binding_.Socket().WaitReadable(timeout_ms);
  if (rc == 0 || rc == 1) return rc == 1;
  throw ENetSocketError(rc);
}

platform::SocketIo TNetIOHandlerSocket::Recv(void* data, size_t n) {
  return binding_.Socket().Receive(data, n);
}

platform::SocketIo TNetIOHandlerSocket::Send(const void* data, size_t n) {
  return binding_.Socket().Send(data, n);
}

}  // namespace downsql::http
