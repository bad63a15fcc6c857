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
    {8705, "Beginning of table '%s' unexpectedly encountered"},
    {8706, "End of table '%s' unexpectedly encountered"},
    {8708,
     "Record has been changed or deleted by another user, session, or table cursor in the table "
     "'%s'"},
    {8709, "No current record in the table '%s'"},
    {8710, "Record not found in the table '%s'"},
    {8711, "End of BLOB field in the table '%s' reached prematurely"},
    {8961, "Header information corrupt in the table '%s'"},
    {8962, "Data record buffers corrupt in the table '%s'"},
    {8963, "BLOB block buffers corrupt in the table '%s'"},
    {8965, "Index page buffers corrupt in the table '%s'"},
    {9217, "Error reading from the table or backup file '%s'"},
    {9218, "Error writing to the table or backup file '%s'"},
    {9477, "Maximum record size exceeded in the table '%s'"},
    {9479, "The table '%s' is full and cannot contain any more data"},
    {9480, "The database '%s' is full and cannot contain any more tables"},
    {9487,
     "Maximum or minimum limits on the index page size, the number of indexes, or the number of "
     "fields in an index exceeded in the table '%s'"},
    {9492, "Maximum or minimum limits on number of fields exceeded in the table '%s'"},
    {9498, "Too many BLOB fields or invalid BLOB block size specified for the table '%s'"},
    {9729, "Duplicate key found in the index '%s' of the table '%s'"},
    {9730, "The value for the field '%s' in the table '%s' is below the minimum allowable value"},
    {9731, "The value for the field '%s' in the table '%s' is above the maximum allowable value"},
    {9732, "A value must be provided for the field '%s' in the table '%s'"},
    {9993, "A primary index is already defined for the table '%s' and cannot be added again"},
    {10000, "Invalid field definition specified for the field '%s' in the table '%s'"},
    {10006,
     "Invalid default expression or min/max constraint specified for the field '%s' in the table "
     "'%s'"},
    {10010, "The secondary index name is missing or not specified for the table '%s'"},
    {10015, "Password provided for the table '%s' is invalid"},
    {10022, "Invalid secondary index name '%s' specified for the table '%s'"},
    {10026, "Invalid key size specified in the index '%s' for the table '%s'"},
    {10027, "The secondary index '%s' already exists for the table '%s'"},
    {10029, "Invalid BLOB length in the table '%s'"},
    {10030, "Invalid BLOB handle for the table '%s' specified"},
    {10038, "Invalid or duplicate field name '%s' specified for the table '%s'"},
    {10221, "Cannot read lock the lock file for the database '%s'"},
    {10222, "Cannot read unlock the lock file for the database '%s'"},
    {10223, "Cannot write lock the lock file for the database '%s'"},
    {10224, "Cannot write unlock the lock file for the database '%s'"},
    {10225, "Cannot read lock the table '%s'"},
    {10226, "Cannot read unlock the table '%s'"},
    {10227, "Cannot write lock the table '%s'"},
    {10228, "Cannot write unlock the table '%s'"},
    {10229, "Transaction cannot lock the database '%s'"},
    {10230, "Transaction cannot unlock the database '%s'"},
    {10241, "Cannot lock the table '%s'"},
    {10242, "Cannot unlock the table or record in the table '%s'"},
    {10253, "The table '%s' must be opened exclusively"},
    {10258, "Cannot lock record in the table '%s'"},
    {10498, "Insufficient rights to the table '%s', a password is required"},
    {11010, "Table or backup file '%s' does not exist"},
    {11012, "Too many operating system files open while attempting to open the table '%s'"},
    {11013, "Access denied to table or backup file '%s'"},
    {11014, "Invalid operating system file handle for the table '%s'"},
    {11016, "There is insufficient operating system memory available for the current operation"},
    {11023, "Access denied to logical operating system device for the table '%s'"},
    {11025, "The table or backup file '%s' has been moved"},
    {11047, "An unknown operating system error %u occurred with the table or backup file '%s'"},
    {11949, "SQL parsing error - %s at line %u, column %u"},
    {11950, "SQL execution error - %s"},
    {12035, "The table '%s' is not the correct version"},
    {12036, "The table or backup file '%s' is not valid"},
    {12292, "Invalid field '%s' specified for the index '%s' in the table '%s'"},
    {15001, "Error compressing data"},
    {15002, "Error uncompressing data"},
    {15878, "The locale support for the table '%s' is not available or installed"},
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
