// Win32: _isatty on the C runtime's descriptor of the stream.
#include <io.h>
#include <stdio.h>

#include "platform/terminal.h"

namespace downsql::platform {

bool IsTerminal(TStandardStream stream) {
  return _isatty(_fileno(stream == TStandardStream::kOutput ? stdout : stderr)) != 0;
}

}  // namespace downsql::platform
