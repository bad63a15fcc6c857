// A draws-service process for tests that need a real results service: it
// listens on a free loopback port for the lifetime of the object, and is
// stopped (SIGTERM, then waited for) when the object goes.
#pragma once

#include <sys/types.h>

#include <string>

namespace downsql::draws::testing {

class TServiceProcess {
 public:
  // Starts program (the draws-service executable) on the database directory
  // and waits up to 10 s for its "listening" line; raises std::runtime_error
  // when it does not come. The service's output goes to log_path.
  TServiceProcess(const std::string& program, const std::string& database,
                  const std::string& log_path);
  ~TServiceProcess();
  TServiceProcess(const TServiceProcess&) = delete;
  TServiceProcess& operator=(const TServiceProcess&) = delete;

  int port() const { return port_; }
  // "127.0.0.1:PORT", as downsql --service takes it.
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // Everything the service has printed so far.
  std::string Log() const;
  // Stops the service and returns its exit status (also done on destruction).
  int Stop();

 private:
  std::string log_path_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace downsql::draws::testing
