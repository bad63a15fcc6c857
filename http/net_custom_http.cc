#include "http/net_custom_http.h"

#include <vector>

#include "http/net_exception.h"

namespace downsql::http {
namespace {

// base + relative with "." and ".." segments resolved; keeps the leading
// and trailing slash.
std::string ResolvePath(const std::string& base, const std::string& relative) {
  std::string joined = base + relative;
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t slash = joined.find('/', start);
    if (slash == std::string::npos) slash = joined.size();
    std::string segment = joined.substr(start, slash - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = slash + 1;
  }
  std::string path = "/";
  for (const std::string& segment : segments) path += segment + "/";
  return path;
}

// The chunk size of a chunk-size line: the hexadecimal number before the
// first blank (or ";" of a chunk extension); 0 when it is not one.
int64_t ChunkSize(const std::string& line) {
  std::string text = line.substr(0, line.find_first_of(" ;"));
  if (text.empty() || text.size() > 8) return 0;
  int64_t value = 0;
  for (char ch : text) {
    int digit;
    if (ch >= '0' && ch <= '9') {
      digit = ch - '0';
    } else if (ch >= 'a' && ch <= 'f') {
      digit = ch - 'a' + 10;
    } else if (ch >= 'A' && ch <= 'F') {
      digit = ch - 'A' + 10;
    } else {
      return 0;
    }
    value = value * 16 + digit;
  }
  return value > 0x7FFFFFFF ? 0 : value;
}

// Sets a connection's read time-out for one scope and puts the previous one
// back however the scope is left.
class ScopedReadTimeout {
 public:
  ScopedReadTimeout(TNetTCPConnection& connection, int timeout_ms)
      : connection_(connection), saved_(connection.ReadTimeout) {
    connection.ReadTimeout = timeout_ms;
  }
  ~ScopedReadTimeout() { connection_.ReadTimeout = saved_; }
  ScopedReadTimeout(const ScopedReadTimeout&) = delete;
  ScopedReadTimeout& operator=(const ScopedReadTimeout&) = delete;

 private:
  TNetTCPConnection& connection_;
  int saved_;
};

}  // namespace

TNetCustomHTTP::TNetCustomHTTP() { Port = 80; }

void TNetCustomHTTP::Get(const std::string& address, TNetMemoryStream& destination) {
  DoRequest(hmGet, address, destination);
}

void TNetCustomHTTP::DoRequest(TNetHTTPMethod method, const std::string& address,
                               TNetMemoryStream& destination) {
  const int64_t start = destination.Position();
  request_.URL = address;
  request_.Method = method;
  try {
    for (;;) {
      ++redirect_count_;
      PrepareRequest();
      ConnectToHost();
      answer_consumed_ = false;
      SendRequest();
      ReadHead();
      if (ProcessResponse(destination) == Outcome::kDone) break;
      destination.SetSize(start);
      destination.SetPosition(start);
    }
  } catch (...) {
    redirect_count_ = 0;
    // A connection whose answer was not read to its end would hand the rest
    // to the next request as its answer, so it is closed as well.
    if (!answer_consumed_ || !KeepAlive()) Disconnect();
    throw;
  }
  redirect_count_ = 0;
  if (!KeepAlive()) Disconnect();
}

void TNetCustomHTTP::PrepareRequest() {
  TNetURI uri(request_.URL);
  if (!uri.UserName.empty()) {
    request_.Username = uri.UserName;
    request_.Password = uri.Password;
  }
  if (!uri.Path.empty() && uri.Path[0] == '/') {
    url_.Path = uri.Path;
  } else if (!uri.Path.empty() || url_.Path.empty()) {
    url_.Path = ResolvePath(url_.Path, uri.Path);
  }
  url_.Document = uri.Document;
  url_.Params = uri.Params;
  if (!uri.Host.empty()) url_.Host = uri.Host;
  url_.Protocol = uri.Protocol.empty() ? "http" : uri.Protocol;
  if (!uri.Port.empty()) {
    url_.Port = uri.Port;
  } else if (SameText(uri.Protocol, "http")) {
    url_.Port = "80";
  } else if (SameText(uri.Protocol, "https")) {
    url_.Port = "443";
  } else if (url_.Port.empty()) {
    throw ENetUnknownProtocol("");
  }
  if (url_.Host.empty()) throw ENetURIException("Host field is empty");
  request_.URL = url_.Path + url_.Document + url_.Params;
  if (request_.Method >= hmOptions && request_.Method <= hmDelete && ProtocolVersion == pv1_0)
    throw ENetException("This request method is supported in HTTP 1.1");
  if (request_.Method == hmGet) request_.ContentLength = -1;
  request_.Host = url_.Port == "80" ? url_.Host : url_.Host + ":" + url_.Port;
  request_.Cookie = AllowCookies && cookies_ ? cookies_->CookieHeader(url_.Host) : "";
}

void TNetCustomHTTP::ConnectToHost() {
  int port = StrToInt(url_.Port);
  if (!SameText(Host, url_.Host) || Port != port) {
    Disconnect();
    Host = url_.Host;
    Port = port;
  }
  if (ProtocolVersion == pv1_0 && request_.Connection.empty()) request_.Connection = "keep-alive";
  if (!KeepAlive()) Disconnect();
  if (Connected()) {
    // Notice a close by the server since the last answer.
    try {
      ReadFromStack(false, 1, false);
    } catch (const ENetException&) {
    }
  }
  if (!Connected()) Connect(ConnectTimeout);
}

void TNetCustomHTTP::SendRequest() {
  OpenWriteBuffer();
  try {
    WriteLn(std::string(MethodName(request_.Method)) + " " + request_.URL + " HTTP/" +
            (ProtocolVersion == pv1_0 ? "1.0" : "1.1"));
    Write(request_.HeaderLines());
    WriteLn("");
    CloseWriteBuffer();
  } catch (...) {
    CancelWriteBuffer();
    throw;
  }
}

void TNetCustomHTTP::ReadHead() {
  const int64_t head_start = InputConsumed();
  int header_lines = 0;
  do {
    response_.Clear();
    std::string status_line = ReadLn();
    CheckHeadBound(head_start, header_lines);
    response_.SetResponseText(status_line);
    ReadHeaderBlock(head_start, header_lines);
    response_.ProcessHeaders();
    if (AllowCookies) {
      if (!cookies_) cookies_ = std::make_unique<TNetCookieStore>();
      for (const char* name : {"Set-cookie", "Set-cookie2"})
        for (const std::string& value : response_.RawHeaders.AllValues(name))
          cookies_->AddCookie(url_.Host, value);
    }
  } while (response_.ResponseCode == 100);
}

void TNetCustomHTTP::ReadHeaderBlock(int64_t head_start, int& header_lines) {
  try {
    for (;;) {
      std::string line = ReadLn();
      if (line.empty()) break;
      ++header_lines;
      CheckHeadBound(head_start, header_lines);
      response_.RawHeaders.AddReceivedLine(line);
    }
  } catch (const ENetConnClosedGracefully&) {
    // The server closed inside the headers: go on with what was read.
    Disconnect();
  }
}

void TNetCustomHTTP::CheckHeadBound(int64_t head_start, int header_lines) {
  if (InputConsumed() - head_start > MaxHeadSize)
    throw ENetHTTPProtocolException(response_.ResponseCode,
                                    "Answer head too long: more than " +
                                        std::to_string(MaxHeadSize) +
                                        " bytes of status and header lines.",
                                    "");
  if (header_lines > MaxHeaderLines)
    throw ENetHTTPProtocolException(
        response_.ResponseCode,
        "Answer head too long: more than " + std::to_string(MaxHeaderLines) + " header lines.", "");
}

bool TNetCustomHTTP::AskRedirect(std::string& dest, TNetHTTPMethod& method, bool default_answer) {
  bool handled = default_answer;
  if (OnRedirect) OnRedirect(*this, dest, method, handled);
  return handled;
}

TNetCustomHTTP::Outcome TNetCustomHTTP::ProcessResponse(TNetMemoryStream& destination) {
  const int code = response_.ResponseCode;
  const int response_class = code / 100;
  if ((response_class == 3 && code != 304) || !response_.Location.empty()) {
    std::string dest = response_.Location;
    TNetHTTPMethod method = request_.Method;
    bool follow = HandleRedirects && redirect_count_ < RedirectMaximum;
    if (!AskRedirect(dest, method, HandleRedirects)) RaiseProtocolError();
    DiscardBody(4000);
    if (!follow) {
      response_.Location = dest;
      return Outcome::kDone;
    }
    request_.URL = dest;
    request_.Method = method;
    return Outcome::kNextPass;
  }
  if (response_class != 2) {
    // 401 and 407 would start server or proxy authentication; without an
    // authentication handler both end here like every other failing code.
    RaiseProtocolError();
  }
  if (!Connected()) throw ENetException("Undefined situation");
  if (code != 204) ReadBody(destination);
  answer_consumed_ = true;
  return Outcome::kDone;
}

void TNetCustomHTTP::ReadBody(TNetMemoryStream& destination) {
  if (response_.ContentLength > 0) {
    try {
      ReadStream(destination, response_.ContentLength, false);
    } catch (const ENetConnClosedGracefully&) {
      // A short body is kept as it arrived.
    }
  } else if (response_.TransferEncoding.find("chunked") != std::string::npos) {
    DoStatus("Chunk Started");
    int64_t size = ChunkSize(ReadLn());
    while (size > 0) {
      ReadStream(destination, size, false);
      ReadLn();
      size = ChunkSize(ReadLn());
    }
    ReadLn();
  } else if (!response_.HasContentLength) {
    ReadStream(destination, -1, true);
  }
  destination.SetSize(destination.Position());
}

void TNetCustomHTTP::DiscardBody(int timeout_ms) {
  if (!Connected()) return;
  TNetMemoryStream scratch;
  ScopedReadTimeout timeout(*this, timeout_ms);
  try {
    ReadBody(scratch);
    answer_consumed_ = true;
  } catch (const ENetException&) {
  }
}

void TNetCustomHTTP::RaiseProtocolError() {
  // The failing answer's body goes with the error; a server that keeps the
  // connection open without saying how long the body is gets 2 seconds.
  TNetMemoryStream scratch;
  {
    ScopedReadTimeout timeout(*this, 2000);
    try {
      ReadBody(scratch);
      answer_consumed_ = true;
    } catch (const ENetException&) {
    }
  }
  throw ENetHTTPProtocolException(response_.ResponseCode, response_.ResponseText, scratch.Data());
}

bool TNetCustomHTTP::KeepAlive() {
  if (!Connected()) return false;
  if (ProtocolVersion == pv1_1)
    return !SameText(Trim(response_.Connection), "close") &&
           !SameText(Trim(response_.ProxyConnection), "close");
  return SameText(Trim(response_.Connection), "keep-alive") ||
         SameText(Trim(response_.ProxyConnection), "keep-alive");
}

}  // namespace downsql::http
