// The text of the dialog's SQL editor as a list of lines.
//
// Every view (headless, terminal, GTK, Win32) keeps its editor text through
// this class so that the dialog sees one behaviour everywhere: the whole text
// is replaced from a string whose lines are separated by CR LF, CR or LF (a
// trailing line break does not make an extra line), and read back with every
// line followed by CR LF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace downsql::ui {

class EditorLines {
 public:
  void Clear() { lines_.clear(); }
  // Replaces all lines by the lines of text; "" leaves no line at all.
  void SetText(std::string_view text);
  void Add(std::string_view line) { lines_.emplace_back(line); }
  // Every line followed by CR LF; "" when there is no line.
  std::string Text() const;

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

}  // namespace downsql::ui
