#include "tests/http/peer_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/socket.h"

extern char** environ;

namespace downsql::http::testing {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;

bool Accepts(uint16_t port) {
  platform::Socket socket;
  return socket.Open() == 0 && socket.Connect(kLoopback, port, 1000) == 0;
}

std::string LogTail(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  std::string log = text.str();
  return log.size() > 2000 ? log.substr(log.size() - 2000) : log;
}

}  // namespace

PeerProcess::PeerProcess(const std::vector<std::string>& argv, uint16_t port,
                         const std::string& log_path) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + argv[0]);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Accepts(port)) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error(argv[0] + " exited:\n" + LogTail(log_path));
    }
    if (std::chrono::steady_clock::now() > deadline) {
      Stop();
      throw std::runtime_error(argv[0] + " does not listen:\n" + LogTail(log_path));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

PeerProcess::~PeerProcess() { Stop(); }

void PeerProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

uint16_t FreePort() {
  platform::Socket socket;
  uint32_t address = 0;
  uint16_t port = 0;
  if (platform::StartSockets() != 0 || socket.Open() != 0 || socket.Bind(kLoopback, 0) != 0 ||
      socket.LocalName(&address, &port) != 0)
    throw std::runtime_error("no free port");
  return port;
}

}  // namespace downsql::http::testing
