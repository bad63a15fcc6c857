#include "http/net_http_request.h"

namespace downsql::http {

const char* MethodName(TNetHTTPMethod method) {
  static const char* const kNames[] = {"HEAD",  "GET", "POST",   "OPTIONS",
                                       "TRACE", "PUT", "DELETE", "CONNECT"};
  return kNames[method];
}

std::string TNetHTTPRequest::HeaderLines() const {
  std::string out;
  auto add = [&out](const char* name, const std::string& value) {
    if (!value.empty()) out += std::string(name) + ": " + value + "\r\n";
  };
  add("Connection", Connection);
  add("Content-Version", ContentVersion);
  add("Content-Encoding", ContentEncoding);
  add("Content-Language", ContentLanguage);
  add("Content-Type", ContentType);
  if (ContentLength >= 0) add("Content-Length", std::to_string(ContentLength));
  add("Cache-control", CacheControl);
  add("Date", Date);
  add("Expires", Expires);
  add("Last-Modified", LastModified);
  add("Pragma", Pragma);
  for (const std::string& line : CustomHeaders.Lines()) out += line + "\r\n";
  add("Proxy-Connection", ProxyConnection);
  add("Host", Host);
  add("Accept", Accept);
  add("Accept-Charset", AcceptCharSet);
  add("Accept-Encoding", AcceptEncoding);
  add("Accept-Language", AcceptLanguage);
  add("From", From);
  add("Referer", Referer);
  add("User-Agent", UserAgent);
  add("If-Modified-Since", IfModifiedSince);
  add("Range", Range);
  add("Authorization", Authorization);
  add("Proxy-Authorization", ProxyAuthorization);
  add("Cookie", Cookie);
  return out;
}

}  // namespace downsql::http
