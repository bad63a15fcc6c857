// Printing the dialog and reading its commands in a terminal.
#include "ui/terminal_view.h"

#include <algorithm>
#include <cctype>

#include "base/code_page.h"
#include "ui/dialog_form.h"

namespace downsql::ui {
namespace {

constexpr std::string_view kRule = "------------------------------------------------------------";

std::string CommandWord(std::string line) {
  auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  line.erase(line.begin(), std::find_if_not(line.begin(), line.end(), blank));
  line.erase(std::find_if_not(line.rbegin(), line.rend(), blank).base(), line.end());
  std::transform(line.begin(), line.end(), line.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return line;
}

}  // namespace

void TerminalView::Print(std::string_view cp1250_text) { out_ << base::Cp1250ToUtf8(cp1250_text); }

void TerminalView::SetStatusText(std::string_view text) {
  status_ = text;
  if (in_command_) {
    out_ << "  ... ";
    Print(status_);
    out_ << '\n' << std::flush;
  }
}

void TerminalView::ShowError(std::string_view message) {
  out_ << "*** ";
  Print(
      "B\xB3\xB9"
      "d: ");
  Print(message);
  out_ << " [OK]\n" << std::flush;
}

void TerminalView::Render() {
  out_ << kRule << '\n' << "== ";
  Print(ImportDialogForm::kCaption);
  out_ << " ==\n";
  for (size_t i = 0; i < editor_.size(); ++i) {
    Print(editor_.line(i));
    out_ << '\n';
  }
  out_ << kRule << '\n' << "Status: ";
  Print(status_);
  out_ << '\n'
       << '[' << ImportDialogForm::kGetCaption << "] " << (execute_enabled_ ? "[" : "(")
       << ImportDialogForm::kExecuteCaption << (execute_enabled_ ? "] " : ") ") << '['
       << ImportDialogForm::kCloseCaption << "]\n";
}

void TerminalView::PrintHelp() {
  out_ << "Polecenia:\n"
          "  pobierz (p)   przycisk Pobierz\n"
          "  wykonaj (w)   przycisk Wykonaj (gdy aktywny)\n"
          "  zamknij (z)   przycisk Zamknij; koniec wej";
  Print("\x9C");
  out_ << "cia zamyka okno tak samo\n"
          "  panel         dwuklik na pasku przycisk";
  Print("\xF3");
  out_ << "w\n"
          "  pasek         dwuklik na pasku stanu\n"
          "  edytuj (e)    nowy tekst edytora: kolejne wiersze, zako";
  Print("\xF1");
  out_ << "czone wierszem \".\"\n"
          "  pomoc (?)     ta pomoc\n";
}

void TerminalView::ReadEditorText() {
  std::string text, line;
  while (std::getline(in_, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == ".") break;
    text += base::Utf8ToCp1250(line);
    text += "\r\n";
  }
  editor_.SetText(text);
}

void TerminalView::RunModal(DialogEventSink& events) {
  closed_ = false;
  in_command_ = true;
  events.HandleEvent(DialogEvent::kShow);
  in_command_ = false;
  std::string line;
  while (!closed_) {
    Render();
    out_ << "> " << std::flush;
    if (!std::getline(in_, line)) {
      out_ << '\n';
      break;  // end of input closes the window like its close box
    }
    std::string word = CommandWord(line);
    DialogEvent event;
    if (word == "pobierz" || word == "p") {
      event = DialogEvent::kGetClick;
    } else if (word == "wykonaj" || word == "w") {
      if (!execute_enabled_) {
        out_ << "Przycisk Wykonaj jest nieaktywny.\n";
        continue;
      }
      event = DialogEvent::kExecuteClick;
    } else if (word == "zamknij" || word == "z" || word == "q") {
      event = DialogEvent::kCloseClick;
    } else if (word == "panel") {
      event = DialogEvent::kPanelDblClick;
    } else if (word == "pasek") {
      event = DialogEvent::kStatusBarDblClick;
    } else if (word == "edytuj" || word == "e") {
      ReadEditorText();
      continue;
    } else {
      if (word.empty()) continue;
      if (word != "pomoc" && word != "?") out_ << "Nieznane polecenie: " << line << '\n';
      PrintHelp();
      continue;
    }
    in_command_ = true;
    events.HandleEvent(event);
    in_command_ = false;
  }
  closed_ = true;
}

}  // namespace downsql::ui
