// The engine component: the one engine of the process.
//
// The library creates it at load (TTabulaLibrary) and it lives until
// unload. Its published settings are copied into the engine core, which
// applies the clamping and "." rules, so reading a property back gives the
// value the core uses. Every setter except those of Active and the events
// requires the engine to be inactive. The engine owns every session
// component and the core beneath them.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "db/access/data_engine.h"
#include "db/storage/table_locks.h"

namespace downsql::access {

class TTabulaSession;
class TTabulaDatabase;
class TTabulaLibrary;
// A record as the row events see it; defined by the table layer.
class TTabulaRecord;

enum TEngineType { etClient, etServer };
// The answer of the error event is the storage layer's row-error action.
using storage::daAbort;
using storage::daFail;
using storage::daRetry;
using storage::TDataAction;

inline constexpr char kEngineVersion[] = "1.0 Build 1";

class TTabulaEngine {
 public:
  using TNotifyEvent = std::function<void(TTabulaEngine& sender)>;
  using TTriggerEvent = std::function<void(
      TTabulaEngine& sender, TTabulaSession* trigger_session, TTabulaDatabase* trigger_database,
      const std::string& table_name, TTabulaRecord* current_record)>;
  using TErrorEvent = std::function<void(
      TTabulaEngine& sender, TTabulaSession* error_session, TTabulaDatabase* error_database,
      const std::string& table_name, TTabulaRecord* current_record, const std::exception& e,
      TDataAction& action)>;
  enum TRowEvent {
    kBeforeInsert,
    kAfterInsert,
    kBeforeUpdate,
    kAfterUpdate,
    kBeforeDelete,
    kAfterDelete
  };
  enum TRowError { kInsertError, kUpdateError, kDeleteError };

  // Hands out the process's engine and counts one more user. Raises "An
  // engine component already exists" when it has two users already.
  static TTabulaEngine& Create();
  // Counts one user less; at none the engine stops and every session
  // component and the core are freed.
  void Free();
  // The process's engine; nullptr outside the library's lifetime.
  static TTabulaEngine* Default();
  int users() const { return users_; }

  std::string EngineVersion() const { return kEngineVersion; }
  void SetEngineVersion(const std::string&) {}

  bool Active() const { return core_->active(); }
  void SetActive(bool active);

  TEngineType EngineType() const { return engine_type_; }
  void SetEngineType(TEngineType type);
  std::string EngineSignature() const { return core_->settings().engine_signature(); }
  void SetEngineSignature(const std::string& text);
  bool LargeFileSupport() const { return core_->settings().large_file_support(); }
  void SetLargeFileSupport(bool on);
  bool FilterRecordCounts() const { return core_->settings().filter_record_counts; }
  void SetFilterRecordCounts(bool on);
  std::string LockFileName() const { return core_->settings().lock_file_name; }
  void SetLockFileName(const std::string& name);

  uint32_t MaxTableDataBufferSize() const;
  void SetMaxTableDataBufferSize(uint32_t v);
  uint32_t MaxTableDataBufferCount() const;
  void SetMaxTableDataBufferCount(uint32_t v);
  uint32_t MaxTableIndexBufferSize() const;
  void SetMaxTableIndexBufferSize(uint32_t v);
  uint32_t MaxTableIndexBufferCount() const;
  void SetMaxTableIndexBufferCount(uint32_t v);
  uint32_t MaxTableBlobBufferSize() const;
  void SetMaxTableBlobBufferSize(uint32_t v);
  uint32_t MaxTableBlobBufferCount() const;
  void SetMaxTableBlobBufferCount(uint32_t v);

  // The twelve table file extensions, by storage::EngineSettings::Extension;
  // TableDataExtension() and the like below are the published names.
  std::string Extension(storage::EngineSettings::Extension which) const;
  void SetExtension(storage::EngineSettings::Extension which, const std::string& value);
  std::string TableDataExtension() const { return Extension(storage::EngineSettings::kData); }
  void SetTableDataExtension(const std::string& v) {
    SetExtension(storage::EngineSettings::kData, v);
  }
  std::string TableIndexExtension() const { return Extension(storage::EngineSettings::kIndex); }
  void SetTableIndexExtension(const std::string& v) {
    SetExtension(storage::EngineSettings::kIndex, v);
  }
  std::string TableBlobExtension() const { return Extension(storage::EngineSettings::kBlob); }
  void SetTableBlobExtension(const std::string& v) {
    SetExtension(storage::EngineSettings::kBlob, v);
  }
  std::string TableDataBackupExtension() const {
    return Extension(storage::EngineSettings::kDataBackup);
  }
  void SetTableDataBackupExtension(const std::string& v) {
    SetExtension(storage::EngineSettings::kDataBackup, v);
  }
  std::string TableIndexBackupExtension() const {
    return Extension(storage::EngineSettings::kIndexBackup);
  }
  void SetTableIndexBackupExtension(const std::string& v) {
    SetExtension(storage::EngineSettings::kIndexBackup, v);
  }
  std::string TableBlobBackupExtension() const {
    return Extension(storage::EngineSettings::kBlobBackup);
  }
  void SetTableBlobBackupExtension(const std::string& v) {
    SetExtension(storage::EngineSettings::kBlobBackup, v);
  }
  std::string TableDataUpgradeExtension() const {
    return Extension(storage::EngineSettings::kDataUpgrade);
  }
  void SetTableDataUpgradeExtension(const std::string& v) {
    SetExtension(storage::EngineSettings::kDataUpgrade, v);
  }
  std::string TableIndexUpgradeExtension() const {
    return Extension(storage::EngineSettings::kIndexUpgrade);
  }
  void SetTableIndexUpgradeExtension(const std::string& v) {
    SetExtension(storage::EngineSettings::kIndexUpgrade, v);
  }
  std::string TableBlobUpgradeExtension() const {
    return Extension(storage::EngineSettings::kBlobUpgrade);
  }
  void SetTableBlobUpgradeExtension(const std::string& v) {
    SetExtension(storage::EngineSettings::kBlobUpgrade, v);
  }
  std::string TableDataTempExtension() const {
    return Extension(storage::EngineSettings::kDataTemp);
  }
  void SetTableDataTempExtension(const std::string& v) {
    SetExtension(storage::EngineSettings::kDataTemp, v);
  }
  std::string TableIndexTempExtension() const {
    return Extension(storage::EngineSettings::kIndexTemp);
  }
  void SetTableIndexTempExtension(const std::string& v) {
    SetExtension(storage::EngineSettings::kIndexTemp, v);
  }
  std::string TableBlobTempExtension() const {
    return Extension(storage::EngineSettings::kBlobTemp);
  }
  void SetTableBlobTempExtension(const std::string& v) {
    SetExtension(storage::EngineSettings::kBlobTemp, v);
  }

  bool CreateTempTablesInDatabase() const;
  void SetCreateTempTablesInDatabase(bool on);
  uint8_t TableFilterIndexThreshhold() const;
  void SetTableFilterIndexThreshhold(uint8_t v);
  uint16_t TableReadLockWaitTime() const { return core_->settings().table_read_lock_wait_time; }
  void SetTableReadLockWaitTime(uint16_t v);
  uint16_t TableReadLockRetryCount() const { return core_->settings().table_read_lock_retry_count; }
  void SetTableReadLockRetryCount(uint16_t v);
  uint16_t TableWriteLockWaitTime() const { return core_->settings().table_write_lock_wait_time; }
  void SetTableWriteLockWaitTime(uint16_t v);
  uint16_t TableWriteLockRetryCount() const {
    return core_->settings().table_write_lock_retry_count;
  }
  void SetTableWriteLockRetryCount(uint16_t v);
  uint16_t TableTransLockWaitTime() const { return core_->settings().table_trans_lock_wait_time; }
  void SetTableTransLockWaitTime(uint16_t v);
  uint16_t TableTransLockRetryCount() const {
    return core_->settings().table_trans_lock_retry_count;
  }
  void SetTableTransLockRetryCount(uint16_t v);
  uint16_t TableMaxReadLockCount() const { return core_->settings().table_max_read_lock_count(); }
  void SetTableMaxReadLockCount(uint16_t v);

  // Every setting back to its default (engine inactive).
  void Reset();

  TNotifyEvent OnStartup, OnShutdown;
  TTriggerEvent BeforeInsertTrigger, AfterInsertTrigger, BeforeUpdateTrigger, AfterUpdateTrigger,
      BeforeDeleteTrigger, AfterDeleteTrigger;
  TErrorEvent OnInsertError, OnUpdateError, OnDeleteError;

  // Called by the table layer around every insert, update and delete: hands
  // the components standing for the core session and directory to the
  // assigned handler. RaiseRowError returns the handler's action (daFail
  // when none is assigned).
  void RaiseRowEvent(TRowEvent event, TDataSession& session, TDataDirectory& directory,
                     const std::string& table_name, TTabulaRecord* record);
  TDataAction RaiseRowError(TRowError event, TDataSession& session, TDataDirectory& directory,
                            const std::string& table_name, TTabulaRecord* record,
                            const std::exception& e);

  TDataEngine& core() { return *core_; }

  // Session components, owned by the engine. component_name is the name
  // AutoSessionName builds on.
  TTabulaSession& CreateSession(const std::string& component_name = "");
  void FreeSession(TTabulaSession& session);
  // The session of that name (compared without regard to case; "" is the
  // default session), or nullptr.
  TTabulaSession* FindSession(const std::string& name);
  // FindSession, raising "Session name '%s' is not valid" when none.
  TTabulaSession& SessionByName(const std::string& name);
  TTabulaSession* default_session() { return default_session_; }
  std::vector<TTabulaSession*> Sessions();

  // A free number for automatic session names (1-based), and its return.
  int TakeSessionNumber();
  void ReturnSessionNumber(int number);

 private:
  friend class TTabulaLibrary;
  friend class TTabulaSession;

  TTabulaEngine();
  ~TTabulaEngine();
  void CheckInactive() const;
  void FreeAllSessions();

  std::unique_ptr<TDataEngine> core_;
  TEngineType engine_type_ = etClient;
  int users_ = 0;
  uint32_t next_session_serial_ = 1;
  TTabulaSession* default_session_ = nullptr;

  std::recursive_mutex sessions_mutex_;
  std::vector<std::unique_ptr<TTabulaSession>> sessions_;  // in creation order
  std::mutex numbers_mutex_;
  std::set<int> session_numbers_;

  static TTabulaEngine* default_engine_;
};

}  // namespace downsql::access
