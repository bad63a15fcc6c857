// Rules for database names and directory paths.
//
// Database names and directories are written with "\" as separator ("/" is
// turned into "\") and are at most 255 characters. A name containing ":" or
// "\" is a path; "Memory", with any leading or trailing backslashes and in
// any letter case, names the database held in memory. Plain names compare
// without regard to case; paths compare by the file system's rule
// (platform::PathsCaseSensitive), ignoring trailing separators.
#pragma once

#include <string>
#include <string_view>

namespace downsql::access {

inline constexpr size_t kMaxNameLength = 255;
inline constexpr char kMemoryName[] = "Memory";

// Every "/" turned into "\", cut to 255 characters.
std::string NormalizeName(std::string_view name);
// Without leading and trailing blanks and control characters.
std::string Trim(std::string_view text);
// Without leading and trailing backslashes.
std::string StripBackslashes(std::string_view text);
// Trimmed and without trailing backslashes (how a Directory is stored).
std::string StoredDirectory(std::string_view path);
// Trimmed, with one trailing backslash added when it lacks one; "" stays "".
std::string WithTrailingBackslash(std::string_view path);

bool IsPathName(std::string_view name);
bool IsMemoryName(std::string_view name);

// Plain names: equal without regard to case.
bool SameName(std::string_view a, std::string_view b);
// Paths: equal after normalising separators and dropping trailing ones;
// letter case matters exactly when case_sensitive is true.
bool SamePath(std::string_view a, std::string_view b, bool case_sensitive);
// SamePath with the file system's own rule.
bool SamePath(std::string_view a, std::string_view b);

}  // namespace downsql::access
