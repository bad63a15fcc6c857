#include "tests/http/script_server.h"

#include <chrono>
#include <stdexcept>

namespace downsql::http::testing {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr int kWaitMs = 10000;

}  // namespace

ScriptServer::ScriptServer(std::vector<std::vector<Step>> scripts) : scripts_(std::move(scripts)) {
  uint32_t address = 0;
  if (platform::StartSockets() != 0 || listener_.Open() != 0 || listener_.Bind(kLoopback, 0) != 0 ||
      listener_.Listen(8) != 0 || listener_.LocalName(&address, &port_) != 0)
    throw std::runtime_error("script server: cannot listen");
  thread_ = std::thread([this] { Run(); });
}

ScriptServer::~ScriptServer() { thread_.join(); }

std::string ScriptServer::url(const std::string& target) const {
  return "http://127.0.0.1:" + std::to_string(port_) + target;
}

std::vector<std::string> ScriptServer::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void ScriptServer::Run() {
  for (const std::vector<Step>& script : scripts_) {
    if (listener_.WaitReadable(kWaitMs) != 1) return;
    platform::Socket peer;
    if (listener_.Accept(&peer) != 0) return;
    Serve(peer, script);
  }
}

void ScriptServer::Serve(platform::Socket& peer, const std::vector<Step>& script) {
  std::string pending;
  char buffer[4096];
  for (const Step& step : script) {
    switch (step.kind) {
      case Step::kReadHead: {
        size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
          if (peer.WaitReadable(kWaitMs) != 1) return;
          platform::SocketIo io = peer.Receive(buffer, sizeof buffer);
          if (io.error != 0 || io.count == 0) return;
          pending.append(buffer, io.count);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(pending.substr(0, end + 4));
        pending.erase(0, end + 4);
        break;
      }
      case Step::kSend: {
        size_t sent = 0;
        while (sent < step.bytes.size()) {
          platform::SocketIo io = peer.Send(step.bytes.data() + sent, step.bytes.size() - sent);
          if (io.error != 0) return;
          sent += io.count;
        }
        break;
      }
      case Step::kPause:
        std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
        break;
      case Step::kClose:
        peer.Close();
        return;
    }
  }
  // Keep the connection until the client lets go of it.
  while (peer.WaitReadable(kWaitMs) == 1) {
    platform::SocketIo io = peer.Receive(buffer, sizeof buffer);
    if (io.error != 0 || io.count == 0) return;
  }
}

uint16_t ClosedPort() {
  platform::Socket socket;
  uint32_t address = 0;
  uint16_t port = 0;
  if (socket.Open() != 0 || socket.Bind(kLoopback, 0) != 0 ||
      socket.LocalName(&address, &port) != 0)
    throw std::runtime_error("cannot bind");
  return port;  // closed when socket goes out of scope
}

}  // namespace downsql::http::testing
