// Delimited text fields and rows, and date and time format strings.
#include "db/sql/delimited_text.h"

#include <cctype>

#include "db/sql/date_time_text.h"

namespace downsql::sql {

void AppendDelimitedField(std::string& line, std::string_view field, char delimiter) {
  bool quote = false;
  for (char c : field) {
    if (c == delimiter || c == '"' || c == '\r' || c == '\n') {
      quote = true;
      break;
    }
  }
  if (!quote) {
    line.append(field);
    return;
  }
  line += '"';
  for (char c : field) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

bool TDelimitedReader::Next(std::vector<std::string>* fields) {
  fields->clear();
  if (pos_ >= text_.size()) return false;
  row_line_ = next_line_;
  std::string field;
  bool quoted = false;
  while (pos_ < text_.size()) {
    const char c = text_[pos_++];
    if (quoted) {
      if (c == '"') {
        if (pos_ < text_.size() && text_[pos_] == '"') {
          field += '"';
          ++pos_;
        } else {
          quoted = false;
        }
      } else {
        if (c == '\n') ++next_line_;
        field += c;
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
    } else if (c == delimiter_) {
      fields->push_back(std::move(field));
      field.clear();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
      ++next_line_;
      fields->push_back(std::move(field));
      return true;
    } else {
      field += c;
    }
  }
  fields->push_back(std::move(field));
  return true;
}

// --- date and time formats ------------------------------------------------

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
  }
  return true;
}

// Reads up to max digits (at least one); false when there is none.
bool ReadNumber(std::string_view text, size_t& pos, size_t max, int* value) {
  size_t n = 0;
  int v = 0;
  while (pos < text.size() && n < max && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    v = v * 10 + (text[pos++] - '0');
    ++n;
  }
  *value = v;
  return n > 0;
}

std::string Digits(int value, int width) {
  std::string s = std::to_string(value);
  while (int(s.size()) < width) s.insert(s.begin(), '0');
  return s;
}

enum Slot { kYear, kMonthSlot, kDaySlot, kHourSlot, kMinuteSlot, kSecondSlot, kMsSlot, kPmSlot };

}  // namespace

TDateTimeFormat::TDateTimeFormat(std::string_view format, bool time) {
  struct TWord {
    const char* text;
    Part part;
    bool two_digits;
  };
  const TWord date_words[] = {{"yyyy", kYear4, false}, {"yy", kYear2, true}, {"mm", kMonth, true},
                              {"m", kMonth, false},    {"dd", kDay, true},   {"d", kDay, false}};
  const TWord time_words[] = {{"ampm", kAmPm, false}, {"hh", kHour, true},   {"h", kHour, false},
                              {"nn", kMinute, true},  {"mm", kMinute, true}, {"zzz", kMs, true},
                              {"ss", kSecond, true},  {"s", kSecond, false}};
  size_t pos = 0;
  while (pos < format.size()) {
    bool matched = false;
    const TWord* begin = time ? std::begin(time_words) : std::begin(date_words);
    const TWord* end = time ? std::end(time_words) : std::end(date_words);
    for (const TWord* w = begin; w != end; ++w) {
      if (StartsWithNoCase(format.substr(pos), w->text)) {
        pieces_.push_back({w->part, w->two_digits, ""});
        pos += std::string_view(w->text).size();
        matched = true;
        break;
      }
    }
    if (matched) continue;
    if (pieces_.empty() || pieces_.back().part != kLiteral)
      pieces_.push_back({kLiteral, false, ""});
    pieces_.back().literal += format[pos++];
  }
}

std::string TDateTimeFormat::Format(const int values[8]) const {
  std::string out;
  for (const TPiece& p : pieces_) {
    switch (p.part) {
      case kLiteral:
        out += p.literal;
        break;
      case kYear4:
        out += Digits(values[kYear], 4);
        break;
      case kYear2:
        out += Digits(values[kYear] % 100, 2);
        break;
      case kMonth:
        out += Digits(values[kMonthSlot], p.two_digits ? 2 : 1);
        break;
      case kDay:
        out += Digits(values[kDaySlot], p.two_digits ? 2 : 1);
        break;
      case kHour: {
        int hour = values[kHourSlot];
        if (values[kPmSlot] >= 0) hour = hour % 12 == 0 ? 12 : hour % 12;
        out += Digits(hour, p.two_digits ? 2 : 1);
        break;
      }
      case kMinute:
        out += Digits(values[kMinuteSlot], 2);
        break;
      case kSecond:
        out += Digits(values[kSecondSlot], p.two_digits ? 2 : 1);
        break;
      case kMs:
        out += Digits(values[kMsSlot], 3);
        break;
      case kAmPm:
        out += values[kHourSlot] >= 12 ? "PM" : "AM";
        break;
    }
  }
  return out;
}

bool TDateTimeFormat::Parse(std::string_view text, int values[8]) const {
  size_t pos = 0;
  for (const TPiece& p : pieces_) {
    int v = 0;
    switch (p.part) {
      case kLiteral:
        if (text.substr(pos, p.literal.size()) != p.literal) return false;
        pos += p.literal.size();
        continue;
      case kAmPm:
        if (StartsWithNoCase(text.substr(pos), "am")) {
          values[kPmSlot] = 0;
        } else if (StartsWithNoCase(text.substr(pos), "pm")) {
          values[kPmSlot] = 1;
        } else {
          return false;
        }
        pos += 2;
        continue;
      case kYear4:
        if (!ReadNumber(text, pos, 4, &v)) return false;
        values[kYear] = v;
        continue;
      case kYear2:
        if (!ReadNumber(text, pos, 2, &v)) return false;
        values[kYear] = 2000 + v;
        continue;
      case kMs:
        if (!ReadNumber(text, pos, 3, &v)) return false;
        values[kMsSlot] = v;
        continue;
      default:
        if (!ReadNumber(text, pos, 2, &v)) return false;
        break;
    }
    const Slot slot = p.part == kMonth    ? kMonthSlot
                      : p.part == kDay    ? kDaySlot
                      : p.part == kHour   ? kHourSlot
                      : p.part == kMinute ? kMinuteSlot
                                          : kSecondSlot;
    values[slot] = v;
  }
  return pos == text.size();
}

std::string TDateTimeFormat::FormatDate(int32_t day_number) const {
  int values[8] = {0, 0, 0, 0, 0, 0, 0, -1};
  SplitDayNumber(day_number, &values[kYear], &values[kMonthSlot], &values[kDaySlot]);
  return Format(values);
}

std::string TDateTimeFormat::FormatTime(int32_t ms) const {
  int values[8] = {0, 0, 0, 0, 0, 0, 0, -1};
  for (const TPiece& p : pieces_)
    if (p.part == kAmPm) values[kPmSlot] = 0;
  values[kHourSlot] = ms / 3600000;
  values[kMinuteSlot] = ms / 60000 % 60;
  values[kSecondSlot] = ms / 1000 % 60;
  values[kMsSlot] = ms % 1000;
  return Format(values);
}

std::optional<int32_t> TDateTimeFormat::ParseDate(std::string_view text) const {
  int values[8] = {0, 1, 1, 0, 0, 0, 0, -1};
  if (!Parse(text, values)) return std::nullopt;
  return DayNumberOf(values[kYear], values[kMonthSlot], values[kDaySlot]);
}

std::optional<int32_t> TDateTimeFormat::ParseTime(std::string_view text) const {
  int values[8] = {0, 1, 1, 0, 0, 0, 0, -1};
  if (!Parse(text, values)) return std::nullopt;
  int hour = values[kHourSlot];
  if (values[kPmSlot] >= 0) {
    if (hour < 1 || hour > 12) return std::nullopt;
    hour = hour % 12 + (values[kPmSlot] == 1 ? 12 : 0);
  }
  if (hour > 23 || values[kMinuteSlot] > 59 || values[kSecondSlot] > 59) return std::nullopt;
  return int32_t(((hour * 60 + values[kMinuteSlot]) * 60 + values[kSecondSlot]) * 1000 +
                 values[kMsSlot]);
}

}  // namespace downsql::sql
