#include "http/net_cookie_store.h"

#include "http/net_header_list.h"

namespace downsql::http {
namespace {

std::string HostKey(const std::string& host) {
  std::string key = host;
  for (char& ch : key)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  return key;
}

}  // namespace

void TNetCookieStore::AddCookie(const std::string& host, const std::string& value) {
  std::string pair = value.substr(0, value.find(';'));
  size_t eq = pair.find('=');
  if (eq == std::string::npos) return;
  std::string name = Trim(pair.substr(0, eq));
  if (name.empty()) return;
  std::string text = Trim(pair.substr(eq + 1));
  auto& cookies = hosts_[HostKey(host)];
  for (auto& cookie : cookies) {
    if (cookie.first == name) {
      cookie.second = text;
      return;
    }
  }
  cookies.emplace_back(name, text);
}

std::string TNetCookieStore::CookieHeader(const std::string& host) const {
  auto it = hosts_.find(HostKey(host));
  if (it == hosts_.end()) return "";
  std::string out;
  for (const auto& cookie : it->second) {
    if (!out.empty()) out += "; ";
    out += cookie.first + "=" + cookie.second;
  }
  return out;
}

}  // namespace downsql::http
