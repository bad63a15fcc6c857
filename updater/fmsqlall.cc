// The import dialog's handlers and event dispatch.
#include "updater/fmsqlall.h"

#include <exception>
#include <string>

#include "updater/dialog_texts.h"
#include "updater/request_builder.h"
#include "updater/results_service.h"
#include "updater/summary.h"

namespace downsql::updater {

Tfmsqlall* fmsqlall = nullptr;

std::string ErrorBoxMessage(std::string_view message) {
  std::string shown(message);
  if (!shown.empty() && static_cast<unsigned char>(shown.back()) > '.') shown += '.';
  return shown;
}

std::string_view TrimText(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

Tfmsqlall::Tfmsqlall(ui::DialogView& view, UpdateState& state, std::string service_host)
    : view_(view), state_(state), service_host_(std::move(service_host)) {
  view_.SetExecuteEnabled(false);
}

void Tfmsqlall::HandleEvent(ui::DialogEvent event) {
  try {
    switch (event) {
      case ui::DialogEvent::kShow:
        FormShow();
        break;
      case ui::DialogEvent::kGetClick:
        btnGETClick();
        break;
      case ui::DialogEvent::kExecuteClick:
        btnExecuteClick();
        break;
      case ui::DialogEvent::kCloseClick:
        btnOKClick();
        break;
      case ui::DialogEvent::kPanelDblClick:
        Panel1DblClick();
        break;
      case ui::DialogEvent::kStatusBarDblClick:
        StatusBar1DblClick();
        break;
    }
  } catch (const access::EAbort&) {
    // Ended on purpose: nothing to show.
  } catch (const std::exception& e) {
    view_.ShowError(ErrorBoxMessage(e.what()));
  } catch (...) {
    view_.ShowError("Unknown error.");
  }
}

std::string Tfmsqlall::BuildSummary() {
  RefreshLastDraws();
  return BuildSummaryText(state_);
}

void Tfmsqlall::FormShow() {
  view_.SetEditorText(BuildSummary());
  view_.AppendEditorLine(texts::kPressGet);
}

void Tfmsqlall::btnGETClick() {
  state_.ExecuteLocked = false;
  LastRequest = BuildRequestAddress(state_, service_host_);
  view_.SetStatusText(std::string(texts::kConnecting) + ServiceWebAddress(service_host_));
  view_.AppendEditorLine(texts::kRequestSent);
  view_.AppendEditorLine(texts::kRequestRule);
  view_.AppendEditorLine(LastRequest);
  FetchAnswer(LastRequest);
}

void Tfmsqlall::btnExecuteClick() {
  if (state_.ExecuteLocked) return;
  ExecuteImport(view_.EditorText());
  view_.SetExecuteEnabled(false);
  state_.ExecuteLocked = true;
  view_.SetEditorText(BuildSummary());
  view_.AppendEditorLine(std::string(texts::kTotalImportedPrefix) +
                         std::to_string(state_.LastImportCount) +
                         std::string(texts::kImportedSuffix));
}

void Tfmsqlall::btnOKClick() { view_.Close(); }

void Tfmsqlall::Panel1DblClick() {
  view_.SetExecuteEnabled(true);
  state_.ExecuteLocked = false;
}

void Tfmsqlall::StatusBar1DblClick() { view_.AppendEditorLine(LastRequest); }

void Tfmsqlall::PlaceAnswer(std::string body) {
  // The editor holds the body's lines with CR LF between them, and line
  // breaks are trimmed like blanks, so the body trims to nothing exactly
  // when the editor's text does; judging the body spares reading a large
  // answer back out of the editor, which may then keep the body's buffer.
  const bool blank = TrimText(body).empty();
  view_.TakeEditorText(std::move(body));
  if (!blank) {
    view_.SetStatusText(texts::kAnswerReady);
    view_.SetExecuteEnabled(true);
  } else {
    view_.SetStatusText(texts::kAnswerEmpty);
  }
}

}  // namespace downsql::updater
