// TNetHeaderList: header lines, each "Name: value".
//
// Names are compared without regard to case and the first line with a name
// wins; a value is the text after the first colon without surrounding
// blanks and control characters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace downsql::http {

class TNetHeaderList {
 public:
  // The value of the first line named name, or "".
  std::string Values(std::string_view name) const;
  // The values of every line named name, in order.
  std::vector<std::string> AllValues(std::string_view name) const;
  // Replaces the first line named name by "Name: value" (appends when there
  // is none); an empty value removes it.
  void SetValue(std::string_view name, std::string_view value);
  // Appends a header line as received. A line that begins with a blank or a
  // tab continues the previous line's value after one blank.
  void AddReceivedLine(std::string_view line);
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }

  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

// Text without leading and trailing bytes up to the blank (blanks and
// control characters).
std::string Trim(std::string_view text);
// Case-insensitive (ASCII) equality.
bool SameText(std::string_view a, std::string_view b);

}  // namespace downsql::http
