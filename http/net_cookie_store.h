// TNetCookieStore: the client's cookies, kept per host.
//
// Deliberately simple: a cookie is the "name=value" before the first ";" of
// a Set-Cookie line; attributes (path, expiry, domain) are not honoured, and
// a later cookie of the same name on the same host replaces the earlier one.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace downsql::http {

class TNetCookieStore {
 public:
  void AddCookie(const std::string& host, const std::string& set_cookie_value);
  // "a=1; b=2" for the host (compared without regard to case), or "".
  std::string CookieHeader(const std::string& host) const;

 private:
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> hosts_;
};

}  // namespace downsql::http
