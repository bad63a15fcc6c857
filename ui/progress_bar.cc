#include "ui/progress_bar.h"

#include <cstdio>

#include "platform/terminal.h"

namespace downsql::ui {

namespace {
constexpr int kWidth = 30;
}

TProgressBar::TProgressBar(std::string label)
    : label_(std::move(label)), enabled_(platform::IsTerminal(platform::TStandardStream::kError)) {}

TProgressBar::~TProgressBar() { Finish(); }

void TProgressBar::Update(int64_t done, int64_t total) {
  if (!enabled_ || total <= 0) return;
  int percent = int(done * 100 / total);
  if (percent == last_percent_) return;
  last_percent_ = percent;
  int filled = percent * kWidth / 100;
  std::string bar(size_t(filled), '#');
  bar.append(size_t(kWidth - filled), '-');
  std::fprintf(stderr, "\r%s [%s] %3d%%  %lld / %lld", label_.c_str(), bar.c_str(), percent,
               static_cast<long long>(done), static_cast<long long>(total));
  std::fflush(stderr);
  drawn_ = true;
}

void TProgressBar::Finish() {
  if (drawn_) std::fputc('\n', stderr);
  drawn_ = false;
}

}  // namespace downsql::ui
