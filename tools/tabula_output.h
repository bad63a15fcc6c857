// How the tabula command line prints a result: the text of each value and
// the four layouts (CSV, TSV, JSON, aligned table).
//
// Values are written the same in every layout: integers in decimal, floats
// in the shortest form that reads back to the same number, DATE as
// YYYY-MM-DD, TIME as HH:MM:SS and TIMESTAMP as YYYY-MM-DD HH:MM:SS (both
// with .mmm only when the milliseconds are not zero), BOOLEAN as TRUE or
// FALSE, strings and MEMO as text converted from Windows-1250 to UTF-8,
// BYTES, VARBYTES and BLOB as hexadecimal digits. NULL has no text.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace downsql::access {
class TTabulaDataSet;
class TTabulaField;
}  // namespace downsql::access

namespace downsql::tools {

enum class OutputMode { kCsv, kTsv, kJson, kTable };

struct TPrintOptions {
  // The header line of CSV and TSV, the header and rule of the table.
  bool headers = true;
  // The table's lines are kept to this many characters (0: no limit) by
  // narrowing the widest columns; a value cut short ends in "…".
  size_t max_width = 0;
};

// The UTF-8 text of a field's value in the current record; nullopt for NULL.
std::optional<std::string> FieldText(access::TTabulaField& field);

// Prints every record of an open dataset from the first on, with the
// column names: CSV and TSV as a header line and one line per record
// (fields holding the separator, a quote, CR or LF in double quotes with
// inner quotes doubled; NULL empty), JSON as an array of objects (NULL as
// null, numbers and Booleans bare), the table as aligned columns under a
// header and a rule.
void PrintResult(access::TTabulaDataSet& dataset, OutputMode mode, std::ostream& out,
                 const TPrintOptions& options = {});

}  // namespace downsql::tools
