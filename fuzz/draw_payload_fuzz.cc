// The results service's payload parser: any input either yields members or
// is refused with a one-line reason; nothing else may escape, and nothing
// may crash, leak or read out of bounds.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tools/draws/draw_payload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view payload(reinterpret_cast<const char*>(data), size);
  try {
    for (const downsql::draws::TPayloadMember& member : downsql::draws::ParseDrawPayload(payload)) {
      if (member.key.empty() && member.table.size() > size) std::abort();
    }
  } catch (const downsql::draws::EBadPayload& e) {
    // The reason goes back as the one line of a 400 answer.
    for (const char* p = e.what(); *p != '\0'; ++p) {
      if (*p == '\n' || *p == '\r') std::abort();
    }
  }
  return 0;
}
