// Random answers through the HTTP client's whole reading code (status line,
// headers, chunk sizes, bodies, redirects), replayed from memory in pieces
// of a chosen size. Any failure must be one of the client's errors; the
// client never crashes, hangs, stores more body than it was sent, or keeps
// more of a head than its bounds allow (set small here so that short inputs
// reach them).
//
// Input: byte 0 = piece size (0: all at once), byte 1 = option bits, then
// the answer bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/net_exception.h"
#include "http/net_http.h"
#include "http/net_io_handler_memory.h"

using namespace downsql::http;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t segment = data[0] % 64;
  uint8_t options = data[1];
  std::string answer(reinterpret_cast<const char*>(data + 2), size - 2);

  TNetIOHandlerMemory handler(answer, segment);
  TNetMemoryStream body;
  {
    TNetHTTP client;
    client.SetIOHandler(&handler);
    client.HandleRedirects = (options & 1) != 0;
    client.ProtocolVersion = (options & 2) != 0 ? pv1_0 : pv1_1;
    if ((options & 4) != 0) client.MaxLineLength = 64;
    if ((options & 8) != 0) client.RecvBufferSize = 7;
    if ((options & 16) != 0) {
      client.MaxHeadSize = 96;
      client.MaxHeaderLines = 4;
    }
    int64_t work = 0;
    client.OnWork = [&](TNetComponent&, TWorkMode mode, int64_t position) {
      if (mode == wmRead) work = position;
    };
    try {
      client.Get("http://fuzz.invalid/dir/doc?q=1", body);
    } catch (const ENetException&) {
    } catch (const EConvertError&) {
    }
    if (work > static_cast<int64_t>(answer.size())) std::abort();
    // What is kept of the last head stays within the bounds.
    const std::vector<std::string>& headers = client.Response().RawHeaders.Lines();
    size_t kept = client.Response().ResponseText.size();
    for (const std::string& line : headers) kept += line.size();
    if (kept > static_cast<size_t>(client.MaxHeadSize) ||
        headers.size() > static_cast<size_t>(client.MaxHeaderLines))
      std::abort();
  }
  if (body.Data().size() > answer.size()) std::abort();
  return 0;
}
