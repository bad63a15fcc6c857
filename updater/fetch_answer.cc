// The fetch of "Pobierz": one HTTP GET of the request address, the answer
// into the editor.
#include <stdexcept>
#include <string>

#include "updater/dialog_texts.h"
#include "updater/fmsqlall.h"

namespace downsql::updater {

void Tfmsqlall::FetchAnswer(const std::string& address) {
  (void)address;
  // The HTTP client is not wired in yet; say so rather than pretend that the
  // service had nothing new.
  throw std::runtime_error("Fetching from the results service is not available in this build");
}

void Tfmsqlall::HttpWork(int mode, int64_t count) {
  (void)mode;
  view_.SetStatusText(std::string(texts::kReceivedPrefix) + std::to_string(count) +
                      std::string(texts::kReceivedSuffix));
}

}  // namespace downsql::updater
