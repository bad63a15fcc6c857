// The engine core's session: settings copied from the session component,
// the session's open directories and its remembered table passwords.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/crypto.h"
#include "db/access/data_directory.h"
#include "db/storage/table_locks.h"

namespace downsql::access {

class TDataEngine;

// The record lock protocol is the storage layer's (described there).
using storage::lpOptimistic;
using storage::lpPessimistic;
using storage::TLockProtocol;

// A remembered table password: its text, the MD5 digest (the table key) and
// the check value an encrypted table stores (the digest enciphered with
// itself as the key).
struct TDataPassword {
  std::string text;
  base::Md5Digest digest;
  std::array<uint8_t, 16> check;

  explicit TDataPassword(std::string password);
};

class TDataSession {
 public:
  TDataSession(TDataEngine& engine, std::string name);
  // Frees every directory still open (rolling back their transactions).
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  TDataEngine& engine() { return engine_; }
  const std::string& name() const { return name_; }

  // The private directory as stored (with a trailing backslash, or "");
  // PrivateDirectory() gives the current directory for "".
  const std::string& private_dir() const { return private_dir_; }
  void set_private_dir(const std::string& dir);
  std::string PrivateDirectory() const;

  bool remote() const { return remote_; }
  void set_remote(bool on) { remote_ = on; }
  uint16_t lock_retry_count = 15;
  uint16_t lock_wait_time = 100;
  TLockProtocol lock_protocol = lpPessimistic;
  bool strict_change_detection = false;

  uint8_t progress_steps() const { return progress_steps_; }
  void set_progress_steps(uint8_t steps) { progress_steps_ = steps; }
  // The progress step in percent: 100 div ProgressSteps, or 100 for 0.
  uint32_t progress_step() const { return progress_steps_ ? 100 / progress_steps_ : 100; }
  // The AUTOINC value of the last record an SQL INSERT of the session
  // stored (SELECT @@IDENTITY).
  std::optional<int64_t> last_identity;

  bool force_buffer_flush() const { return force_buffer_flush_; }
  void set_force_buffer_flush(bool on) { force_buffer_flush_ = on; }

  // The directory of path (path "" means the current directory, except for
  // the in-memory database named by name), shared when the session has it
  // open already: its reference count goes up by one.
  TDataDirectory& OpenDirectory(const std::string& name, const std::string& path,
                                bool keep_tables_open);
  // Counts one user less; at 0 the directory is freed.
  void ReleaseDirectory(TDataDirectory& directory);
  size_t directory_count() const { return directories_.size(); }
  TDataDirectory& directory(size_t index) { return *directories_[index]; }

  // Remembered passwords (texts compared exactly). Remembering "" or a known
  // text does nothing.
  void RememberPassword(const std::string& text);
  void ForgetPassword(const std::string& text);
  void ForgetAllPasswords() { passwords_.clear(); }
  const std::vector<TDataPassword>& passwords() const { return passwords_; }
  // Asked when no remembered password opens an encrypted table; returns
  // true when the table is to be tried again. Unset means "no".
  std::function<bool()> password_handler;
  bool AskPassword() { return password_handler && password_handler(); }

 private:
  TDataEngine& engine_;
  std::string name_;
  std::string private_dir_;
  uint8_t progress_steps_ = 20;
  bool force_buffer_flush_ = false;
  bool remote_ = false;
  std::vector<std::unique_ptr<TDataDirectory>> directories_;
  std::vector<TDataPassword> passwords_;
};

}  // namespace downsql::access
