// The fetch of "Pobierz": one HTTP GET of the request address, the answer
// into the editor.
#include <memory>
#include <string>

#include "http/net_http.h"
#include "http/net_memory_stream.h"
#include "http/net_uri.h"
#include "updater/dialog_texts.h"
#include "updater/fmsqlall.h"

namespace downsql::updater {

void Tfmsqlall::FetchAnswer(const std::string& address) {
  const std::string encoded = http::TNetURI::EncodeUri(address);
  // A new client per fetch, so no connection outlives it; both it and the
  // answer buffer go on every path, the error path included.
  auto answer = std::make_unique<http::TNetMemoryStream>();
  auto client = std::make_unique<http::TNetHTTP>();
  // The client's own default waits without limit; on the host's thread that
  // would freeze the host for as long as the service stays silent.
  client->ReadTimeout = fetch_silence_ms_;
  client->OnWork = [this](http::TNetComponent&, http::TWorkMode mode, int64_t count) {
    HttpWork(static_cast<int>(mode), count);
  };
  client->Get(encoded, *answer);
  client.reset();
  PlaceAnswer(answer->TakeData());
}

void Tfmsqlall::HttpWork(int mode, int64_t count) {
  (void)mode;
  view_.SetStatusText(std::string(texts::kReceivedPrefix) + std::to_string(count) +
                      std::string(texts::kReceivedSuffix));
  view_.ReportProgress(-1);
}

}  // namespace downsql::updater
