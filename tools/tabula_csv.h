// Reading CSV for the shell's .import: records of fields separated by
// commas, a record ending at LF or CR LF. A field in double quotes may hold
// commas, quotes (doubled) and line breaks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace downsql::tools {

using TCsvRecord = std::vector<std::string>;

// The records of text; a last line without its line break counts, an
// empty line is a record of one empty field. An unterminated quoted field
// runs to the end of the text.
std::vector<TCsvRecord> ParseCsv(std::string_view text);

}  // namespace downsql::tools
