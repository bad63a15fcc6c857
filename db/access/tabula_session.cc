#include "db/access/tabula_session.h"

#include <algorithm>

#include "db/access/data_engine.h"
#include "db/access/database_error.h"
#include "db/access/names.h"
#include "db/access/tabula_database.h"
#include "db/access/tabula_engine.h"

namespace downsql::access {

TTabulaSession::TTabulaSession(TTabulaEngine& engine, std::string component_name, uint32_t serial)
    : engine_(engine), component_name_(std::move(component_name)), serial_(serial) {}

TTabulaSession::~TTabulaSession() {
  try {
    Deactivate();
  } catch (...) {
    // Going away regardless.
  }
  while (!databases_.empty()) {
    TTabulaDatabase* db = databases_.back();
    databases_.pop_back();
    db->session_ = nullptr;
  }
  temporary_.clear();
  if (auto_number_) engine_.ReturnSessionNumber(auto_number_);
}

void TTabulaSession::Free() { engine_.FreeSession(*this); }

std::string TTabulaSession::EngineVersion() const { return kEngineVersion; }

void TTabulaSession::CheckActive(const char* message) const {
  if (!Active()) throw EDatabaseError(message);
}

void TTabulaSession::SetSessionName(const std::string& name) {
  std::string n = name.substr(0, kMaxNameLength);
  if (n == session_name_) return;
  if (Active()) throw EDatabaseError(msg::kSessionActive);
  if (auto_number_) throw EDatabaseError(msg::kAutoSessionActive);
  if (!Trim(n).empty()) {
    TTabulaSession* other = engine_.FindSession(n);
    if (other && other != this) throw EDatabaseError(msg::kSessionNameExists, n);
  }
  session_name_ = n;
}

void TTabulaSession::SetAutoSessionName(bool on) {
  if (on == AutoSessionName()) return;
  if (Active()) throw EDatabaseError(msg::kSessionActive);
  if (on) {
    int number = engine_.TakeSessionNumber();
    std::string name = component_name_ + "_" + std::to_string(number);
    TTabulaSession* other = engine_.FindSession(name);
    if (other && other != this) {
      engine_.ReturnSessionNumber(number);
      throw EDatabaseError(msg::kAutoSessionExists);
    }
    auto_number_ = number;
    session_name_ = name;
  } else {
    engine_.ReturnSessionNumber(auto_number_);
    auto_number_ = 0;
  }
}

void TTabulaSession::SetPrivateDir(const std::string& dir) {
  private_dir_ = WithTrailingBackslash(NormalizeName(dir));
  if (core_) core_->set_private_dir(private_dir_);
}

void TTabulaSession::SetProgressSteps(uint32_t steps) {
  if (steps > 100) return;
  progress_steps_ = static_cast<uint8_t>(steps);
  if (core_) core_->set_progress_steps(progress_steps_);
}

void TTabulaSession::SetActive(bool active) {
  if (active == Active()) return;
  if (active) {
    Activate();
  } else {
    Deactivate();
  }
}

void TTabulaSession::Activate() {
  if (SessionType == stRemote && engine_.EngineType() == etServer)
    throw EDatabaseError(msg::kRemoteWithServer);
  try {
    engine_.SetActive(true);
    if (OnStartup) OnStartup(*this);
    if (Trim(session_name_).empty()) throw EDatabaseError(msg::kSessionNameMissing);
    TTabulaSession* def = engine_.default_session();
    if (def && def != this) def->SetActive(true);
    TDataSession& core =
        engine_.core().CreateSession(session_name_ + "_" + std::to_string(serial_));
    core_ = &core;
    core.set_private_dir(private_dir_);
    core.strict_change_detection = StrictChangeDetection;
    core.set_force_buffer_flush(ForceBufferFlush);
    core.lock_retry_count = LockRetryCount;
    core.lock_wait_time = LockWaitTime;
    core.lock_protocol = LockProtocol;
    core.set_progress_steps(progress_steps_);
    core.set_remote(SessionType == stRemote);
    core.password_handler = [this] {
      bool again = false;
      if (OnPassword) OnPassword(*this, again);
      return again;
    };
  } catch (...) {
    try {
      Deactivate();
    } catch (...) {
    }
    throw;
  }
}

void TTabulaSession::Deactivate() {
  // Temporary databases go; the others are disconnected and stay bound.
  for (size_t i = databases_.size(); i-- > 0;) {
    if (i >= databases_.size()) continue;
    TTabulaDatabase* db = databases_[i];
    if (db->IsTemporary()) {
      FreeTemporary(*db);
    } else {
      db->SetConnected(false);
    }
  }
  if (!core_) return;
  TDataSession* core = core_;
  core_ = nullptr;
  engine_.core().FreeSession(*core);
  if (OnShutdown) OnShutdown(*this);
}

TTabulaDatabase* TTabulaSession::LookupDatabase(const std::string& name) {
  std::string n = NormalizeName(name);
  bool path = IsPathName(n) && !IsMemoryName(n);
  for (TTabulaDatabase* db : databases_) {
    if (path) {
      if (IsPathName(db->DatabaseName()) && SamePath(db->DatabaseName(), n)) return db;
    } else if ((!db->DatabaseName().empty() || db->IsTemporary()) &&
               SameName(db->DatabaseName(), n)) {
      return db;
    }
  }
  return nullptr;
}

TTabulaDatabase& TTabulaSession::AcquireDatabase(const std::string& name) {
  SetActive(true);
  std::string n = NormalizeName(name);
  TTabulaDatabase* db = LookupDatabase(n);
  bool created = false;
  if (!db) {
    temporary_.push_back(std::unique_ptr<TTabulaDatabase>(
        new TTabulaDatabase(*this, TTabulaDatabase::TemporaryTag{})));
    db = temporary_.back().get();
    created = true;
    db->database_name_ = n;
    if (SessionType == stRemote) {
      db->remote_database_ = n;
    } else if (IsPathName(n) && !IsMemoryName(n)) {
      db->directory_ = StoredDirectory(n);
    }
    db->KeepConnection = KeepConnections;
  }
  try {
    db->SetConnected(true);
  } catch (...) {
    if (created) FreeTemporary(*db);
    throw;
  }
  ++db->use_count_;
  return *db;
}

void TTabulaSession::ReleaseDatabase(TTabulaDatabase& database) {
  if (database.use_count_ > 0) --database.use_count_;
  if (database.use_count_ > 0 || database.KeepConnection) return;
  if (database.IsTemporary()) {
    if (!database.destroying_) FreeTemporary(database);
  } else {
    database.SetConnected(false);
  }
}

void TTabulaSession::AddDatabase(TTabulaDatabase& database) {
  if (std::find(databases_.begin(), databases_.end(), &database) == databases_.end())
    databases_.push_back(&database);
}

void TTabulaSession::RemoveDatabase(TTabulaDatabase& database) {
  std::erase(databases_, &database);
}

void TTabulaSession::FreeTemporary(TTabulaDatabase& database) {
  auto it = std::find_if(temporary_.begin(), temporary_.end(),
                         [&](const auto& d) { return d.get() == &database; });
  if (it == temporary_.end()) return;
  std::unique_ptr<TTabulaDatabase> doomed = std::move(*it);
  temporary_.erase(it);
  doomed.reset();  // disconnects and unbinds
}

void TTabulaSession::RememberPassword(const std::string& text) {
  CheckActive(msg::kSessionInactive);
  core_->RememberPassword(text);
}

void TTabulaSession::ForgetPassword(const std::string& text) {
  CheckActive(msg::kSessionInactive);
  core_->ForgetPassword(text);
}

void TTabulaSession::ForgetAllPasswords() {
  CheckActive(msg::kSessionInactive);
  core_->ForgetAllPasswords();
}

}  // namespace downsql::access
