// Whether the program's standard streams reach a terminal (progress bars are
// drawn only then).
#pragma once

namespace downsql::platform {

enum class TStandardStream { kOutput, kError };

bool IsTerminal(TStandardStream stream);

}  // namespace downsql::platform
