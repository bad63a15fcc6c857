#include "db/access/tabula_database.h"

#include <algorithm>

#include "db/access/data_directory.h"
#include "db/access/data_session.h"
#include "db/access/database_error.h"
#include "db/access/names.h"
#include "db/access/tabula_engine.h"
#include "db/access/tabula_session.h"

namespace downsql::access {

TTabulaDatabase::TTabulaDatabase() { Bind(false); }

TTabulaDatabase::TTabulaDatabase(TTabulaSession& session, TemporaryTag)
    : session_name_(session.SessionName()), temporary_(true), session_(&session) {
  session.AddDatabase(*this);
}

TTabulaDatabase::~TTabulaDatabase() {
  destroying_ = true;
  try {
    SetConnected(false);
  } catch (...) {
    // Going away regardless.
  }
  Unbind();
}

std::string TTabulaDatabase::EngineVersion() const { return kEngineVersion; }

void TTabulaDatabase::CheckClosed() const {
  if (Connected()) throw EDatabaseError(msg::kDatabaseOpen);
}

void TTabulaDatabase::CheckConnected() const {
  if (!Connected()) throw EDatabaseError(msg::kDatabaseClosed);
}

TTabulaSession* TTabulaDatabase::Bind(bool required) {
  TTabulaEngine* engine = TTabulaEngine::Default();
  TTabulaSession* session = engine ? engine->FindSession(session_name_) : nullptr;
  if (!session) {
    if (required) throw EDatabaseError(msg::kSessionNameInvalid, session_name_);
    return nullptr;
  }
  if (session != session_) {
    Unbind();
    session_ = session;
    session->AddDatabase(*this);
  }
  return session;
}

void TTabulaDatabase::Unbind() {
  if (!session_) return;
  session_->RemoveDatabase(*this);
  session_ = nullptr;
}

void TTabulaDatabase::CheckUniqueName() {
  if (!session_ || database_name_.empty()) return;
  TTabulaDatabase* other = nullptr;
  for (size_t i = 0; i < session_->database_count(); ++i) {
    TTabulaDatabase& db = session_->database(i);
    if (&db != this && SameName(db.DatabaseName(), database_name_)) other = &db;
  }
  if (!other) return;
  if (other->IsTemporary() && other->UseCount() == 0) {
    session_->FreeTemporary(*other);
    return;
  }
  std::string name = database_name_;
  database_name_.clear();
  throw EDatabaseError(msg::kDatabaseNameExists, name);
}

void TTabulaDatabase::SetDatabaseName(const std::string& name) {
  std::string n = NormalizeName(name);
  if (n == database_name_) return;
  CheckClosed();
  if (!temporary_ && IsPathName(n) && !IsMemoryName(n))
    throw EDatabaseError(msg::kDatabaseNameInvalid, n);
  database_name_ = n;
  CheckUniqueName();
}

void TTabulaDatabase::SetDirectory(const std::string& directory) {
  std::string d = StoredDirectory(NormalizeName(directory));
  if (d == directory_) return;
  CheckClosed();
  directory_ = d;
}

void TTabulaDatabase::SetSessionName(const std::string& name) {
  if (name == session_name_) return;
  CheckClosed();
  session_name_ = name;
  if (!temporary_) Bind(false);
}

void TTabulaDatabase::SetKeepTablesOpen(bool on) {
  keep_tables_open_ = on;
  if (directory_handle_) directory_handle_->set_keep_tables_open(on);
}

void TTabulaDatabase::SetConnected(bool connected) {
  if (connected == Connected()) return;
  if (connected) {
    Connect();
  } else {
    Disconnect();
  }
}

void TTabulaDatabase::Connect() {
  if (BeforeConnect) BeforeConnect(*this);
  if (!temporary_ && Trim(database_name_).empty()) throw EDatabaseError(msg::kDatabaseNameMissing);
  TTabulaSession* session = temporary_ ? session_ : Bind(true);
  CheckUniqueName();
  session->SetActive(true);
  TDataSession* core = session->core();
  if (IsMemoryName(database_name_)) {
    directory_handle_ =
        &core->OpenDirectory(StripBackslashes(Trim(database_name_)), "", keep_tables_open_);
  } else {
    directory_handle_ =
        &core->OpenDirectory(StripBackslashes(database_name_), directory_, keep_tables_open_);
  }
  if (AfterConnect) AfterConnect(*this);
}

void TTabulaDatabase::Disconnect() {
  if (BeforeDisconnect) BeforeDisconnect(*this);
  std::vector<TTabulaDatabaseClient*> clients = clients_;
  for (auto it = clients.rbegin(); it != clients.rend(); ++it) (*it)->CloseForDisconnect();
  TDataDirectory* directory = directory_handle_;
  directory_handle_ = nullptr;
  if (session_ && session_->core()) session_->core()->ReleaseDirectory(*directory);
  if (AfterDisconnect) AfterDisconnect(*this);
}

void TTabulaDatabase::BeginTransaction(const std::vector<std::string>& tables) {
  CheckConnected();
  if (directory_handle_->TransactionActive())
    throw EDatabaseError(msg::kTransactionActive, database_name_);
  directory_handle_->BeginTransaction(tables);
}

void TTabulaDatabase::CommitTransaction(bool force_flush) {
  CheckConnected();
  if (!directory_handle_->TransactionActive())
    throw EDatabaseError(msg::kNoTransaction, database_name_);
  directory_handle_->CommitTransaction(force_flush, true);
}

void TTabulaDatabase::RollbackTransaction() {
  CheckConnected();
  if (!directory_handle_->TransactionActive())
    throw EDatabaseError(msg::kNoTransaction, database_name_);
  directory_handle_->RollbackTransaction();
}

bool TTabulaDatabase::TransactionActive() const {
  return directory_handle_ && directory_handle_->TransactionActive();
}

void TTabulaDatabase::RegisterClient(TTabulaDatabaseClient& client) {
  if (std::find(clients_.begin(), clients_.end(), &client) == clients_.end())
    clients_.push_back(&client);
}

void TTabulaDatabase::UnregisterClient(TTabulaDatabaseClient& client) {
  std::erase(clients_, &client);
}

}  // namespace downsql::access
