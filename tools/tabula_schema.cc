// Writing a table's definition back as SQL.
#include "tools/tabula_schema.h"

#include <string_view>
#include <vector>

#include "db/storage/column_def.h"
#include "db/storage/data_table.h"
#include "db/storage/index_definition.h"
#include "platform/locale.h"

namespace downsql::tools {
namespace {

using storage::TFieldDef;
using storage::TIndexDefinition;

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && platform::SameTextNoCase(a, b);
}

// Words a name may not be written as without quotes: the statements that
// make tables and indexes look for them where a name may stand.
constexpr std::string_view kGuardedWords[] = {
    "CONSTRAINT", "PRIMARY", "KEY", "IF",        "UNIQUE", "NOCASE",    "INDEX",
    "ON",         "TABLE",   "ASC", "ASCENDING", "DESC",   "DESCENDING"};

// Constraint texts that stand for themselves rather than for a literal.
constexpr std::string_view kBareConstraints[] = {
    "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP", "CURRENT_GUID", "TRUE", "FALSE"};

constexpr std::string_view kIndexCompression[] = {"NONE", "DUPBYTE", "TRAILBYTE", "FULL"};

bool IsPlainWord(const std::string& name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!letter && (i == 0 || c < '0' || c > '9')) return false;
  }
  for (std::string_view word : kGuardedWords) {
    if (SameWord(name, word)) return false;
  }
  return true;
}

std::string Literal(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

std::string ConstraintLiteral(const std::string& text) {
  for (std::string_view bare : kBareConstraints) {
    if (text == bare) return text;
  }
  return Literal(text);
}

std::string ColumnName(const std::vector<TFieldDef>& fields, int16_t number) {
  if (number == -1) return storage::kRecordIdName;
  if (number == -2) return storage::kRecordHashName;
  for (const TFieldDef& f : fields) {
    if (f.number == number) return SqlName(f.name);
  }
  return "?";
}

std::string KeyColumns(const std::vector<TFieldDef>& fields, const TIndexDefinition& index) {
  std::string out = "(";
  for (size_t i = 0; i < index.columns.size(); ++i) {
    if (i > 0) out += ", ";
    out += ColumnName(fields, index.columns[i]);
    if (i < index.descending_of.size() && index.descending_of[i] != 0) out += " DESC";
  }
  return out + ")";
}

std::string Compression(uint8_t level) {
  if (level == 0 || level >= std::size(kIndexCompression)) return "";
  return " COMPRESS " + std::string(kIndexCompression[level]);
}

std::string ColumnText(const TFieldDef& f) {
  std::string out = "  " + SqlName(f.name) + " " + storage::TypeName(f);
  if (f.required) out += " NOT NULL";
  if (!f.default_value.empty()) out += " DEFAULT " + ConstraintLiteral(f.default_value);
  if (!f.min_value.empty()) out += " MIN " + ConstraintLiteral(f.min_value);
  if (!f.max_value.empty()) out += " MAX " + ConstraintLiteral(f.max_value);
  if (f.char_case == 1) out += " CHARCASE LOWER";
  if (f.char_case == 2) out += " CHARCASE UPPER";
  if (f.IsBlob() && f.compression != 0) out += " COMPRESS " + std::to_string(f.compression);
  if (!f.description.empty()) out += " DESCRIPTION " + Literal(f.description);
  return out;
}

}  // namespace

std::string SqlName(const std::string& name) {
  if (IsPlainWord(name)) return name;
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string TableSchema(storage::TDataTable& table) {
  const std::vector<TFieldDef>& fields = table.fields();
  const std::string name = SqlName(table.name());
  std::string out = "CREATE TABLE " + name + " (\n";
  for (size_t i = 0; i < fields.size(); ++i) {
    out += ColumnText(fields[i]);
    if (i + 1 < fields.size()) out += ",\n";
  }
  storage::TIndexFile& indexes = table.index();
  const TIndexDefinition& primary = indexes.definition(0);
  if (!storage::IsDefaultPrimary(primary)) {
    out += ",\n  PRIMARY KEY " + KeyColumns(fields, primary) + Compression(primary.compression);
  }
  out += "\n)";
  storage::TDataFile& data = table.data();
  if (!data.description().empty()) out += "\nDESCRIPTION " + Literal(data.description());
  if (data.index_page_size() != storage::kDefaultIndexPageSize) {
    out += "\nINDEX PAGE SIZE " + std::to_string(data.index_page_size());
  }
  if (data.blob_block_size() != storage::kDefaultBlobBlockSize) {
    out += "\nBLOB BLOCK SIZE " + std::to_string(data.blob_block_size());
  }
  if (data.locale() != 0) out += "\nLOCALE CODE " + std::to_string(data.locale());
  if (data.user_major() != 0) out += "\nUSER MAJOR VERSION " + std::to_string(data.user_major());
  if (data.user_minor() != 0) out += "\nUSER MINOR VERSION " + std::to_string(data.user_minor());
  out += ";\n";
  for (uint32_t slot = 1; slot <= indexes.secondary_count(); ++slot) {
    const TIndexDefinition& index = indexes.definition(slot);
    out += "CREATE ";
    if (index.unique) out += "UNIQUE ";
    if (index.case_insensitive) out += "NOCASE ";
    out += "INDEX " + SqlName(index.name) + " ON " + name + " " + KeyColumns(fields, index) +
           Compression(index.compression) + ";\n";
  }
  return out;
}

}  // namespace downsql::tools
