// TNetCustomHTTP: the HTTP/1.1 client over TNetTCPClient.
//
// One Get is one or more passes (redirects): prepare the target, connect,
// send the request in one write, read the status line and headers, then
// decide: read the body into the destination, follow, or fail with
// ENetHTTPProtocolException carrying the status line. Work events fire only
// around body reads: one wmRead phase per body (per chunk when chunked).
//
// Not carried by this client: TLS, proxies, and authentication beyond
// turning a 401 or 407 answer into a protocol error; the settings for them
// exist so callers see the usual defaults.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/net_cookie_store.h"
#include "http/net_http_request.h"
#include "http/net_http_response.h"
#include "http/net_memory_stream.h"
#include "http/net_tcp_client.h"
#include "http/net_uri.h"

namespace downsql::http {

enum TNetHTTPProtocolVersion { pv1_0, pv1_1 };

enum TNetHTTPOption : unsigned {
  hoInProcessAuth = 1,
  hoKeepOrigProtocol = 2,
  hoForceEncodeParams = 4,
};

class TNetCustomHTTP;

// Asked whether to follow a redirect; may change the target and the method.
using TNetRedirectEvent = std::function<void(TNetCustomHTTP& sender, std::string& dest,
                                             TNetHTTPMethod& method, bool& handled)>;

class TNetCustomHTTP : public TNetTCPClient {
 public:
  TNetCustomHTTP();

  // One GET of an encoded absolute address; the body goes into destination
  // from its current position, and destination is cut after it. Raises
  // ENetHTTPProtocolException (non-2xx answer, refused redirect),
  // ENetException "Undefined situation" (2xx on a closed connection),
  // ENetUnknownProtocol, ENetURIException, EConvertError (port text),
  // ENetConnClosedGracefully, ENetReadLnMaxLineLengthExceeded,
  // ENetReadTimeout and ENetSocketError; ENetHTTPProtocolException also for
  // a head past its bounds (MaxHeadSize, MaxHeaderLines).
  void Get(const std::string& address, TNetMemoryStream& destination);

  TNetHTTPProtocolVersion ProtocolVersion = pv1_1;
  unsigned HTTPOptions = hoForceEncodeParams;
  bool HandleRedirects = false;
  int RedirectMaximum = 15;
  bool AllowCookies = true;
  int MaxAuthRetries = 3;
  int ConnectTimeout = 0;
  // Bounds of one answer head: the bytes of its status and header lines
  // together, line ends and interim 100 answers included, and the number
  // of its header lines. A head past either ends the exchange with
  // ENetHTTPProtocolException ("Answer head too long: more than 1048576
  // bytes of status and header lines." or "Answer head too long: more than
  // 10000 header lines.", with the bound set) and the connection is closed,
  // so a peer that never ends its head cannot fill memory or hold the
  // client.
  int64_t MaxHeadSize = int64_t{1} << 20;
  int MaxHeaderLines = 10000;
  std::string ProxyServer;
  int ProxyPort = 0;

  TNetRedirectEvent OnRedirect;

  TNetHTTPRequest& Request() { return request_; }
  TNetHTTPResponse& Response() { return response_; }
  TNetURI& URL() { return url_; }
  TNetCookieStore* CookieManager() { return cookies_.get(); }
  int ResponseCode() const { return response_.ResponseCode; }
  const std::string& ResponseText() const { return response_.ResponseText; }

 protected:
  void DoRequest(TNetHTTPMethod method, const std::string& address, TNetMemoryStream& destination);

 private:
  enum class Outcome { kDone, kNextPass };

  void PrepareRequest();
  void ConnectToHost();
  void SendRequest();
  void ReadHead();
  // Both count into the head's bounds from head_start, the input consumed
  // when the head began.
  void ReadHeaderBlock(int64_t head_start, int& header_lines);
  void CheckHeadBound(int64_t head_start, int header_lines);
  Outcome ProcessResponse(TNetMemoryStream& destination);
  bool AskRedirect(std::string& dest, TNetHTTPMethod& method, bool default_answer);
  void ReadBody(TNetMemoryStream& destination);
  void DiscardBody(int timeout_ms);
  [[noreturn]] void RaiseProtocolError();
  bool KeepAlive();

  TNetURI url_;
  TNetHTTPRequest request_;
  TNetHTTPResponse response_;
  std::unique_ptr<TNetCookieStore> cookies_;
  int redirect_count_ = 0;
  bool answer_consumed_ = true;
};

}  // namespace downsql::http
