#include "http/net_http_response.h"

namespace downsql::http {
namespace {

// Decimal digits only, no sign; -1 when not a number or too large.
int64_t ParseCount(const std::string& text) {
  if (text.empty() || text.size() > 18) return -1;
  int64_t value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return -1;
    value = value * 10 + (ch - '0');
  }
  return value;
}

}  // namespace

void TNetHTTPResponse::SetResponseText(const std::string& status_line) {
  ResponseText = status_line;
  size_t first = status_line.find(' ');
  std::string word;
  if (first != std::string::npos) {
    size_t end = status_line.find(' ', first + 1);
    word = status_line.substr(first + 1, end == std::string::npos ? end : end - first - 1);
  }
  int64_t code = word.size() <= 9 ? ParseCount(word) : -1;
  ResponseCode = static_cast<int>(code);
  ResponseVersion = status_line.size() > 5 ? status_line.substr(5, 3) : "";
}

void TNetHTTPResponse::ProcessHeaders() {
  std::string length = RawHeaders.Values("Content-Length");
  ContentLength = ParseCount(length);
  HasContentLength = ContentLength >= 0;
  TransferEncoding = RawHeaders.Values("Transfer-Encoding");
  Location = RawHeaders.Values("Location");
  Connection = RawHeaders.Values("Connection");
  ProxyConnection = RawHeaders.Values("Proxy-Connection");
  std::string type = RawHeaders.Values("Content-Type");
  if (!type.empty()) ContentType = type;
  Server = RawHeaders.Values("Server");
}

}  // namespace downsql::http
