#include "db/access/names.h"

#include <algorithm>

#include "platform/locale.h"
#include "platform/path.h"

namespace downsql::access {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string PathKey(std::string_view path) {
  std::string key = NormalizeName(Trim(path));
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}

}  // namespace

std::string NormalizeName(std::string_view name) {
  std::string out(name.substr(0, kMaxNameLength));
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string StripBackslashes(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == '\\') ++b;
  while (e > b && text[e - 1] == '\\') --e;
  return std::string(text.substr(b, e - b));
}

std::string StoredDirectory(std::string_view path) {
  std::string out = Trim(path);
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

std::string WithTrailingBackslash(std::string_view path) {
  std::string out = Trim(path);
  if (!out.empty() && out.back() != '\\') out += '\\';
  return out;
}

bool IsPathName(std::string_view name) {
  return name.find(':') != std::string_view::npos || name.find('\\') != std::string_view::npos;
}

bool IsMemoryName(std::string_view name) {
  return SameName(StripBackslashes(Trim(name)), kMemoryName);
}

bool SameName(std::string_view a, std::string_view b) { return platform::SameTextNoCase(a, b); }

bool SamePath(std::string_view a, std::string_view b, bool case_sensitive) {
  std::string ka = PathKey(a), kb = PathKey(b);
  return case_sensitive ? ka == kb : platform::SameTextNoCase(ka, kb);
}

bool SamePath(std::string_view a, std::string_view b) {
  return SamePath(a, b, platform::PathsCaseSensitive());
}

}  // namespace downsql::access
