// The text of the dialog's SQL editor as a list of lines.
//
// Every view (headless, terminal, GTK, Win32) keeps its editor text through
// this class so that the dialog sees one behaviour everywhere: the whole text
// is replaced from a string whose lines are separated by CR LF, CR or LF (a
// trailing line break does not make an extra line), and read back with every
// line followed by CR LF.
//
// The lines are kept in one buffer, each followed by CR LF, with the offset
// where each begins: an answer of tens of megabytes and hundreds of
// thousands of lines becomes one allocation and an index, not one string per
// line, and reading the text back is the buffer itself.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace downsql::ui {

class EditorLines {
 public:
  void Clear();
  // Replaces all lines by the lines of text; "" leaves no line at all.
  void SetText(std::string_view text);
  // As SetText; a text whose every line break is CR LF is kept as it is, its
  // buffer taken over rather than copied.
  void TakeText(std::string&& text);
  // Appends line as one line, whatever it holds.
  void Add(std::string_view line);
  // Every line followed by CR LF; "" when there is no line.
  const std::string& Text() const { return text_; }

  size_t size() const { return starts_.size(); }
  // Line i (< size()) without its line break; valid until the next change.
  std::string_view line(size_t i) const;
  // A copy of all lines.
  std::vector<std::string> lines() const;

 private:
  std::string text_;
  std::vector<size_t> starts_;  // where each line begins in text_
};

}  // namespace downsql::ui
