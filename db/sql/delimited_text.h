// Delimited text as EXPORT TABLE writes it and IMPORT TABLE reads it: one
// row per line, fields separated by a delimiter character.
//
//   field      written plain unless it holds the delimiter, a double quote,
//              a carriage return or a line feed; then it is enclosed in
//              double quotes, a quote inside written twice
//   line end   CR LF when written; CR LF or LF when read (inside quotes a
//              line break belongs to the field)
//   NULL       an empty field (the engine stores no empty text)
//
// Bytes are kept as they are (Windows-1250 text as stored).
//
// Date and time format strings name the parts of a value; anything else in
// them is a literal that is written as it stands and must be there when
// read. Parts (letters in any case):
//
//   yyyy year  yy year of 2000..2099  mm / m month  dd / d day
//   hh / h hour  nn minute  ss / s second  zzz millisecond  ampm AM or PM
//
// In a time format "mm" is the minute.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace downsql::sql {

// Appends one field (quoted when it has to be) to line.
void AppendDelimitedField(std::string& line, std::string_view field, char delimiter);

// Reads the rows of a delimited text one by one.
class TDelimitedReader {
 public:
  TDelimitedReader(std::string_view text, char delimiter) : text_(text), delimiter_(delimiter) {}

  // The next row's fields; false at the end of the text. An unterminated
  // quote runs to the end of the text.
  bool Next(std::vector<std::string>* fields);
  // The line (1-based) where the row last read begins.
  uint32_t line() const { return row_line_; }

 private:
  std::string_view text_;
  char delimiter_;
  size_t pos_ = 0;
  uint32_t next_line_ = 1;
  uint32_t row_line_ = 0;
};

// A date or time format string, parsed once.
class TDateTimeFormat {
 public:
  // time: "mm" is the minute rather than the month.
  TDateTimeFormat(std::string_view format, bool time);

  // Day number (1 January 0001 = 1) as text.
  std::string FormatDate(int32_t day_number) const;
  // Milliseconds since midnight as text.
  std::string FormatTime(int32_t ms) const;
  // Text as a day number; nullopt when it does not follow the format or is
  // no valid date.
  std::optional<int32_t> ParseDate(std::string_view text) const;
  // Text as milliseconds; nullopt when it does not fit.
  std::optional<int32_t> ParseTime(std::string_view text) const;

 private:
  enum Part { kLiteral, kYear4, kYear2, kMonth, kDay, kHour, kMinute, kSecond, kMs, kAmPm };
  struct TPiece {
    Part part;
    bool two_digits;  // written with a leading zero
    std::string literal;
  };
  // Reads the parts of text into values (year, month, day, hour, minute,
  // second, ms, pm); false when the text does not follow the format.
  bool Parse(std::string_view text, int values[8]) const;
  std::string Format(const int values[8]) const;

  std::vector<TPiece> pieces_;
};

}  // namespace downsql::sql
