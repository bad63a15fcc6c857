// TNetIOHandler: where a connection's bytes come from and go to.
//
// The connection (TNetTCPConnection) keeps the buffering, line and body
// logic; a handler only connects, waits, receives and sends. The socket
// handler talks to the network; the memory handler replays fixed bytes, so
// the whole reading code can run without sockets (tests, fuzzing).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/socket.h"

namespace downsql::http {

using TNetStatusSink = std::function<void(const std::string& text)>;

class TNetIOHandler {
 public:
  virtual ~TNetIOHandler() = default;

  // Prepares a new connection (creates or resets the handle).
  virtual void Open() = 0;
  // Connects to host:port, reporting status texts; raises on failure.
  virtual void ConnectClient(const std::string& host, int port, int timeout_ms,
                             const TNetStatusSink& status) = 0;
  virtual bool Connected() const = 0;
  virtual void Close() = 0;
  // Waits until bytes or the end of the stream can be received; timeout_ms
  // < 0 waits without limit. False when the time passed. Raises
  // ENetSocketError.
  virtual bool Readable(int timeout_ms) = 0;
  // Receives up to n bytes (count 0: the peer closed) or reports an error
  // number; raises nothing.
  virtual platform::SocketIo Recv(void* data, size_t n) = 0;
  virtual platform::SocketIo Send(const void* data, size_t n) = 0;
};

}  // namespace downsql::http
