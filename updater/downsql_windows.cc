// The library's one export on Windows, DoUpdate: the host's call to import
// all missing draws into its database directory.
//
// DoUpdate uses the standard Windows calling convention (the callee removes
// its nine 4-byte arguments, 36 bytes) and is exported undecorated through
// downsql.def. Arguments, in order (only the eighth is used):
//   1 32-bit value (not read)   2, 3 signed 32-bit integers
//   4, 5, 6 host strings        7 boolean in the low byte of a 32-bit slot
//   8 host string: the database directory   9 host string
// The dialog is a window of Windows' own controls, run modally on the
// host's thread. Nothing escapes the call: the host cannot take a C++
// exception, so an error before the dialog runs is shown in an error box.
#include <cstdint>
#include <exception>
#include <memory>

#include "db/access/tabula_library.h"
#include "ui/win32/win32_view.h"
#include "updater/fmsqlall.h"
#include "updater/host_string.h"
#include "updater/results_service.h"
#include "updater/run_update.h"

namespace {

// The database engine's default engine and its session "Default" exist from
// the moment the library is loaded until it is unloaded.
downsql::access::TTabulaLibrary* library_database_objects = nullptr;

constexpr unsigned long kProcessDetach = 0, kProcessAttach = 1;

}  // namespace

// Called by the system loader after the runtime has built the library's
// static objects (attach) and before it destroys them (detach).
extern "C" int __stdcall DllMain(void* /*instance*/, unsigned long reason, void* /*reserved*/) {
  if (reason == kProcessAttach) {
    try {
      library_database_objects = new downsql::access::TTabulaLibrary();
    } catch (...) {
      return 0;  // the load fails
    }
  } else if (reason == kProcessDetach) {
    delete library_database_objects;
    library_database_objects = nullptr;
  }
  return 1;
}

extern "C" void __stdcall DoUpdate(uint32_t /*unused*/, int32_t /*a2*/, int32_t /*a3*/,
                                   const char* /*a4*/, const char* /*a5*/, const char* /*a6*/,
                                   uint32_t /*a7*/, const char* directory, const char* /*a9*/) {
  using namespace downsql;
  try {
    ui::Win32View view;
    updater::RunImportDialog(updater::LibraryUpdateState(), updater::ReadHostString(directory),
                             view, updater::kResultsServiceHost);
  } catch (const std::exception& e) {
    ui::ShowWin32ErrorBox(updater::ErrorBoxMessage(e.what()), nullptr);
  } catch (...) {
    ui::ShowWin32ErrorBox("Unknown error.", nullptr);
  }
}
