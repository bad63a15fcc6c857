// Building the summary text.
#include "updater/summary.h"

#include <cstdio>

#include "updater/dialog_texts.h"

namespace downsql::updater {
namespace {

std::string Format(const char* pattern, std::string_view a, std::string_view b = {}) {
  std::string first(a), second(b);
  int size = std::snprintf(nullptr, 0, pattern, first.c_str(), second.c_str());
  std::string out(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(out.data(), out.size(), pattern, first.c_str(), second.c_str());
  out.resize(static_cast<size_t>(size));
  return out;
}

}  // namespace

std::string SummaryLine(const UpdateState& state, int index) {
  const GameEntry& game = GameAt(index);
  if (state.Present[index]) {
    return Format(texts::kSummaryPresentLine, game.DisplayName, FormatSummaryDate(state, index));
  }
  return Format(texts::kSummaryAbsentLine, game.DisplayName);
}

std::string BuildSummaryText(const UpdateState& state) {
  std::string text;
  text += texts::kSummaryHeading;
  text += "\r\n";
  text += texts::kSummaryRule;
  text += "\r\n";
  for (int i = 0; i < kGameCount; ++i) {
    text += SummaryLine(state, i);
    text += "\r\n";
  }
  text += texts::kSummaryRule;
  return text;
}

}  // namespace downsql::updater
