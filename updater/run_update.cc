// The road of one DoUpdate call.
#include "updater/run_update.h"

#include "updater/fmsqlall.h"

namespace downsql::updater {
namespace {

class CurrentDialog {
 public:
  explicit CurrentDialog(Tfmsqlall* dialog) { fmsqlall = dialog; }
  ~CurrentDialog() { fmsqlall = nullptr; }
  CurrentDialog(const CurrentDialog&) = delete;
  CurrentDialog& operator=(const CurrentDialog&) = delete;
};

}  // namespace

void RunImportDialog(UpdateState& state, std::string directory, ui::DialogView& view,
                     std::string_view service_host, int fetch_silence_ms) {
  state.DatabaseDirectory = std::move(directory);
  Tfmsqlall dialog(view, state, std::string(service_host));
  dialog.SetFetchSilenceLimit(fetch_silence_ms);
  CurrentDialog current(&dialog);
  MarkPresentGames(state);
  dialog.ShowModal();
}

}  // namespace downsql::updater
