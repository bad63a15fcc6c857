// Printing a result of the tabula command line.
#include "tools/tabula_output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/code_page.h"
#include "base/date_time.h"
#include "db/access/dataset.h"
#include "db/access/tabula_field.h"

namespace downsql::tools {
namespace {

using access::TFieldType;

std::string Hex(const uint8_t* data, size_t size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
  }
  return out;
}

std::string ShortestFloat(double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string("nan");
}

std::string DateText(int32_t day_number) {
  base::Date d = base::DateFromDayNumber(day_number);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buffer;
}

std::string TimeText(int32_t ms) {
  base::TimeOfDay t = base::TimeFromMs(ms);
  char buffer[32];
  if (t.millisecond != 0) {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                  t.millisecond);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  }
  return buffer;
}

std::string TimestampText(double ms) {
  double whole = std::floor(ms);
  auto days = static_cast<int64_t>(std::floor(whole / base::kMsPerDay));
  auto rest = static_cast<int64_t>(whole - static_cast<double>(days) * base::kMsPerDay);
  return DateText(static_cast<int32_t>(days)) + " " + TimeText(static_cast<int32_t>(rest));
}

bool IsNumeric(TFieldType type) {
  switch (type) {
    case access::ftSmallint:
    case access::ftInteger:
    case access::ftWord:
    case access::ftAutoInc:
    case access::ftLargeint:
    case access::ftFloat:
    case access::ftCurrency:
    case access::ftBCD:
      return true;
    default:
      return false;
  }
}

// Whether the JSON value is written bare (a number or a Boolean).
bool IsBareInJson(TFieldType type) { return IsNumeric(type) || type == access::ftBoolean; }

// Not "inf", "-inf" or "nan", which JSON has no number for.
bool LooksNumeric(const std::string& text) {
  size_t first = text.starts_with("-") ? 1 : 0;
  return first < text.size() && text[first] >= '0' && text[first] <= '9';
}

std::string Quoted(const std::string& text, char separator) {
  if (text.find_first_of(std::string{separator, '"', '\r', '\n'}) == std::string::npos) {
    return text;
  }
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Characters on the terminal: UTF-8 lead bytes.
size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
  }
  return width;
}

struct Table {
  std::vector<std::string> names;
  std::vector<TFieldType> types;
  std::vector<std::vector<std::optional<std::string>>> rows;
};

Table Collect(access::TTabulaDataSet& dataset) {
  Table table;
  for (size_t i = 0; i < dataset.FieldCount(); ++i) {
    table.names.push_back(base::Cp1250ToUtf8(dataset.Fields(i).FieldName()));
    table.types.push_back(dataset.Fields(i).DataType());
  }
  dataset.First();
  while (!dataset.Eof()) {
    std::vector<std::optional<std::string>> row;
    for (size_t i = 0; i < dataset.FieldCount(); ++i) row.push_back(FieldText(dataset.Fields(i)));
    table.rows.push_back(std::move(row));
    dataset.Next();
  }
  return table;
}

void PrintSeparated(const Table& table, char separator, bool headers, std::ostream& out) {
  if (headers) {
    for (size_t i = 0; i < table.names.size(); ++i) {
      if (i > 0) out << separator;
      out << Quoted(table.names[i], separator);
    }
    out << '\n';
  }
  for (const auto& row : table.rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (i > 0) out << separator;
      if (row[i]) out << Quoted(*row[i], separator);
    }
    out << '\n';
  }
}

void PrintJson(const Table& table, std::ostream& out) {
  if (table.rows.empty()) {
    out << "[]\n";
    return;
  }
  out << "[\n";
  for (size_t r = 0; r < table.rows.size(); ++r) {
    out << "  {";
    for (size_t i = 0; i < table.names.size(); ++i) {
      if (i > 0) out << ", ";
      out << JsonString(table.names[i]) << ": ";
      const std::optional<std::string>& value = table.rows[r][i];
      if (!value) {
        out << "null";
      } else if (table.types[i] == access::ftBoolean) {
        out << (*value == "TRUE" ? "true" : "false");
      } else if (IsBareInJson(table.types[i]) && LooksNumeric(*value)) {
        out << *value;
      } else {
        out << JsonString(*value);
      }
    }
    out << (r + 1 < table.rows.size() ? "},\n" : "}\n");
  }
  out << "]\n";
}

// The text cut to width characters, its last one then "…".
std::string CutTo(const std::string& text, size_t width) {
  if (DisplayWidth(text) <= width) return text;
  size_t kept = 0, end = 0;
  for (; end < text.size(); ++end) {
    if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80) {
      if (kept + 1 == width) break;
      ++kept;
    }
  }
  return text.substr(0, end) + "\u2026";
}

// Narrows the widest columns to one common limit so that the line (cells
// and their " | " separators) fits max_width; no column gets narrower than
// two characters, so a line may still run over when there are many.
void FitWidths(std::vector<size_t>& widths, size_t max_width) {
  if (max_width == 0 || widths.empty()) return;
  const size_t separators = 3 * (widths.size() - 1);
  auto line_width = [&](size_t limit) {
    size_t total = separators;
    for (size_t w : widths) total += std::min(w, limit);
    return total;
  };
  size_t widest = *std::max_element(widths.begin(), widths.end());
  if (line_width(widest) <= max_width) return;
  size_t low = 2, high = widest;  // the largest limit that fits, at least 2
  while (low < high) {
    size_t mid = (low + high + 1) / 2;
    if (line_width(mid) <= max_width) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  for (size_t& w : widths) w = std::min(w, low);
}

void PrintTable(const Table& table, const TPrintOptions& options, std::ostream& out) {
  std::vector<size_t> widths;
  for (const std::string& name : table.names) {
    widths.push_back(options.headers ? DisplayWidth(name) : 0);
  }
  for (const auto& row : table.rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (row[i]) widths[i] = std::max(widths[i], DisplayWidth(*row[i]));
    }
  }
  FitWidths(widths, options.max_width);
  // Lines end without the padding of their last cell.
  std::string line;
  auto end_line = [&] {
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
    line.clear();
  };
  auto cell = [&](size_t i, const std::string& full, bool right) {
    std::string text = CutTo(full, widths[i]);
    std::string pad(widths[i] - DisplayWidth(text), ' ');
    line += (i > 0 ? " | " : "") + (right ? pad + text : text + pad);
  };
  if (options.headers) {
    for (size_t i = 0; i < table.names.size(); ++i) cell(i, table.names[i], false);
    end_line();
    for (size_t i = 0; i < table.names.size(); ++i) {
      line += (i > 0 ? "-+-" : "") + std::string(widths[i], '-');
    }
    end_line();
  }
  for (const auto& row : table.rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      cell(i, row[i].value_or(""), IsNumeric(table.types[i]));
    }
    end_line();
  }
}

}  // namespace

std::optional<std::string> FieldText(access::TTabulaField& field) {
  access::TFieldValue value = field.Value();
  if (!value.has_value) return std::nullopt;
  const uint8_t* p = value.bytes.data();
  switch (field.DataType()) {
    case access::ftSmallint:
    case access::ftInteger:
    case access::ftWord:
    case access::ftAutoInc:
    case access::ftLargeint:
      return std::to_string(field.AsInteger());
    case access::ftFloat:
    case access::ftCurrency:
      return ShortestFloat(field.AsFloat());
    case access::ftBCD:
      return access::DecimalToString(value.bytes);
    case access::ftBoolean:
      return field.AsBoolean() ? "TRUE" : "FALSE";
    case access::ftDate:
      return DateText(static_cast<int32_t>(base::GetLE32(p)));
    case access::ftTime:
      return TimeText(static_cast<int32_t>(base::GetLE32(p)));
    case access::ftDateTime: {
      uint64_t bits = base::GetLE64(p);
      double ms;
      std::memcpy(&ms, &bits, sizeof ms);
      return TimestampText(ms);
    }
    case access::ftBytes:
    case access::ftVarBytes:
      return Hex(p, value.bytes.size());
    case access::ftBlob:
    case access::ftGraphic: {
      std::string bytes = field.AsString();
      return Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    default:
      return base::Cp1250ToUtf8(field.AsString());
  }
}

void PrintResult(access::TTabulaDataSet& dataset, OutputMode mode, std::ostream& out,
                 const TPrintOptions& options) {
  Table table = Collect(dataset);
  switch (mode) {
    case OutputMode::kCsv:
      PrintSeparated(table, ',', options.headers, out);
      break;
    case OutputMode::kTsv:
      PrintSeparated(table, '\t', options.headers, out);
      break;
    case OutputMode::kJson:
      PrintJson(table, out);
      break;
    case OutputMode::kTable:
      PrintTable(table, options, out);
      break;
  }
}

}  // namespace downsql::tools
