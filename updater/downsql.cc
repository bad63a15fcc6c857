// The library's one export, DoUpdate: the host's call to import all missing
// draws into its database directory.
//
// Arguments, in order (the host passes nine; only the eighth is used):
//   1 32-bit value (not read)   2, 3 signed 32-bit integers
//   4, 5, 6 host strings        7 boolean in the low byte of a 32-bit slot
//   8 host string: the database directory   9 host string
// On Linux the dialog is a GTK window when a display can be opened, and
// runs in the terminal (standard input and output) otherwise.
// Nothing escapes the call: the host's caller cannot take a C++ exception,
// so an error before the dialog runs is shown like any dialog error.
#include <cstdint>
#include <exception>
#include <iostream>
#include <memory>

#include "db/access/tabula_library.h"
#include "ui/gtk/gtk_view.h"
#include "ui/terminal_view.h"
#include "updater/fmsqlall.h"
#include "updater/host_string.h"
#include "updater/results_service.h"
#include "updater/run_update.h"

namespace {

// The database engine's default engine and its session "Default" exist from
// the moment the library is loaded until it is unloaded.
downsql::access::TTabulaLibrary library_database_objects;

}  // namespace

extern "C" __attribute__((visibility("default"))) void DoUpdate(
    uint32_t /*unused*/, int32_t /*a2*/, int32_t /*a3*/, const char* /*a4*/, const char* /*a5*/,
    const char* /*a6*/, uint32_t /*a7*/, const char* directory, const char* /*a9*/) {
  using namespace downsql;
  std::unique_ptr<ui::DialogView> view;
  if (ui::GtkDisplayAvailable()) {
    view = std::make_unique<ui::GtkView>();
  } else {
    view = std::make_unique<ui::TerminalView>(std::cin, std::cout);
  }
  try {
    updater::RunImportDialog(updater::LibraryUpdateState(), updater::ReadHostString(directory),
                             *view, updater::kResultsServiceHost);
  } catch (const std::exception& e) {
    view->ShowError(updater::ErrorBoxMessage(e.what()));
  } catch (...) {
    view->ShowError("Unknown error.");
  }
  std::cout.flush();
}
