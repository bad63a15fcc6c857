// An event sink for view tests: records events and acts like a minimal
// dialog (the strip double click enables "Wykonaj", "Zamknij" closes).
#pragma once

#include <vector>

#include "ui/dialog_view.h"

namespace downsql::ui {

class RecordingSink : public DialogEventSink {
 public:
  explicit RecordingSink(DialogView& view) : view_(view) {}
  void HandleEvent(DialogEvent event) override {
    events.push_back(event);
    if (event == DialogEvent::kPanelDblClick) view_.SetExecuteEnabled(true);
    if (event == DialogEvent::kCloseClick) view_.Close();
    if (event == DialogEvent::kGetClick) {
      view_.SetStatusText("step 1");
      view_.SetStatusText("step 2");
      view_.ShowError("it failed\xB9.");
    }
  }
  std::vector<DialogEvent> events;

 private:
  DialogView& view_;
};

}  // namespace downsql::ui
