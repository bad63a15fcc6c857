#include "db/access/database_error.h"

namespace downsql::access {
namespace {

std::string Fill(const char* message, const std::string& name) {
  std::string text = message;
  size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, name);
  return text;
}

}  // namespace

EDatabaseError::EDatabaseError(const char* message, const std::string& name)
    : std::runtime_error(Fill(message, name)) {}

}  // namespace downsql::access
