// Splitting and joining the editor's text.
#include "ui/editor_lines.h"

#include <algorithm>
#include <cstring>

namespace downsql::ui {
namespace {

constexpr std::string_view kBreak = "\r\n";

// The first ch in [from, end), or end.
const char* Find(const char* from, const char* end, char ch) {
  const void* found = std::memchr(from, ch, static_cast<size_t>(end - from));
  return found != nullptr ? static_cast<const char*>(found) : end;
}

// Calls on_line(begin, end, break_end) for every line of text: [begin, end)
// is the line, [end, break_end) its break (empty for a last line without
// one). CR LF is one break; a lone CR or LF is one break too. The next CR
// and the next LF are each searched for again only once the split has
// passed them, so the text is scanned once for each; on_line returns false
// to stop.
template <typename OnLine>
void SplitLines(std::string_view text, OnLine on_line) {
  const char* at = text.data();
  const char* const end = at + text.size();
  const char* cr = Find(at, end, '\r');
  const char* lf = Find(at, end, '\n');
  while (at < end) {
    if (cr < at) cr = Find(at, end, '\r');
    if (lf < at) lf = Find(at, end, '\n');
    const char* line_end = std::min(cr, lf);
    const char* next = line_end;
    if (line_end < end) {
      ++next;
      if (*line_end == '\r' && next < end && *next == '\n') ++next;
    }
    if (!on_line(at, line_end, next)) return;
    at = next;
  }
}

}  // namespace

void EditorLines::Clear() {
  text_.clear();
  starts_.clear();
}

void EditorLines::SetText(std::string_view text) {
  Clear();
  text_.reserve(text.size() + kBreak.size());
  SplitLines(text, [&](const char* begin, const char* end, const char*) {
    Add(std::string_view(begin, static_cast<size_t>(end - begin)));
    return true;
  });
}

void EditorLines::TakeText(std::string&& text) {
  Clear();
  // One offset per line, counted first so the index is filled in place.
  size_t breaks = 0;
  for (const char* at = text.data();
       (at = Find(at, text.data() + text.size(), '\n')) < text.data() + text.size(); ++at)
    ++breaks;
  starts_.reserve(breaks + 1);
  bool kept_form = true;
  const char* base = text.data();
  SplitLines(text, [&](const char* begin, const char* end, const char* next) {
    kept_form = next - end == 2 || next == base + text.size();
    if (kept_form) starts_.push_back(static_cast<size_t>(begin - base));
    return kept_form;
  });
  if (!kept_form) {
    SetText(std::string_view(text));
    return;
  }
  text_ = std::move(text);
  if (!text_.empty() && !std::string_view(text_).ends_with(kBreak)) text_.append(kBreak);
}

void EditorLines::Add(std::string_view line) {
  starts_.push_back(text_.size());
  text_.append(line);
  text_.append(kBreak);
}

std::string_view EditorLines::line(size_t i) const {
  size_t end = i + 1 < starts_.size() ? starts_[i + 1] : text_.size();
  return std::string_view(text_).substr(starts_[i], end - kBreak.size() - starts_[i]);
}

std::vector<std::string> EditorLines::lines() const {
  std::vector<std::string> out;
  out.reserve(size());
  for (size_t i = 0; i < size(); ++i) out.emplace_back(line(i));
  return out;
}

}  // namespace downsql::ui
