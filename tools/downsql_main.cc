// downsql: the updater's import dialog for people without the host program.
//
//   downsql summary DBDIR   the summary the dialog shows when it opens
//   downsql request DBDIR   the request address "Pobierz" would send
//   downsql fetch DBDIR     "Pobierz": the service's answer on standard output
//   downsql run DBDIR       the dialog itself, driven from the terminal
//   downsql gui DBDIR       the dialog itself, as a window
//   downsql update DBDIR    fetch and (with --yes) import without questions
//   downsql import DBDIR FILE  "Wykonaj" on an answer file: runs it as the
//                           import script and prints the status text
//
// It goes the same road as the library's DoUpdate (marking present games,
// refreshing the last draws, the dialog's handlers) with a headless or a
// terminal view. Texts are Windows-1250 inside and UTF-8 on the terminal.
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include <fstream>
#include <iterator>

#include "base/code_page.h"
#include "db/access/tabula_library.h"
#include "platform/file.h"
#include "tools/downsql_update.h"
#include "ui/gtk/gtk_view.h"
#include "ui/headless_view.h"
#include "ui/terminal_view.h"
#include "updater/fmsqlall.h"
#include "updater/request_builder.h"
#include "updater/results_service.h"
#include "updater/run_update.h"

namespace {

using namespace downsql;

void PrintHelp(std::ostream& out) {
  out << "usage: downsql [--service HOST[:PORT]] [--timeout SECONDS] [--yes] COMMAND DBDIR [FILE]\n"
         "\n"
         "Imports missing lottery draws into the host's database directory DBDIR,\n"
         "the way the host's \"Import\" dialog does.\n"
         "\n"
         "commands:\n"
         "  summary   print the summary the dialog shows when it opens: per game,\n"
         "            whether its table DBDIR/<table>.dat exists and the date of its\n"
         "            last stored draw\n"
         "  request   print the request address (not encoded) that \"Pobierz\" would\n"
         "            send right after the dialog opened\n"
         "  fetch     press \"Pobierz\": send the request to the results service and\n"
         "            print its answer; the status texts go to standard error as they\n"
         "            change, an error's message ends the program with status 1\n"
         "  update    the import for scripts and scheduled jobs: print the summary,\n"
         "            fetch the missing draws, print the answer's size and first\n"
         "            lines and, with --yes, import it and print the summary after;\n"
         "            status 1 and the error's text on standard error on any error\n"
         "  run       run the dialog in the terminal: the editor's text and the status\n"
         "            line are printed, commands are typed one per line:\n"
         "              pobierz (p)  fetch the missing draws (button Pobierz)\n"
         "              wykonaj (w)  run the editor's text against the database\n"
         "              zamknij (z)  close the dialog (so does end of input)\n"
         "              panel        double click on the button strip: enables Wykonaj\n"
         "              pasek        double click on the status bar: shows the last request\n"
         "              edytuj (e)   replace the editor's text by the lines that follow,\n"
         "                           up to a line holding only \".\"\n"
         "              pomoc (?)    list the commands\n"
         "  gui       open the dialog as a window (needs a display: X11 or Wayland)\n"
         "  import    press \"Wykonaj\" on the text of FILE (a saved answer of the\n"
         "            service, Windows-1250): it runs inside one transaction and the\n"
         "            status text is printed; an error's message ends the program\n"
         "            with status 1 and nothing of FILE stays in the database\n"
         "\n"
         "options:\n"
         "  --service HOST[:PORT]  the results service to ask (default: "
      << updater::kResultsServiceHost
      << ")\n"
         "  --timeout SECONDS      give up a fetch with \"Read Timeout\" when the service\n"
         "                         sends nothing for this long (default: "
      << updater::kFetchSilenceLimitMs / 1000
      << "; 0 waits\n"
         "                         without limit); a service that keeps sending is\n"
         "                         never cut off\n"
         "  --yes                  update: import the answer (else only fetch it)\n"
         "  --help                 this text\n"
         "\n"
         "DBDIR gets a trailing path separator when it has none (the library itself\n"
         "joins the directory and the table names as they are). Texts are Windows-1250\n"
         "inside and printed as UTF-8; lines end in LF on the terminal.\n";
}

// Seconds as the fetch's silence limit in milliseconds; -1 when the text is
// not a whole number from 0 to what the limit can hold.
int SilenceLimitMs(std::string_view seconds) {
  constexpr int kMaxSeconds = 2147483;
  if (seconds.empty() || seconds.size() > 7) return -1;
  int value = 0;
  for (char ch : seconds) {
    if (ch < '0' || ch > '9') return -1;
    value = value * 10 + (ch - '0');
  }
  return value <= kMaxSeconds ? value * 1000 : -1;
}

int Usage(const std::string& problem) {
  std::cerr << "downsql: " << problem << "\n(downsql --help explains the commands)\n";
  return 2;
}

std::string WithTrailingSeparator(std::string dir) {
  if (dir.back() != '/' && dir.back() != '\\') dir += platform::PathSeparator();
  return dir;
}

// The editor's lines, converted in blocks: an answer may hold hundreds of
// thousands of lines.
void PrintLines(const ui::HeadlessView& view) {
  constexpr size_t kBlock = 1 << 16;
  const ui::EditorLines& editor = view.editor();
  std::string block;
  block.reserve(kBlock + kBlock / 4);
  for (size_t i = 0; i < editor.size(); ++i) {
    base::AppendCp1250AsUtf8(block, editor.line(i));
    block += '\n';
    if (block.size() >= kBlock) {
      std::cout.write(block.data(), static_cast<std::streamsize>(block.size()));
      block.clear();
    }
  }
  std::cout.write(block.data(), static_cast<std::streamsize>(block.size()));
}

// Errors the headless dialog showed go to standard error; true when there
// were none.
bool ReportErrors(const ui::HeadlessView& view) {
  for (const std::string& error : view.errors()) {
    std::cerr << "downsql: " << base::Cp1250ToUtf8(error) << '\n';
  }
  return view.errors().empty();
}

// A headless view that also reports every status text on standard error
// the moment it is set.
class StatusReportingView : public ui::HeadlessView {
 public:
  void SetStatusText(std::string_view text) override {
    ui::HeadlessView::SetStatusText(text);
    // One write per text: a large answer reports progress a thousand times.
    std::string line = base::Cp1250ToUtf8(text);
    line += '\n';
    std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::string service(updater::kResultsServiceHost);
  int silence_ms = updater::kFetchSilenceLimitMs;
  std::string command, dir, file;
  bool yes = false;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintHelp(std::cout);
      return 0;
    } else if (arg == "--yes") {
      yes = true;
    } else if (arg == "--service") {
      if (i + 1 >= argc) return Usage("--service needs HOST[:PORT]");
      service = argv[++i];
    } else if (arg.starts_with("--service=")) {
      service = arg.substr(std::strlen("--service="));
    } else if (arg == "--timeout" || arg.starts_with("--timeout=")) {
      std::string_view seconds;
      if (arg == "--timeout") {
        if (i + 1 >= argc) return Usage("--timeout needs SECONDS");
        seconds = argv[++i];
      } else {
        seconds = arg.substr(std::strlen("--timeout="));
      }
      silence_ms = SilenceLimitMs(seconds);
      if (silence_ms < 0) return Usage("--timeout wants whole SECONDS from 0 to 2147483");
    } else if (arg.starts_with("-") && arg.size() > 1) {
      return Usage("unknown option " + std::string(arg));
    } else if (positional == 0) {
      command = arg;
      ++positional;
    } else if (positional == 1) {
      dir = arg;
      ++positional;
    } else if (positional == 2 && command == "import") {
      file = arg;
      ++positional;
    } else {
      return Usage("too many arguments");
    }
  }
  if (service.empty() || service.find_first_of("/ ") != std::string::npos) {
    return Usage("--service wants HOST or HOST:PORT");
  }
  if (command != "summary" && command != "request" && command != "run" && command != "fetch" &&
      command != "gui" && command != "update" && command != "import") {
    return Usage(command.empty() ? "no command" : "unknown command " + command);
  }
  if (positional < 2 || dir.empty()) return Usage("no database directory");
  if (command == "import" && positional < 3) return Usage("import needs the answer FILE");
  dir = WithTrailingSeparator(dir);

  // The database engine's default engine and session, as the library has
  // them while it is loaded.
  access::TTabulaLibrary database_objects;
  try {
    if (command == "update") return tools::RunUpdateCommand(dir, service, yes, silence_ms);
    updater::UpdateState state;
    if (command == "gui") {
      if (!ui::GtkDisplayAvailable()) {
        std::cerr << "downsql: no display to open the window on (is DISPLAY set?); "
                     "\"downsql run\" runs the dialog in the terminal\n";
        return 1;
      }
      ui::GtkView view;
      updater::RunImportDialog(state, dir, view, service);
      return 0;
    }
    if (command == "import") {
      std::ifstream in(file, std::ios::binary);
      if (!in) return Usage("cannot read " + file);
      std::string answer{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      state.DatabaseDirectory = dir;
      updater::MarkPresentGames(state);
      ui::HeadlessView view;
      updater::Tfmsqlall dialog(view, state, service);
      dialog.RefreshLastDraws();
      dialog.ExecuteImport(answer);
      std::cout << base::Cp1250ToUtf8(view.StatusText()) << '\n';
      return 0;
    }
    if (command == "run") {
      ui::TerminalView view(std::cin, std::cout);
      updater::RunImportDialog(state, dir, view, service, silence_ms);
      return 0;
    }
    if (command == "fetch") {
      StatusReportingView view;
      view.QueueEvent(ui::DialogEvent::kGetClick);
      view.QueueEvent(ui::DialogEvent::kCloseClick);
      updater::RunImportDialog(state, dir, view, service, silence_ms);
      if (!ReportErrors(view)) return 1;
      PrintLines(view);
      return 0;
    }
    ui::HeadlessView view;
    updater::RunImportDialog(state, dir, view, service, silence_ms);
    if (!ReportErrors(view)) return 1;
    if (command == "summary") {
      PrintLines(view);
    } else {
      std::cout << base::Cp1250ToUtf8(updater::BuildRequestAddress(state, service)) << '\n';
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "downsql: " << base::Cp1250ToUtf8(updater::ErrorBoxMessage(e.what())) << '\n';
    return 1;
  }
}
