#include "tests/tools/service_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace downsql::draws::testing {

TServiceProcess::TServiceProcess(const std::string& program, const std::string& database,
                                 const std::string& log_path)
    : log_path_(log_path) {
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
    }
    execl(program.c_str(), program.c_str(), "--db", database.c_str(), "--port", "0",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  const std::string marker = "listening on 127.0.0.1:";
  for (int i = 0; i < 1000 && port_ == 0; ++i) {
    std::string log = Log();
    size_t at = log.find(marker);
    if (at != std::string::npos && log.find(',', at) != std::string::npos) {
      port_ = std::stoi(log.substr(at + marker.size()));
      break;
    }
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("draws-service ended at once: " + log);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (port_ == 0) {
    Stop();
    throw std::runtime_error("draws-service did not start: " + Log());
  }
}

TServiceProcess::~TServiceProcess() { Stop(); }

std::string TServiceProcess::Log() const {
  std::stringstream text;
  text << std::ifstream(log_path_).rdbuf();
  return text.str();
}

int TServiceProcess::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace downsql::draws::testing
