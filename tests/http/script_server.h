// A scripted TCP peer on 127.0.0.1 for the client's tests.
//
// It listens on a port the system picks and serves the scripts given, one
// accepted connection per script, on its own thread. A script is a list of
// steps: read a request head (recorded), send bytes, pause, close. After the
// last step the peer waits until the client closes. Every wait is bounded so
// a faulty client fails a test instead of hanging it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace downsql::http::testing {

struct Step {
  enum Kind { kReadHead, kSend, kPause, kClose };
  Kind kind;
  std::string bytes;
  int ms = 0;
};

inline Step ReadHead() { return {Step::kReadHead, "", 0}; }
inline Step Send(std::string bytes) { return {Step::kSend, std::move(bytes), 0}; }
inline Step Pause(int ms) { return {Step::kPause, "", ms}; }
inline Step Close() { return {Step::kClose, "", 0}; }

// The usual script: read the request, send the answer in one write, close.
inline std::vector<Step> AnswerAndClose(std::string answer) {
  return {ReadHead(), Send(std::move(answer)), Close()};
}

class ScriptServer {
 public:
  explicit ScriptServer(std::vector<std::vector<Step>> scripts);
  ~ScriptServer();

  uint16_t port() const { return port_; }
  std::string url(const std::string& target = "/") const;
  // The request heads read so far, one per kReadHead step.
  std::vector<std::string> requests();

 private:
  void Run();
  void Serve(platform::Socket& peer, const std::vector<Step>& script);

  platform::Socket listener_;
  uint16_t port_ = 0;
  std::vector<std::vector<Step>> scripts_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A loopback port on which nothing listens (bound, then closed).
uint16_t ClosedPort();

}  // namespace downsql::http::testing
