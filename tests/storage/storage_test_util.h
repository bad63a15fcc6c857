// Helpers shared by the storage tests (and the access tests that build
// tables): the engine error code a call raises, column definitions and the
// bytes of a table's files.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "db/storage/column_def.h"
#include "db/storage/engine_error.h"

namespace downsql::storage::testing {

// The code of the engine error f raises, 0 when it raises none.
inline uint32_t CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETabulaEngineError& e) {
    return e.code();
  }
  return 0;
}

// A column to create: name, type, subtype and size; numbered by position.
inline TFieldDef Column(const char* name, uint8_t type, uint8_t subtype = 0, uint16_t size = 0) {
  TFieldDef def;
  def.name = name;
  def.type = type;
  def.subtype = subtype;
  def.size = size;
  return def;
}

// The whole content of a file on disk, "" when it cannot be read.
inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The data and index file of table name in dir (which ends in a
// separator), joined by "|": equal before and after means untouched.
inline std::string TableFiles(const std::string& dir, const std::string& name) {
  return ReadWhole(dir + name + ".dat") + "|" + ReadWhole(dir + name + ".idx");
}

}  // namespace downsql::storage::testing
