// TStatementDatabase: what an SQL statement needs of the database it runs
// in.
//
// The SQL engine sits below the access layer, so it never sees a directory,
// a session or the lock file. The access layer implements this interface
// over an open directory (db/access/directory_statement_database.h); tests
// and the fuzz targets may hand in their own.
//
// Table names are as written in the statement (compared without regard to
// case, without the data extension). Every call raises the storage engine's
// errors (ETabulaEngineError) unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"
#include "db/storage/engine_settings.h"
#include "db/storage/index_definition.h"

namespace downsql::sql {

// A statement's result: a cursor, and for a generated result table the step
// that removes the table's files once the cursor is gone. A live result is
// a cursor on the base table and removes nothing.
class TResultTable {
 public:
  TResultTable(std::unique_ptr<storage::TDataCursor> cursor, std::function<void()> remove = {})
      : cursor_(std::move(cursor)), remove_(std::move(remove)) {
    if (cursor_) display_name_ = cursor_->table_name();
  }
  ~TResultTable() {
    cursor_.reset();
    if (remove_) {
      try {
        remove_();
      } catch (...) {
        // A result that cannot be removed now is left to the next start.
      }
    }
  }
  TResultTable(const TResultTable&) = delete;
  TResultTable& operator=(const TResultTable&) = delete;

  storage::TDataCursor& cursor() { return *cursor_; }
  // The name the result is shown under: "query (<generated name>)" for a
  // generated table, the table's own name otherwise.
  const std::string& display_name() const { return display_name_; }
  void set_display_name(std::string name) { display_name_ = std::move(name); }

 private:
  std::unique_ptr<storage::TDataCursor> cursor_;
  std::function<void()> remove_;
  std::string display_name_;
};

class TStatementDatabase {
 public:
  virtual ~TStatementDatabase() = default;

  // The database's name, for messages ("No transaction in progress for
  // <name> database").
  virtual const std::string& DatabaseName() const = 0;
  // The engine's settings (buffer sizes for the commit interval of a
  // statement's own transaction, file extensions, limits).
  virtual const storage::EngineSettings& Settings() const = 0;
  // The progress step in percent (100 div the session's ProgressSteps, 100
  // when that is 0).
  virtual uint32_t ProgressStep() const = 0;

  // --- tables -------------------------------------------------------------
  virtual bool TableExists(const std::string& name) = 0;
  // A cursor on the table (11010 when it does not exist). exclusive asks for
  // the table to itself (10253 when another cursor has it open).
  virtual std::unique_ptr<storage::TDataCursor> OpenTable(const std::string& name,
                                                          bool exclusive = false) = 0;
  // Makes cursor, which OpenTable(name, exclusive) gave earlier, serve as
  // the cursor that call would give now, and returns true; returns false
  // when it cannot (the table under name is another, or the open would do
  // more than hand out a cursor), and the caller opens a new one.
  virtual bool ReopenTable(storage::TDataCursor& /*cursor*/, const std::string& /*name*/,
                           bool /*exclusive*/) {
    return false;
  }
  // Creates the table's files; nothing is left behind on failure.
  virtual void CreateTable(const std::string& name,
                           const storage::TNewTableDefinition& definition) = 0;
  // Deletes the files of a table no cursor has open.
  virtual void DropTable(const std::string& name) = 0;
  // Renames the table's files (data, index and, when present, BLOB file).
  virtual void RenameTable(const std::string& from, const std::string& to) = 0;
  // How to open a table whose files a statement rebuilds (REPAIR,
  // OPTIMIZE, ALTER) without any cursor: 11010 when it does not exist,
  // 11013 when the database cannot be written, 10253 while a cursor has it
  // open. The table stays closed in the database meanwhile.
  virtual storage::TTableOpenOptions RebuildOptions(const std::string& name) {
    throw storage::ETabulaEngineError(storage::kErrExclusiveRequired, {name});
  }

  // --- transactions -------------------------------------------------------
  virtual bool TransactionActive() const = 0;
  // Starts a transaction over the listed tables, or every table for an
  // empty list.
  virtual void StartTransaction(const std::vector<std::string>& tables) = 0;
  // Writes the transaction's changes; with end the transaction finishes.
  virtual void CommitTransaction(bool flush, bool end = true) = 0;
  virtual void RollbackTransaction() = 0;

  // --- result tables ------------------------------------------------------
  // A new temporary table of the given definition under a unique generated
  // name (in memory where the engine keeps results in memory, else in the
  // session's private directory), opened exclusively. Its files are removed
  // when the returned result is destroyed.
  virtual std::unique_ptr<TResultTable> CreateResultTable(
      const storage::TNewTableDefinition& definition) = 0;

  // --- counters -----------------------------------------------------------
  // The AUTOINC value of the last record an INSERT stored through this
  // database's session, for SELECT @@IDENTITY; nullopt before the first. An
  // INSERT into a table without an AUTOINC column leaves it.
  virtual std::optional<int64_t> LastIdentity() const { return last_identity_; }
  virtual void SetLastIdentity(int64_t value) { last_identity_ = value; }
  // The last AUTOINC value the table has handed out (LASTAUTOINC); raises
  // the storage errors of OpenTable.
  int64_t LastAutoInc(const std::string& table) { return OpenTable(table)->LastAutoIncValue(); }

 private:
  std::optional<int64_t> last_identity_;
};

}  // namespace downsql::sql
