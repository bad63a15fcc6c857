// TNetIOHandlerMemory: an I/O handler that replays an answer from memory.
//
// Connecting always succeeds; reads hand out the answer in pieces of at most
// `segment` bytes and then report the peer's close; writes are collected in
// Sent(). Nothing ever waits, so reading code driven by it cannot hang.
#pragma once

#include <string>

#include "http/net_io_handler.h"

namespace downsql::http {

class TNetIOHandlerMemory : public TNetIOHandler {
 public:
  explicit TNetIOHandlerMemory(std::string answer, size_t segment = 0)
      : answer_(std::move(answer)), segment_(segment) {}

  void Open() override {}
  void ConnectClient(const std::string&, int, int, const TNetStatusSink&) override {
    connected_ = true;
  }
  bool Connected() const override { return connected_; }
  void Close() override { connected_ = false; }
  bool Readable(int) override { return true; }
  platform::SocketIo Recv(void* data, size_t n) override;
  platform::SocketIo Send(const void* data, size_t n) override;

  const std::string& Sent() const { return sent_; }

 private:
  std::string answer_;
  size_t segment_;
  size_t offset_ = 0;
  std::string sent_;
  bool connected_ = false;
};

}  // namespace downsql::http
