// The update command: the dialog driven step by step through a headless
// view that prints what a user would see.
#include "tools/downsql_update.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "base/code_page.h"
#include "platform/terminal.h"
#include "ui/headless_view.h"
#include "ui/progress_bar.h"
#include "updater/dialog_texts.h"
#include "updater/fmsqlall.h"
#include "updater/run_update.h"

namespace downsql::tools {

namespace {

constexpr size_t kFirstLines = 5;

std::string Utf8(std::string_view cp1250) { return base::Cp1250ToUtf8(std::string(cp1250)); }

bool IsProgressText(std::string_view text) {
  return text.starts_with(updater::texts::kReceivedPrefix) ||
         text.starts_with(updater::texts::kProgressPrefix);
}

class UpdateView : public ui::HeadlessView {
 public:
  explicit UpdateView(bool import)
      : import_(import), terminal_(platform::IsTerminal(platform::TStandardStream::kError)) {}

  // Progress texts ("Odebrano ...", "Wykonano ...") come many times a
  // second: on a terminal they overwrite each other on standard error, and
  // only the last one of a run is printed.
  void SetStatusText(std::string_view text) override {
    ui::HeadlessView::SetStatusText(text);
    if (IsProgressText(text)) {
      progress_ = text;
      if (terminal_ && !bar_) {
        std::fprintf(stderr, "\r%s\x1b[K", Utf8(text).c_str());
        std::fflush(stderr);
        progress_drawn_ = true;
      }
      return;
    }
    EndProgress();
    std::cout << Utf8(text) << std::endl;
  }

  void RunModal(ui::DialogEventSink& events) override {
    events.HandleEvent(ui::DialogEvent::kShow);
    if (!Step()) return;
    PrintEditor();

    events.HandleEvent(ui::DialogEvent::kGetClick);
    EndProgress();
    if (!Step()) return;
    std::string answer = EditorText();
    std::cout << "answer: " << answer.size() << " bytes, " << lines().size() << " lines\n";
    for (size_t i = 0; i < lines().size() && i < kFirstLines; ++i) {
      std::cout << "  " << Utf8(lines()[i]) << '\n';
    }
    if (lines().size() > kFirstLines) std::cout << "  ...\n";
    if (!ExecuteEnabled()) return;  // nothing new
    if (!import_) {
      std::cout << "not imported (--yes imports the answer)\n";
      return;
    }

    ui::TProgressBar bar("importing");
    bar_ = &bar;
    updater::fmsqlall->OnImportProgress = [&bar](int64_t done, int64_t total) {
      bar.Update(done, total);
    };
    events.HandleEvent(ui::DialogEvent::kExecuteClick);
    updater::fmsqlall->OnImportProgress = nullptr;
    bar.Finish();
    bar_ = nullptr;
    EndProgress();
    if (!Step()) return;
    PrintEditor();
  }

 private:
  // False once an error box was shown: the run stops there.
  bool Step() { return errors().empty(); }

  void PrintEditor() {
    for (const std::string& line : lines()) std::cout << Utf8(line) << '\n';
    std::cout.flush();
  }

  void EndProgress() {
    if (progress_drawn_) std::fprintf(stderr, "\r\x1b[K");
    progress_drawn_ = false;
    if (!progress_.empty()) std::cout << Utf8(progress_) << std::endl;
    progress_.clear();
  }

  bool import_;
  bool terminal_;
  std::string progress_;
  bool progress_drawn_ = false;
  ui::TProgressBar* bar_ = nullptr;
};

}  // namespace

int RunUpdateCommand(const std::string& dir, const std::string& service, bool import,
                     int fetch_silence_ms) {
  updater::UpdateState state;
  UpdateView view(import);
  updater::RunImportDialog(state, dir, view, service, fetch_silence_ms);
  for (const std::string& error : view.errors()) {
    std::cerr << "downsql: " << Utf8(error) << '\n';
  }
  return view.errors().empty() ? 0 : 1;
}

}  // namespace downsql::tools
