// Windows-1250 text at the edges: the engine, the table files and the wire
// hold 8-bit Windows-1250; the terminal and the window want UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace downsql::base {

std::string Cp1250ToUtf8(std::string_view text);
// Appends text converted to UTF-8 to out.
void AppendCp1250AsUtf8(std::string& out, std::string_view text);
// Characters outside Windows-1250 (and malformed UTF-8) become '?'.
std::string Utf8ToCp1250(std::string_view text);

}  // namespace downsql::base
