// How the file system compares paths.
//
// Windows file systems ignore case in names, so two spellings of one
// directory must meet in one directory object there; POSIX file systems do
// not, and folding case would make two different directories share one.
#pragma once

namespace downsql::platform {

// True when two paths that differ only in letter case name different files.
constexpr bool PathsCaseSensitive() {
#ifdef _WIN32
  return false;
#else
  return true;
#endif
}

}  // namespace downsql::platform
