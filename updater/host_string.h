// Texts handed over by the host across DoUpdate.
//
// A host string is a pointer to the first character of a NUL-terminated
// Windows-1250 text, or null for the empty text. The host's string heap
// keeps two 32-bit fields in front of the characters:
//
//   OFFSET  SIZE  MEANING
//   -8      4     reference count (host-owned; never read or written here)
//   -4      4     character count
//    0      n     the characters, then a NUL
//
// The host owns the text: the library copies it and never frees or changes
// it.
#pragma once

#include <string>

namespace downsql::updater {

inline constexpr int kHostStringLengthOffset = -4;
inline constexpr int kHostStringRefCountOffset = -8;

// A copy of the host string's characters ("" for null). The count before the
// characters says how many to copy; a negative count copies nothing.
std::string ReadHostString(const char* text);

}  // namespace downsql::updater
