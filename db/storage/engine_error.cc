// Texts of the engine's error codes.
#include "db/storage/engine_error.h"

#include <algorithm>
#include <iterator>

namespace downsql::storage {
namespace {

struct CodeText {
  uint32_t code;
  const char* text;
};

// Sorted by code. Every code the engine raises has its row here.
constexpr CodeText kCodeTexts[] = {
    {kErrBeginningOfTable, "Beginning of table '%s' unexpectedly encountered"},
    {kErrEndOfTable, "End of table '%s' unexpectedly encountered"},
    {kErrRecordChanged,
     "Record has been changed or deleted by another user, session, or table cursor in the table "
     "'%s'"},
    {kErrNoCurrentRecord, "No current record in the table '%s'"},
    {kErrRecordNotFound, "Record not found in the table '%s'"},
    {kErrEndOfBlob, "End of BLOB field in the table '%s' reached prematurely"},
    {kErrHeaderCorrupt, "Header information corrupt in the table '%s'"},
    {kErrRecordBuffersCorrupt, "Data record buffers corrupt in the table '%s'"},
    {kErrBlobBuffersCorrupt, "BLOB block buffers corrupt in the table '%s'"},
    {kErrIndexPageCorrupt, "Index page buffers corrupt in the table '%s'"},
    {kErrReadFailed, "Error reading from the table or backup file '%s'"},
    {kErrWriteFailed, "Error writing to the table or backup file '%s'"},
    {kErrRecordTooLarge, "Maximum record size exceeded in the table '%s'"},
    {kErrTableFull, "The table '%s' is full and cannot contain any more data"},
    {kErrDatabaseFull, "The database '%s' is full and cannot contain any more tables"},
    {kErrIndexLimits,
     "Maximum or minimum limits on the index page size, the number of indexes, or the number of "
     "fields in an index exceeded in the table '%s'"},
    {kErrFieldCountLimits,
     "Maximum or minimum limits on number of fields exceeded in the table '%s'"},
    {kErrBlobLimits,
     "Too many BLOB fields or invalid BLOB block size specified for the table '%s'"},
    {kErrDuplicateKey, "Duplicate key found in the index '%s' of the table '%s'"},
    {kErrBelowMinimum,
     "The value for the field '%s' in the table '%s' is below the minimum allowable value"},
    {kErrAboveMaximum,
     "The value for the field '%s' in the table '%s' is above the maximum allowable value"},
    {kErrValueRequired, "A value must be provided for the field '%s' in the table '%s'"},
    {kErrPrimaryIndexExists,
     "A primary index is already defined for the table '%s' and cannot be added again"},
    {kErrInvalidFieldDefinition,
     "Invalid field definition specified for the field '%s' in the table '%s'"},
    {kErrInvalidDefaultOrLimit,
     "Invalid default expression or min/max constraint specified for the field '%s' in the table "
     "'%s'"},
    {kErrIndexNameMissing,
     "The secondary index name is missing or not specified for the table '%s'"},
    {kErrInvalidPassword, "Password provided for the table '%s' is invalid"},
    {kErrInvalidIndexName, "Invalid secondary index name '%s' specified for the table '%s'"},
    {kErrInvalidKeySize, "Invalid key size specified in the index '%s' for the table '%s'"},
    {kErrIndexExists, "The secondary index '%s' already exists for the table '%s'"},
    {kErrInvalidBlobLength, "Invalid BLOB length in the table '%s'"},
    {kErrInvalidBlobHandle, "Invalid BLOB handle for the table '%s' specified"},
    {kErrInvalidFieldName, "Invalid or duplicate field name '%s' specified for the table '%s'"},
    {kErrLockFileReadLock, "Cannot read lock the lock file for the database '%s'"},
    {kErrLockFileReadUnlock, "Cannot read unlock the lock file for the database '%s'"},
    {kErrLockFileWriteLock, "Cannot write lock the lock file for the database '%s'"},
    {kErrLockFileWriteUnlock, "Cannot write unlock the lock file for the database '%s'"},
    {kErrTableReadLock, "Cannot read lock the table '%s'"},
    {kErrTableReadUnlock, "Cannot read unlock the table '%s'"},
    {kErrTableWriteLock, "Cannot write lock the table '%s'"},
    {kErrTableWriteUnlock, "Cannot write unlock the table '%s'"},
    {kErrTransactionLock, "Transaction cannot lock the database '%s'"},
    {kErrTransactionUnlock, "Transaction cannot unlock the database '%s'"},
    {kErrTableLock, "Cannot lock the table '%s'"},
    {kErrTableUnlock, "Cannot unlock the table or record in the table '%s'"},
    {kErrExclusiveRequired, "The table '%s' must be opened exclusively"},
    {kErrRecordLock, "Cannot lock record in the table '%s'"},
    {kErrPasswordRequired, "Insufficient rights to the table '%s', a password is required"},
    {kErrFileNotFound, "Table or backup file '%s' does not exist"},
    {kErrTooManyOpenFiles,
     "Too many operating system files open while attempting to open the table '%s'"},
    {kErrAccessDenied, "Access denied to table or backup file '%s'"},
    {kErrInvalidFileHandle, "Invalid operating system file handle for the table '%s'"},
    {kErrOutOfMemory,
     "There is insufficient operating system memory available for the current operation"},
    {kErrDeviceAccessDenied, "Access denied to logical operating system device for the table '%s'"},
    {kErrFileMoved, "The table or backup file '%s' has been moved"},
    {kErrUnknownOsError,
     "An unknown operating system error %u occurred with the table or backup file '%s'"},
    {kErrSqlParsing, "SQL parsing error - %s at line %u, column %u"},
    {kErrSqlExecution, "SQL execution error - %s"},
    {kErrWrongVersion, "The table '%s' is not the correct version"},
    {kErrInvalidFile, "The table or backup file '%s' is not valid"},
    {kErrInvalidIndexField, "Invalid field '%s' specified for the index '%s' in the table '%s'"},
    {kErrCompress, "Error compressing data"},
    {kErrUncompress, "Error uncompressing data"},
    {kErrLocaleMissing, "The locale support for the table '%s' is not available or installed"},
};

}  // namespace

const char* EngineErrorText(uint32_t code) {
  auto it = std::lower_bound(std::begin(kCodeTexts), std::end(kCodeTexts), code,
                             [](const CodeText& row, uint32_t c) { return row.code < c; });
  if (it == std::end(kCodeTexts) || it->code != code) return nullptr;
  return it->text;
}

std::string FormatEngineText(const std::string& pattern, const std::vector<std::string>& names) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size() &&
        (pattern[i + 1] == 's' || pattern[i + 1] == 'u' || pattern[i + 1] == 'd')) {
      if (next < names.size()) out += names[next];
      ++next;
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

std::string TextOf(uint32_t code, const std::vector<std::string>& names) {
  const char* t = EngineErrorText(code);
  return t ? FormatEngineText(t, names) : std::string("Unknown error");
}

}  // namespace

ETabulaEngineError::ETabulaEngineError(uint32_t code, std::vector<std::string> names)
    : std::runtime_error("Tabula Engine Error # " + std::to_string(code) + " " +
                         TextOf(code, names)),
      code_(code),
      names_(std::move(names)),
      text_(TextOf(code_, names_)) {}

}  // namespace downsql::storage
