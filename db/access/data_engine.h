// The engine core: the settings the storage engine reads, the sessions,
// and where lock files live.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/access/data_session.h"
#include "db/access/lock_file.h"
#include "db/access/lock_geometry.h"
#include "db/storage/engine_settings.h"

namespace downsql::access {

class TDataDirectory;
class TTransactionTable;

// Opens a table of a directory that no cursor has opened yet (a restricted
// transaction names it). Installed by the table layer.
using TTableOpener =
    std::function<std::unique_ptr<TTransactionTable>(TDataDirectory&, const std::string& name)>;

class TDataEngine {
 public:
  TDataEngine();
  ~TDataEngine();
  TDataEngine(const TDataEngine&) = delete;
  TDataEngine& operator=(const TDataEngine&) = delete;

  storage::EngineSettings& settings() { return settings_; }
  const storage::EngineSettings& settings() const { return settings_; }

  bool active() const { return active_; }
  // Becomes active with the limits and lock offsets of the current
  // LargeFileSupport setting.
  void Start();
  // Frees every session, then becomes inactive.
  void Stop();

  uint64_t max_file_size() const { return settings_.max_file_size(); }
  uint32_t max_record_count() const { return settings_.max_record_count(); }
  TLockGeometry lock_geometry() const { return TLockGeometry(settings_.large_file_support()); }

  TDataSession& CreateSession(const std::string& name);
  void FreeSession(TDataSession& session);
  size_t session_count() const { return sessions_.size(); }

  TLockFileStore& disk_lock_files() { return disk_lock_files_; }
  TLockFileStore& memory_lock_files() { return memory_lock_files_; }

  TTableOpener table_opener;

 private:
  storage::EngineSettings settings_;
  bool active_ = false;
  TEngineLockFileStore disk_lock_files_{false};
  TEngineLockFileStore memory_lock_files_{true};
  std::vector<std::unique_ptr<TDataSession>> sessions_;
};

}  // namespace downsql::access
