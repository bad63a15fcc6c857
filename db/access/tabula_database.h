// The database component: a named database bound to a directory.
//
// A database binds to the session named by SessionName ("" is the default
// session). Connecting opens the session's core directory for the
// database's Directory (or the in-memory database for the memory name);
// the directory is present exactly while connected. Datasets that hold the
// database register as its clients and are closed when it disconnects.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace downsql::access {

class TTabulaSession;
class TDataDirectory;

// A dataset that holds a database while it is open.
class TTabulaDatabaseClient {
 public:
  virtual ~TTabulaDatabaseClient() = default;
  // Closes the dataset because its database disconnects.
  virtual void CloseForDisconnect() = 0;
};

class TTabulaDatabase {
 public:
  using TNotifyEvent = std::function<void(TTabulaDatabase& sender)>;

  // A database component bound to the default session.
  TTabulaDatabase();
  // Disconnects and leaves its session.
  ~TTabulaDatabase();
  TTabulaDatabase(const TTabulaDatabase&) = delete;
  TTabulaDatabase& operator=(const TTabulaDatabase&) = delete;

  std::string EngineVersion() const;

  const std::string& DatabaseName() const { return database_name_; }
  // "/" becomes "\", cut to 255. Requires a disconnected database; a
  // non-temporary database may not be named by a path ("Database name '%s'
  // is not valid"); names are unique within the session.
  void SetDatabaseName(const std::string& name);
  const std::string& Directory() const { return directory_; }
  // Stored trimmed and without trailing backslashes.
  void SetDirectory(const std::string& directory);
  const std::string& RemoteDatabase() const { return remote_database_; }
  void SetRemoteDatabase(const std::string& name) { remote_database_ = name; }
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& name);

  bool Connected() const { return directory_handle_ != nullptr; }
  void SetConnected(bool connected);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  bool KeepConnection = true;
  bool KeepTablesOpen() const { return keep_tables_open_; }
  void SetKeepTablesOpen(bool on);

  bool IsTemporary() const { return temporary_; }
  int UseCount() const { return use_count_; }
  // The bound session, or nullptr.
  TTabulaSession* Session() { return session_; }
  // The open core directory; nullptr while disconnected.
  TDataDirectory* Handle() { return directory_handle_; }

  TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

  // Transactions of the database's directory. All require a connected
  // database ("Cannot perform this operation on a closed database").
  // BeginTransaction fails with "Database '%s' already has an active
  // transaction"; Commit and Rollback with "Database '%s' has no active
  // transaction". tables empty: all tables of the directory.
  void BeginTransaction(const std::vector<std::string>& tables = {});
  void CommitTransaction(bool force_flush = false);
  void RollbackTransaction();
  bool TransactionActive() const;

  void RegisterClient(TTabulaDatabaseClient& client);
  void UnregisterClient(TTabulaDatabaseClient& client);

 private:
  friend class TTabulaSession;

  struct TemporaryTag {};
  TTabulaDatabase(TTabulaSession& session, TemporaryTag);
  void Connect();
  void Disconnect();
  void CheckClosed() const;
  void CheckConnected() const;
  // Binds to the session named by SessionName; raises when none and
  // required.
  TTabulaSession* Bind(bool required);
  void Unbind();
  // Raises "Database name '%s' already exists" (after clearing the name)
  // when another database of the session has this name.
  void CheckUniqueName();

  std::string database_name_;
  std::string directory_;
  std::string remote_database_;
  std::string session_name_;
  bool keep_tables_open_ = false;
  bool temporary_ = false;
  bool destroying_ = false;
  int use_count_ = 0;
  TTabulaSession* session_ = nullptr;
  TDataDirectory* directory_handle_ = nullptr;
  std::vector<TTabulaDatabaseClient*> clients_;
};

}  // namespace downsql::access
