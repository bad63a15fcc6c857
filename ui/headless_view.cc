// The scripted modal run of the headless view.
#include "ui/headless_view.h"

namespace downsql::ui {

void HeadlessView::RunModal(DialogEventSink& events) {
  closed_ = false;
  events.HandleEvent(DialogEvent::kShow);
  while (!closed_ && !queue_.empty()) {
    DialogEvent event = queue_.front();
    queue_.pop_front();
    if (event == DialogEvent::kExecuteClick && !execute_enabled_) continue;
    events.HandleEvent(event);
  }
  closed_ = true;
}

}  // namespace downsql::ui
