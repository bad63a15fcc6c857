// A real server program that a test starts on a loopback port and stops
// again: Python's http.server, nginx, the results service.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace downsql::http::testing {

class PeerProcess {
 public:
  // Starts argv[0] with argv, its output going to log_path, and waits until
  // 127.0.0.1:port accepts connections (10 s at most). Raises
  // std::runtime_error, with the log's end, when the program cannot start,
  // exits or never listens.
  PeerProcess(const std::vector<std::string>& argv, uint16_t port, const std::string& log_path);
  // Stops the program (SIGTERM, SIGKILL if it lingers) and reaps it.
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

 private:
  void Stop();

  pid_t pid_ = -1;
};

// A loopback port that was free a moment ago.
uint16_t FreePort();

}  // namespace downsql::http::testing
