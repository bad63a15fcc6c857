#include "http/net_tcp_client.h"

#include "http/net_exception.h"
#include "http/net_io_handler_socket.h"

namespace downsql::http {

void TNetTCPClient::Connect(int timeout_ms) {
  if (io_ == nullptr) {
    owned_io_ = std::make_unique<TNetIOHandlerSocket>();
    io_ = owned_io_.get();
  } else if (io_->Connected()) {
    throw ENetAlreadyConnected("Already connected.");
  }
  try {
    io_->Open();
    ClearInputBuffer();
    closed_gracefully_ = false;
    io_->ConnectClient(Host, Port, timeout_ms, [this](const std::string& text) { DoStatus(text); });
    DoStatus("Connected.");
  } catch (...) {
    Disconnect();
    throw;
  }
}

}  // namespace downsql::http
