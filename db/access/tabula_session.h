// The session component.
//
// A session holds the lock and progress settings that its core session
// (TDataSession) copies when it becomes active, and the list of its
// databases: those bound to it by name and the temporary ones it makes for
// datasets that name a database (or a directory path) no database
// component has. Temporary databases are owned by the session and freed
// when it deactivates.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/access/data_session.h"

namespace downsql::access {

class TTabulaEngine;
class TTabulaDatabase;

enum TSessionType { stLocal, stRemote };

class TTabulaSession {
 public:
  using TNotifyEvent = std::function<void(TTabulaSession& sender)>;
  using TPasswordEvent = std::function<void(TTabulaSession& sender, bool& continue_)>;

  // Created and freed through the engine (TTabulaEngine::CreateSession).
  ~TTabulaSession();
  TTabulaSession(const TTabulaSession&) = delete;
  TTabulaSession& operator=(const TTabulaSession&) = delete;
  // Frees this session through its engine.
  void Free();

  TTabulaEngine& engine() { return engine_; }
  // The component name (AutoSessionName builds on it).
  const std::string& Name() const { return component_name_; }
  std::string EngineVersion() const;

  const std::string& SessionName() const { return session_name_; }
  // Unique among sessions (without regard to case); requires an inactive
  // session.
  void SetSessionName(const std::string& name);
  bool AutoSessionName() const { return auto_number_ != 0; }
  // When on, the name is Name() + "_" + a process-wide free number.
  void SetAutoSessionName(bool on);

  bool Active() const { return core_ != nullptr; }
  void SetActive(bool active);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  bool KeepConnections = true;
  uint16_t LockRetryCount = 15;
  uint16_t LockWaitTime = 100;
  TLockProtocol LockProtocol = lpPessimistic;
  bool StrictChangeDetection = false;
  bool ForceBufferFlush = false;
  TSessionType SessionType = stLocal;

  // Stored with a trailing backslash ("" stays "", meaning the current
  // directory); passed on at once to an active core session.
  const std::string& PrivateDir() const { return private_dir_; }
  void SetPrivateDir(const std::string& dir);
  // 0..100; a larger value is ignored. Passed on at once when active.
  uint8_t ProgressSteps() const { return progress_steps_; }
  void SetProgressSteps(uint32_t steps);

  TNotifyEvent OnStartup, OnShutdown;
  TPasswordEvent OnPassword;

  // The database a dataset uses: the one of that name, or a new temporary
  // one; connected, with its UseCount raised.
  TTabulaDatabase& AcquireDatabase(const std::string& name);
  // The dataset no longer uses the database (see the file comment).
  void ReleaseDatabase(TTabulaDatabase& database);
  // The database of that name, or nullptr. A path (other than the memory
  // name) matches a database name naming the same path; any other name
  // matches, without regard to case, a named or temporary database.
  TTabulaDatabase* LookupDatabase(const std::string& name);
  size_t database_count() const { return databases_.size(); }
  TTabulaDatabase& database(size_t index) { return *databases_[index]; }

  // Table passwords; all three require an active session.
  void RememberPassword(const std::string& text);
  void ForgetPassword(const std::string& text);
  void ForgetAllPasswords();

  // The core session; nullptr while inactive.
  TDataSession* core() { return core_; }

 private:
  friend class TTabulaEngine;
  friend class TTabulaDatabase;

  TTabulaSession(TTabulaEngine& engine, std::string component_name, uint32_t serial);
  void Activate();
  void Deactivate();
  void CheckActive(const char* message) const;
  // Binding of database components (TTabulaDatabase calls these).
  void AddDatabase(TTabulaDatabase& database);
  void RemoveDatabase(TTabulaDatabase& database);
  void FreeTemporary(TTabulaDatabase& database);

  TTabulaEngine& engine_;
  std::string component_name_;
  uint32_t serial_;
  std::string session_name_;
  int auto_number_ = 0;
  std::string private_dir_;
  uint8_t progress_steps_ = 20;
  TDataSession* core_ = nullptr;
  std::vector<TTabulaDatabase*> databases_;  // bound, in binding order
  std::vector<std::unique_ptr<TTabulaDatabase>> temporary_;
};

}  // namespace downsql::access
