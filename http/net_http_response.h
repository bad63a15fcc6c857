// TNetHTTPResponse: the head of one answer as read, and what the client
// takes from it.
#pragma once

#include <cstdint>
#include <string>

#include "http/net_header_list.h"

namespace downsql::http {

struct TNetHTTPResponse {
  std::string ResponseText;  // the status line
  int ResponseCode = -1;
  std::string ResponseVersion;  // "1.0" or "1.1"
  TNetHeaderList RawHeaders;
  std::string Location;
  std::string Server;
  std::string Connection;
  std::string ProxyConnection;
  std::string TransferEncoding;
  std::string ContentType = "text/html";
  int64_t ContentLength = -1;
  bool HasContentLength = false;

  void Clear() { *this = TNetHTTPResponse(); }
  // Sets the status line: the code is its second blank-separated word as a
  // decimal number (-1 when it is not one), the version the three bytes from
  // the sixth on.
  void SetResponseText(const std::string& status_line);
  // Takes the interpreted values out of RawHeaders. "Content-Length" counts
  // only when it is a decimal number of 0 or more.
  void ProcessHeaders();
};

}  // namespace downsql::http
