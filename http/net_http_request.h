// TNetHTTPRequest: what one request sends, and the order it goes on the
// wire in.
#pragma once

#include <cstdint>
#include <string>

#include "http/net_header_list.h"

namespace downsql::http {

enum TNetHTTPMethod { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };

const char* MethodName(TNetHTTPMethod method);

struct TNetHTTPRequest {
  std::string URL;  // the request target once prepared
  TNetHTTPMethod Method = hmGet;
  std::string Host;
  std::string Accept = "text/html, */*";
  std::string AcceptCharSet;
  std::string AcceptEncoding;
  std::string AcceptLanguage;
  std::string From;
  std::string Referer;
  std::string UserAgent = "Mozilla/3.0 (compatible; Net Library)";
  std::string Connection;
  std::string ProxyConnection;
  std::string ContentVersion;
  std::string ContentEncoding;
  std::string ContentLanguage;
  std::string ContentType;
  int64_t ContentLength = -1;  // -1: absent
  std::string CacheControl;
  std::string Date;
  std::string Expires;
  std::string LastModified;
  std::string Pragma;
  std::string IfModifiedSince;
  std::string Range;
  std::string Authorization;
  std::string ProxyAuthorization;
  std::string Cookie;
  std::string Username;
  std::string Password;
  TNetHeaderList CustomHeaders;

  // The header lines in wire order, only those with a value, each ending in
  // CR LF ("Content-Length" only when 0 or more).
  std::string HeaderLines() const;
};

}  // namespace downsql::http
