// The program's terminal: whether the standard streams reach one (progress
// bars and the interactive shell appear only then), its width, and the
// interrupt key (Ctrl-C) caught as a request instead of ending the process.
#pragma once

namespace downsql::platform {

enum class TStandardStream { kOutput, kError, kInput };

bool IsTerminal(TStandardStream stream);

// Columns of the terminal that standard output reaches; 0 when it is no
// terminal or the width is unknown.
int TerminalColumns();

// While an TInterruptCatcher lives, the interrupt key does not end the
// process: it raises a flag that InterruptRequested reports and
// TakeInterrupt clears. A blocking read of the terminal returns early
// (EINTR) when the key is pressed. At most one catcher lives at a time;
// its end restores the system's handling.
class TInterruptCatcher {
 public:
  TInterruptCatcher();
  ~TInterruptCatcher();
  TInterruptCatcher(const TInterruptCatcher&) = delete;
  TInterruptCatcher& operator=(const TInterruptCatcher&) = delete;
};

// Whether the interrupt key was pressed since the flag was last taken.
bool InterruptRequested();
// Returns InterruptRequested() and clears the flag.
bool TakeInterrupt();

}  // namespace downsql::platform
