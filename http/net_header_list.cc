#include "http/net_header_list.h"

namespace downsql::http {
namespace {

char Lower(char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; }

// The name part of a line (before its first colon), trimmed.
std::string_view NameOf(std::string_view line) {
  size_t colon = line.find(':');
  std::string_view name = line.substr(0, colon);
  while (!name.empty() && static_cast<unsigned char>(name.back()) <= ' ') name.remove_suffix(1);
  return name;
}

std::string ValueOf(std::string_view line) {
  size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string() : Trim(line.substr(colon + 1));
}

}  // namespace

std::string Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(begin, end - begin));
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string TNetHeaderList::Values(std::string_view name) const {
  for (const std::string& line : lines_)
    if (line.find(':') != std::string::npos && SameText(NameOf(line), name)) return ValueOf(line);
  return "";
}

std::vector<std::string> TNetHeaderList::AllValues(std::string_view name) const {
  std::vector<std::string> values;
  for (const std::string& line : lines_)
    if (line.find(':') != std::string::npos && SameText(NameOf(line), name))
      values.push_back(ValueOf(line));
  return values;
}

void TNetHeaderList::SetValue(std::string_view name, std::string_view value) {
  for (auto it = lines_.begin(); it != lines_.end(); ++it) {
    if (it->find(':') != std::string::npos && SameText(NameOf(*it), name)) {
      if (value.empty()) {
        lines_.erase(it);
      } else {
        *it = std::string(name) + ": " + std::string(value);
      }
      return;
    }
  }
  if (!value.empty()) lines_.push_back(std::string(name) + ": " + std::string(value));
}

void TNetHeaderList::AddReceivedLine(std::string_view line) {
  if (!lines_.empty() && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
    lines_.back() += " " + Trim(line);
    return;
  }
  lines_.emplace_back(line);
}

}  // namespace downsql::http
