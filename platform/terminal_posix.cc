// POSIX: isatty on the stream's descriptor, TIOCGWINSZ for the width, and a
// SIGINT handler that only raises a flag.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

#include "platform/terminal.h"

namespace downsql::platform {
namespace {

std::atomic<bool> interrupted{false};
struct sigaction previous_action;

void OnInterrupt(int) { interrupted.store(true); }

}  // namespace

bool IsTerminal(TStandardStream stream) {
  int fd = stream == TStandardStream::kOutput  ? STDOUT_FILENO
           : stream == TStandardStream::kError ? STDERR_FILENO
                                               : STDIN_FILENO;
  return isatty(fd) == 1;
}

int TerminalColumns() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

TInterruptCatcher::TInterruptCatcher() {
  interrupted.store(false);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read waiting for a key must come back at once.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, &previous_action);
}

TInterruptCatcher::~TInterruptCatcher() { sigaction(SIGINT, &previous_action, nullptr); }

bool InterruptRequested() { return interrupted.load(); }

bool TakeInterrupt() { return interrupted.exchange(false); }

}  // namespace downsql::platform
