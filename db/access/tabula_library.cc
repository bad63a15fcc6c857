#include "db/access/tabula_library.h"

#include <stdexcept>

#include "db/access/tabula_engine.h"
#include "db/access/tabula_session.h"

namespace downsql::access {

TTabulaLibrary::TTabulaLibrary() {
  if (TTabulaEngine::default_engine_) throw std::logic_error("the database library is loaded");
  engine_ = new TTabulaEngine();
  engine_->users_ = 1;
  TTabulaEngine::default_engine_ = engine_;
  session_ = &engine_->CreateSession();
  session_->SetSessionName(kDefaultSessionName);
  engine_->default_session_ = session_;
}

TTabulaLibrary::~TTabulaLibrary() {
  if (engine_->default_session_) engine_->FreeSession(*session_);
  TTabulaEngine::default_engine_ = nullptr;
  delete engine_;
}

}  // namespace downsql::access
