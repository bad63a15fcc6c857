// Windows errors carry their own numbers; this only adds the system's text.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/os_error.h"
#include "platform/os_error_win32.h"

namespace downsql::platform {
namespace {

std::string SystemText(DWORD code) {
  char* text = nullptr;
  DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string s = n && text ? std::string(text, n) : std::string();
  if (text) ::LocalFree(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

void ThrowLastError(const std::string& subject) { ThrowWinError(::GetLastError(), subject); }

void ThrowWinError(uint32_t code, const std::string& subject) {
  throw OsError(code, subject,
                subject + ": " + SystemText(code) + " (error " + std::to_string(code) + ")");
}

}  // namespace downsql::platform
