// Win32: _isatty on the C runtime's descriptor of the stream, the console's
// screen buffer for the width, and a console control handler for Ctrl-C.
#define NOMINMAX
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <atomic>

#include "platform/terminal.h"

namespace downsql::platform {
namespace {

std::atomic<bool> interrupted{false};

BOOL WINAPI OnControl(DWORD type) {
  if (type != CTRL_C_EVENT) return FALSE;
  interrupted.store(true);
  return TRUE;
}

}  // namespace

bool IsTerminal(TStandardStream stream) {
  FILE* file = stream == TStandardStream::kOutput  ? stdout
               : stream == TStandardStream::kError ? stderr
                                                   : stdin;
  return _isatty(_fileno(file)) != 0;
}

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

TInterruptCatcher::TInterruptCatcher() {
  interrupted.store(false);
  SetConsoleCtrlHandler(OnControl, TRUE);
}

TInterruptCatcher::~TInterruptCatcher() { SetConsoleCtrlHandler(OnControl, FALSE); }

bool InterruptRequested() { return interrupted.load(); }

bool TakeInterrupt() { return interrupted.exchange(false); }

}  // namespace downsql::platform
