// Reading CSV.
#include "tools/tabula_csv.h"

namespace downsql::tools {

std::vector<TCsvRecord> ParseCsv(std::string_view text) {
  std::vector<TCsvRecord> records;
  TCsvRecord record;
  std::string field;
  size_t i = 0;
  auto end_record = [&] {
    record.push_back(std::move(field));
    field.clear();
    records.push_back(std::move(record));
    record.clear();
  };
  while (i < text.size()) {
    char c = text[i];
    if (c == '"' && field.empty()) {
      // A quoted field: up to the quote not followed by another.
      for (++i; i < text.size(); ++i) {
        if (text[i] != '"') {
          field += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          ++i;
          break;
        }
      }
    } else if (c == ',') {
      record.push_back(std::move(field));
      field.clear();
      ++i;
    } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      i += c == '\r' ? 2 : 1;
      end_record();
    } else {
      field += c;
      ++i;
    }
  }
  if (!field.empty() || !record.empty()) end_record();
  return records;
}

}  // namespace downsql::tools
