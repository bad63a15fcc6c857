#include "db/access/data_engine.h"

#include <algorithm>

namespace downsql::access {

TDataEngine::TDataEngine() = default;

TDataEngine::~TDataEngine() { Stop(); }

void TDataEngine::Start() { active_ = true; }

void TDataEngine::Stop() {
  while (!sessions_.empty()) sessions_.pop_back();
  active_ = false;
}

TDataSession& TDataEngine::CreateSession(const std::string& name) {
  sessions_.push_back(std::make_unique<TDataSession>(*this, name));
  return *sessions_.back();
}

void TDataEngine::FreeSession(TDataSession& session) {
  auto it = std::find_if(sessions_.begin(), sessions_.end(),
                         [&](const auto& s) { return s.get() == &session; });
  if (it != sessions_.end()) sessions_.erase(it);
}

}  // namespace downsql::access
