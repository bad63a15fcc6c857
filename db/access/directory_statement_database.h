// TDirectoryStatementDatabase: the SQL statements' view of an open database
// directory.
//
// The query component makes one for the directory its database is bound to
// and hands it to every statement it prepares. Tables open through the
// directory (so they join its transactions and take its locks); result
// tables live in memory under names no table of a directory can clash with.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/sql/statement_database.h"

namespace downsql::access {

class TDataDirectory;

class TDirectoryStatementDatabase : public sql::TStatementDatabase {
 public:
  // directory must outlive this object.
  explicit TDirectoryStatementDatabase(TDataDirectory& directory);

  const std::string& DatabaseName() const override;
  const storage::EngineSettings& Settings() const override;
  uint32_t ProgressStep() const override;

  bool TableExists(const std::string& name) override;
  std::unique_ptr<storage::TDataCursor> OpenTable(const std::string& name,
                                                  bool exclusive = false) override;
  // A shared cursor on the table still open under name; never for an
  // exclusive open (that closes the directory's unused tables first).
  bool ReopenTable(storage::TDataCursor& cursor, const std::string& name, bool exclusive) override;
  void CreateTable(const std::string& name,
                   const storage::TNewTableDefinition& definition) override;
  void DropTable(const std::string& name) override;
  void RenameTable(const std::string& from, const std::string& to) override;
  storage::TTableOpenOptions RebuildOptions(const std::string& name) override;

  bool TransactionActive() const override;
  void StartTransaction(const std::vector<std::string>& tables) override;
  void CommitTransaction(bool flush, bool end = true) override;
  void RollbackTransaction() override;

  std::unique_ptr<sql::TResultTable> CreateResultTable(
      const storage::TNewTableDefinition& definition) override;

  // The session's, shared by every query of the session.
  std::optional<int64_t> LastIdentity() const override;
  void SetLastIdentity(int64_t value) override;

  TDataDirectory& directory() { return directory_; }

 private:
  std::string FileName(const std::string& table, storage::EngineSettings::Extension ext) const;

  TDataDirectory& directory_;
};

}  // namespace downsql::access
