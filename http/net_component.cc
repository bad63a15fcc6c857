#include "http/net_component.h"

namespace downsql::http {

void TNetComponent::BeginWork(TWorkMode mode, int64_t size) {
  WorkInfo& w = work_[mode];
  if (++w.level == 1) {
    w.size = size;
    w.position = 0;
    if (OnWorkBegin) OnWorkBegin(*this, mode, size);
  }
}

void TNetComponent::DoWork(TWorkMode mode, int64_t count) {
  WorkInfo& w = work_[mode];
  if (w.level > 0) {
    w.position += count;
    if (OnWork) OnWork(*this, mode, w.position);
  }
}

void TNetComponent::EndWork(TWorkMode mode) {
  WorkInfo& w = work_[mode];
  if (w.level == 1 && OnWorkEnd) OnWorkEnd(*this, mode);
  if (w.level > 0) --w.level;
}

void TNetComponent::DoStatus(const std::string& text) {
  if (OnStatus) OnStatus(*this, text);
}

}  // namespace downsql::http
