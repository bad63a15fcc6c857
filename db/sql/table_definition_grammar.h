// The pieces of table definitions that CREATE TABLE and ALTER TABLE share:
// column definitions, the primary key constraint, index key columns and the
// table options.
//
//   column definition := name type [(size[, scale])] {column option}
//   column option     := DESCRIPTION 'text' | NULLABLE | NOT NULL
//                      | PRIMARY KEY | UNIQUE | DEFAULT value
//                      | MIN[IMUM] value | MAX[IMUM] value
//                      | CHARCASE UPPER | LOWER | NOCHANGE | COMPRESS level
//   primary key       := [CONSTRAINT name] PRIMARY KEY (key column {, ...})
//                        {COMPRESS FULL | DUPBYTE | TRAILBYTE | NONE
//                         | NOKEYSTATS}
//   key column        := name [ASC | ASCENDING | DESC | DESCENDING]
//   table option      := DESCRIPTION 'text' | INDEX PAGE SIZE n
//                      | BLOB BLOCK SIZE n | LOCALE 'name' | LOCALE CODE n
//                      | ENCRYPTED WITH 'password'
//                      | USER MAJOR | MINOR VERSION n | LAST AUTOINC n
//                      | TEXT INDEX [(columns)] {STOP WORDS 'words'
//                        | SPACE CHARS 'chars' | INCLUDE CHARS 'chars'}
//
// DEFAULT, MIN and MAX take a constant (a negative number too), TRUE,
// FALSE or one of CURRENT_DATE, CURRENT_TIME, CURRENT_TIMESTAMP and
// CURRENT_GUID; they are stored as text in the column's definition.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/sql/statement_body.h"
#include "db/storage/column_def.h"
#include "db/storage/data_table.h"
#include "db/storage/index_definition.h"

namespace downsql::sql {

// One key column of an index as written; resolved against the table's
// columns later.
struct TKeyColumn {
  std::string name;
  bool descending = false;
  uint32_t line = 0;
  uint32_t column = 0;
};

// "( key column {, key column} )".
std::vector<TKeyColumn> ParseKeyColumns(TExpressionParser& parser);

// FULL, DUPBYTE, TRAILBYTE or NONE as the index compression level 3..0.
uint8_t ParseIndexCompression(TExpressionParser& parser);

// A column definition after its name: the type and the column options.
struct TColumnDefinition {
  storage::TFieldDef field;
  // PRIMARY KEY among the options, and where the column's name was.
  bool primary_key = false;
  // UNIQUE among the options: a unique index named after the column.
  bool unique = false;
  uint32_t line = 0;
  uint32_t column = 0;
};
// Reads from the data type on; name and position are the caller's.
TColumnDefinition ParseColumnDefinition(TStatementEnv& env, std::string name, uint32_t line,
                                        uint32_t column);

// "[CONSTRAINT name] PRIMARY KEY (...)" with its index options, the parser
// on CONSTRAINT or PRIMARY.
struct TPrimaryKeyClause {
  // Where the key column list begins.
  uint32_t line = 0;
  uint32_t column = 0;
  std::vector<TKeyColumn> keys;
  uint8_t compression = 0;
  bool no_key_statistics = false;
};
TPrimaryKeyClause ParsePrimaryKey(TExpressionParser& parser);

// The table options written, each unset when not given.
struct TTableOptions {
  std::optional<std::string> description;
  std::optional<uint32_t> index_page_size;
  std::optional<uint32_t> blob_block_size;
  std::optional<uint32_t> locale;
  std::optional<std::string> password;  // ENCRYPTED WITH
  std::optional<uint16_t> user_major;
  std::optional<uint16_t> user_minor;
  std::optional<uint32_t> last_autoinc;
  // TEXT INDEX: kept with the statement; the word index itself is not
  // built.
  std::vector<TKeyColumn> text_columns;
  std::string stop_words;
  std::string space_chars;
  std::string include_chars;

  // Sets the options given on table.
  void ApplyTo(storage::TTableDefinition& table) const;
};
// Reads one table option when the current token starts one; false (nothing
// read) otherwise.
bool ParseTableOption(TExpressionParser& parser, TTableOptions& options);

}  // namespace downsql::sql
