// The table engine's error: a numeric code, the names its message needs and
// the message "Tabula Engine Error # <code> <text>".
//
// The text of each code lives in one table (engine_error.cc); its "%s" and
// "%u" markers are filled, in order, from the names given when the error is
// raised (database, table, index, field, an OS error number ...).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace downsql::storage {

class ETabulaEngineError : public std::runtime_error {
 public:
  // names fill the code's text markers in order; missing ones read as "".
  ETabulaEngineError(uint32_t code, std::vector<std::string> names = {});
  ETabulaEngineError(uint32_t code, std::initializer_list<std::string> names)
      : ETabulaEngineError(code, std::vector<std::string>(names)) {}

  uint32_t code() const { return code_; }
  const std::vector<std::string>& names() const { return names_; }
  // The code's text with the names filled in (without the "Tabula Engine
  // Error # n" prefix).
  const std::string& text() const { return text_; }

 private:
  uint32_t code_;
  std::vector<std::string> names_;
  std::string text_;
};

// The raw text of a code ("%s" markers unfilled); nullptr for an unknown code.
const char* EngineErrorText(uint32_t code);

// Fills the "%s"/"%u"/"%d" markers of pattern from names, in order.
std::string FormatEngineText(const std::string& pattern, const std::vector<std::string>& names);

}  // namespace downsql::storage
