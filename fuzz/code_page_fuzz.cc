// Windows-1250 <-> UTF-8 on arbitrary bytes: decoding malformed UTF-8 never
// reads past the input and yields at most one byte per input byte, and every
// Windows-1250 text survives the trip to UTF-8 and back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/code_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (downsql::base::Utf8ToCp1250(in).size() > size) std::abort();
  if (downsql::base::Utf8ToCp1250(downsql::base::Cp1250ToUtf8(in)) != in) std::abort();
  return 0;
}
