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

// The engine's error codes. Each one's text is its row in the table in
// engine_error.cc; code raises and tests compare these names, never the bare
// numbers.
inline constexpr uint32_t kErrBeginningOfTable = 8705;
inline constexpr uint32_t kErrEndOfTable = 8706;
inline constexpr uint32_t kErrRecordChanged = 8708;
inline constexpr uint32_t kErrNoCurrentRecord = 8709;
inline constexpr uint32_t kErrRecordNotFound = 8710;
inline constexpr uint32_t kErrEndOfBlob = 8711;
inline constexpr uint32_t kErrHeaderCorrupt = 8961;
inline constexpr uint32_t kErrRecordBuffersCorrupt = 8962;
inline constexpr uint32_t kErrBlobBuffersCorrupt = 8963;
inline constexpr uint32_t kErrIndexPageCorrupt = 8965;
inline constexpr uint32_t kErrReadFailed = 9217;
inline constexpr uint32_t kErrWriteFailed = 9218;
inline constexpr uint32_t kErrRecordTooLarge = 9477;
inline constexpr uint32_t kErrTableFull = 9479;
inline constexpr uint32_t kErrDatabaseFull = 9480;
inline constexpr uint32_t kErrIndexLimits = 9487;
inline constexpr uint32_t kErrFieldCountLimits = 9492;
inline constexpr uint32_t kErrBlobLimits = 9498;
inline constexpr uint32_t kErrDuplicateKey = 9729;
inline constexpr uint32_t kErrBelowMinimum = 9730;
inline constexpr uint32_t kErrAboveMaximum = 9731;
inline constexpr uint32_t kErrValueRequired = 9732;
inline constexpr uint32_t kErrPrimaryIndexExists = 9993;
inline constexpr uint32_t kErrInvalidFieldDefinition = 10000;
inline constexpr uint32_t kErrInvalidDefaultOrLimit = 10006;
inline constexpr uint32_t kErrIndexNameMissing = 10010;
inline constexpr uint32_t kErrInvalidPassword = 10015;
inline constexpr uint32_t kErrInvalidIndexName = 10022;
inline constexpr uint32_t kErrInvalidKeySize = 10026;
inline constexpr uint32_t kErrIndexExists = 10027;
inline constexpr uint32_t kErrInvalidBlobLength = 10029;
inline constexpr uint32_t kErrInvalidBlobHandle = 10030;
inline constexpr uint32_t kErrInvalidFieldName = 10038;
inline constexpr uint32_t kErrLockFileReadLock = 10221;
inline constexpr uint32_t kErrLockFileReadUnlock = 10222;
inline constexpr uint32_t kErrLockFileWriteLock = 10223;
inline constexpr uint32_t kErrLockFileWriteUnlock = 10224;
inline constexpr uint32_t kErrTableReadLock = 10225;
inline constexpr uint32_t kErrTableReadUnlock = 10226;
inline constexpr uint32_t kErrTableWriteLock = 10227;
inline constexpr uint32_t kErrTableWriteUnlock = 10228;
inline constexpr uint32_t kErrTransactionLock = 10229;
inline constexpr uint32_t kErrTransactionUnlock = 10230;
inline constexpr uint32_t kErrTableLock = 10241;
inline constexpr uint32_t kErrTableUnlock = 10242;
inline constexpr uint32_t kErrExclusiveRequired = 10253;
inline constexpr uint32_t kErrRecordLock = 10258;
inline constexpr uint32_t kErrPasswordRequired = 10498;
inline constexpr uint32_t kErrFileNotFound = 11010;
inline constexpr uint32_t kErrTooManyOpenFiles = 11012;
inline constexpr uint32_t kErrAccessDenied = 11013;
inline constexpr uint32_t kErrInvalidFileHandle = 11014;
inline constexpr uint32_t kErrOutOfMemory = 11016;
inline constexpr uint32_t kErrDeviceAccessDenied = 11023;
inline constexpr uint32_t kErrFileMoved = 11025;
inline constexpr uint32_t kErrUnknownOsError = 11047;
inline constexpr uint32_t kErrSqlParsing = 11949;
inline constexpr uint32_t kErrSqlExecution = 11950;
inline constexpr uint32_t kErrWrongVersion = 12035;
inline constexpr uint32_t kErrInvalidFile = 12036;
inline constexpr uint32_t kErrInvalidIndexField = 12292;
inline constexpr uint32_t kErrCompress = 15001;
inline constexpr uint32_t kErrUncompress = 15002;
inline constexpr uint32_t kErrLocaleMissing = 15878;

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
