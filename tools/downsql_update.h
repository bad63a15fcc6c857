// "downsql update": the import without questions, for scripts and scheduled
// jobs.
#pragma once

#include <string>

namespace downsql::tools {

// Runs the dialog's road on dir (with its trailing separator) against the
// service: prints the summary, fetches the missing draws, prints the
// answer's size and first lines and, when import is set, runs the answer as
// the import and prints the summary after it. Status texts go to standard
// output as they change; progress is drawn on standard error when it is a
// terminal. Returns the exit status: 0 when every step went through (also
// when nothing new was found), 1 after an error, whose text goes to
// standard error. fetch_silence_ms is the fetch's silence limit (0: none).
int RunUpdateCommand(const std::string& dir, const std::string& service, bool import,
                     int fetch_silence_ms);

}  // namespace downsql::tools
