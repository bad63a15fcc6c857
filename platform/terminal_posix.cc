// POSIX: isatty on the stream's descriptor.
#include <unistd.h>

#include "platform/terminal.h"

namespace downsql::platform {

bool IsTerminal(TStandardStream stream) {
  return isatty(stream == TStandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

}  // namespace downsql::platform
