#include "db/access/tabula_engine.h"

#include <algorithm>

#include "db/access/database_error.h"
#include "db/access/directory_table.h"
#include "db/access/names.h"
#include "db/access/tabula_database.h"
#include "db/access/tabula_session.h"

namespace downsql::access {

TTabulaEngine* TTabulaEngine::default_engine_ = nullptr;

// The core's directories open tables themselves when a restricted
// transaction names a table no cursor has open, so that table joins the
// transaction too.
TTabulaEngine::TTabulaEngine() : core_(std::make_unique<TDataEngine>()) {
  InstallTableOpener(*core_);
}

TTabulaEngine::~TTabulaEngine() {
  FreeAllSessions();
  core_->Stop();
}

TTabulaEngine& TTabulaEngine::Create() {
  TTabulaEngine* engine = Default();
  if (!engine || engine->users_ >= 2) throw EDatabaseError(msg::kEngineExists);
  ++engine->users_;
  return *engine;
}

TTabulaEngine* TTabulaEngine::Default() { return default_engine_; }

void TTabulaEngine::Free() {
  if (users_ > 0) --users_;
  if (users_ > 0) return;
  try {
    SetActive(false);
  } catch (...) {
    // Shutting down regardless.
  }
  FreeAllSessions();
  core_->Stop();
}

void TTabulaEngine::FreeAllSessions() {
  std::lock_guard lock(sessions_mutex_);
  while (!sessions_.empty()) {
    if (sessions_.back().get() == default_session_) default_session_ = nullptr;
    sessions_.pop_back();
  }
}

void TTabulaEngine::CheckInactive() const {
  if (core_->active()) throw EDatabaseError(msg::kEngineActive);
}

void TTabulaEngine::SetActive(bool active) {
  if (active == Active()) return;
  if (active) {
    if (OnStartup) OnStartup(*this);
    core_->Start();
  } else {
    std::vector<TTabulaSession*> sessions = Sessions();
    for (auto it = sessions.rbegin(); it != sessions.rend(); ++it) (*it)->SetActive(false);
    core_->Stop();
    if (OnShutdown) OnShutdown(*this);
  }
}

void TTabulaEngine::Reset() {
  CheckInactive();
  engine_type_ = etClient;
  core_->settings().Reset();
}

void TTabulaEngine::SetEngineType(TEngineType type) {
  CheckInactive();
  engine_type_ = type;
}
void TTabulaEngine::SetEngineSignature(const std::string& text) {
  CheckInactive();
  core_->settings().set_engine_signature(text);
}
void TTabulaEngine::SetLargeFileSupport(bool on) {
  CheckInactive();
  core_->settings().set_large_file_support(on);
}
void TTabulaEngine::SetFilterRecordCounts(bool on) {
  CheckInactive();
  core_->settings().filter_record_counts = on;
}
void TTabulaEngine::SetLockFileName(const std::string& name) {
  CheckInactive();
  core_->settings().lock_file_name = name.substr(0, kMaxNameLength);
}

uint32_t TTabulaEngine::MaxTableDataBufferSize() const {
  return core_->settings().max_table_data_buffer_size();
}
void TTabulaEngine::SetMaxTableDataBufferSize(uint32_t v) {
  CheckInactive();
  core_->settings().set_max_table_data_buffer_size(v);
}
uint32_t TTabulaEngine::MaxTableDataBufferCount() const {
  return core_->settings().max_table_data_buffer_count();
}
void TTabulaEngine::SetMaxTableDataBufferCount(uint32_t v) {
  CheckInactive();
  core_->settings().set_max_table_data_buffer_count(v);
}
uint32_t TTabulaEngine::MaxTableIndexBufferSize() const {
  return core_->settings().max_table_index_buffer_size();
}
void TTabulaEngine::SetMaxTableIndexBufferSize(uint32_t v) {
  CheckInactive();
  core_->settings().set_max_table_index_buffer_size(v);
}
uint32_t TTabulaEngine::MaxTableIndexBufferCount() const {
  return core_->settings().max_table_index_buffer_count();
}
void TTabulaEngine::SetMaxTableIndexBufferCount(uint32_t v) {
  CheckInactive();
  core_->settings().set_max_table_index_buffer_count(v);
}
uint32_t TTabulaEngine::MaxTableBlobBufferSize() const {
  return core_->settings().max_table_blob_buffer_size();
}
void TTabulaEngine::SetMaxTableBlobBufferSize(uint32_t v) {
  CheckInactive();
  core_->settings().set_max_table_blob_buffer_size(v);
}
uint32_t TTabulaEngine::MaxTableBlobBufferCount() const {
  return core_->settings().max_table_blob_buffer_count();
}
void TTabulaEngine::SetMaxTableBlobBufferCount(uint32_t v) {
  CheckInactive();
  core_->settings().set_max_table_blob_buffer_count(v);
}

std::string TTabulaEngine::Extension(storage::EngineSettings::Extension which) const {
  return core_->settings().extension(which);
}
void TTabulaEngine::SetExtension(storage::EngineSettings::Extension which,
                                 const std::string& value) {
  CheckInactive();
  core_->settings().set_extension(which, value);
}

bool TTabulaEngine::CreateTempTablesInDatabase() const {
  return core_->settings().create_temp_tables_in_database;
}
void TTabulaEngine::SetCreateTempTablesInDatabase(bool on) {
  CheckInactive();
  core_->settings().create_temp_tables_in_database = on;
}
uint8_t TTabulaEngine::TableFilterIndexThreshhold() const {
  return core_->settings().table_filter_index_threshold();
}
void TTabulaEngine::SetTableFilterIndexThreshhold(uint8_t v) {
  CheckInactive();
  core_->settings().set_table_filter_index_threshold(v);
}
void TTabulaEngine::SetTableReadLockWaitTime(uint16_t v) {
  CheckInactive();
  core_->settings().table_read_lock_wait_time = v;
}
void TTabulaEngine::SetTableReadLockRetryCount(uint16_t v) {
  CheckInactive();
  core_->settings().table_read_lock_retry_count = v;
}
void TTabulaEngine::SetTableWriteLockWaitTime(uint16_t v) {
  CheckInactive();
  core_->settings().table_write_lock_wait_time = v;
}
void TTabulaEngine::SetTableWriteLockRetryCount(uint16_t v) {
  CheckInactive();
  core_->settings().table_write_lock_retry_count = v;
}
void TTabulaEngine::SetTableTransLockWaitTime(uint16_t v) {
  CheckInactive();
  core_->settings().table_trans_lock_wait_time = v;
}
void TTabulaEngine::SetTableTransLockRetryCount(uint16_t v) {
  CheckInactive();
  core_->settings().table_trans_lock_retry_count = v;
}
void TTabulaEngine::SetTableMaxReadLockCount(uint16_t v) {
  CheckInactive();
  core_->settings().set_table_max_read_lock_count(v);
}

// ---------------------------------------------------------------------------

namespace {

TTabulaDatabase* DatabaseFor(TTabulaSession* session, TDataDirectory& directory) {
  if (!session) return nullptr;
  for (size_t i = 0; i < session->database_count(); ++i)
    if (session->database(i).Handle() == &directory) return &session->database(i);
  return nullptr;
}

}  // namespace

void TTabulaEngine::RaiseRowEvent(TRowEvent event, TDataSession& session, TDataDirectory& directory,
                                  const std::string& table_name, TTabulaRecord* record) {
  const TTriggerEvent* handlers[] = {&BeforeInsertTrigger, &AfterInsertTrigger,
                                     &BeforeUpdateTrigger, &AfterUpdateTrigger,
                                     &BeforeDeleteTrigger, &AfterDeleteTrigger};
  const TTriggerEvent& handler = *handlers[event];
  if (!handler) return;
  TTabulaSession* owner = nullptr;
  for (TTabulaSession* s : Sessions())
    if (s->core() == &session) owner = s;
  handler(*this, owner, DatabaseFor(owner, directory), table_name, record);
}

TDataAction TTabulaEngine::RaiseRowError(TRowError event, TDataSession& session,
                                         TDataDirectory& directory, const std::string& table_name,
                                         TTabulaRecord* record, const std::exception& e) {
  const TErrorEvent* handlers[] = {&OnInsertError, &OnUpdateError, &OnDeleteError};
  const TErrorEvent& handler = *handlers[event];
  TDataAction action = daFail;
  if (!handler) return action;
  TTabulaSession* owner = nullptr;
  for (TTabulaSession* s : Sessions())
    if (s->core() == &session) owner = s;
  handler(*this, owner, DatabaseFor(owner, directory), table_name, record, e, action);
  return action;
}

// ---------------------------------------------------------------------------

TTabulaSession& TTabulaEngine::CreateSession(const std::string& component_name) {
  std::lock_guard lock(sessions_mutex_);
  sessions_.push_back(std::unique_ptr<TTabulaSession>(
      new TTabulaSession(*this, component_name, next_session_serial_++)));
  return *sessions_.back();
}

void TTabulaEngine::FreeSession(TTabulaSession& session) {
  std::unique_ptr<TTabulaSession> doomed;
  {
    std::lock_guard lock(sessions_mutex_);
    auto it = std::find_if(sessions_.begin(), sessions_.end(),
                           [&](const auto& s) { return s.get() == &session; });
    if (it == sessions_.end()) return;
    doomed = std::move(*it);
    sessions_.erase(it);
    if (default_session_ == &session) default_session_ = nullptr;
  }
}

TTabulaSession* TTabulaEngine::FindSession(const std::string& name) {
  if (Trim(name).empty()) return default_session_;
  std::lock_guard lock(sessions_mutex_);
  for (auto& s : sessions_)
    if (!s->SessionName().empty() && SameName(s->SessionName(), name)) return s.get();
  return nullptr;
}

TTabulaSession& TTabulaEngine::SessionByName(const std::string& name) {
  TTabulaSession* s = FindSession(name);
  if (!s) throw EDatabaseError(msg::kSessionNameInvalid, name);
  return *s;
}

std::vector<TTabulaSession*> TTabulaEngine::Sessions() {
  std::lock_guard lock(sessions_mutex_);
  std::vector<TTabulaSession*> out;
  for (auto& s : sessions_) out.push_back(s.get());
  return out;
}

int TTabulaEngine::TakeSessionNumber() {
  std::lock_guard lock(numbers_mutex_);
  int n = 1;
  while (session_numbers_.count(n)) ++n;
  session_numbers_.insert(n);
  return n;
}

void TTabulaEngine::ReturnSessionNumber(int number) {
  std::lock_guard lock(numbers_mutex_);
  session_numbers_.erase(number);
}

}  // namespace downsql::access
