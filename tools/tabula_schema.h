// A table's definition as SQL text: the CREATE TABLE statement with its
// columns, primary key and table options, followed by one CREATE INDEX
// statement per secondary index, each ending in ";" on its own line. Run
// as a script in another directory, the text makes a table whose own text
// is the same.
//
// Not written: the password of an encrypted table (which the files do not
// hold), the counters (last AUTOINC) and the text index's word lists.
#pragma once

#include <string>

namespace downsql::storage {
class TDataTable;
}  // namespace downsql::storage

namespace downsql::tools {

// The statements for table, in Windows-1250 like the names they hold.
std::string TableSchema(storage::TDataTable& table);

// A name as the SQL dialect reads it back: plain when it is a simple word
// that the statements cannot take for one of their keywords, otherwise in
// double quotes with inner double quotes doubled.
std::string SqlName(const std::string& name);

}  // namespace downsql::tools
