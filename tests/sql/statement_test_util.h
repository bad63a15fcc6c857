// A database directory on disk for the statement tests, with the statement
// database over it and helpers to run SQL and read tables back.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/access/data_directory.h"
#include "db/access/data_engine.h"
#include "db/access/data_session.h"
#include "db/access/directory_statement_database.h"
#include "db/access/directory_table.h"
#include "db/sql/query_statement.h"
#include "db/sql/record_values.h"
#include "db/storage/engine_error.h"
#include "tests/platform/temp_dir.h"

namespace downsql::sql::testing {

class StatementDb {
 public:
  // A fresh directory, or (path given) another engine on an existing one.
  StatementDb() : StatementDb(std::string()) {}
  explicit StatementDb(const std::string& path) {
    path_ = path.empty() ? temp_.emplace().path() : path;
    access::InstallTableOpener(engine_);
    engine_.Start();
    session_ = &engine_.CreateSession("test");
    directory_ = &session_->OpenDirectory("TestDb", path_ + "/", false);
    database_ = std::make_unique<access::TDirectoryStatementDatabase>(*directory_);
  }

  TStatementDatabase& database() { return *database_; }
  access::TDataDirectory& directory() { return *directory_; }
  access::TDataSession& session() { return *session_; }
  const std::string& path() const { return path_; }

  // Prepares and executes one statement; returns its rows affected.
  uint32_t Run(const std::string& sql, const std::vector<TValue>& params = {}) {
    TQueryStatement statement(*database_);
    statement.Prepare(sql);
    statement.Execute(params);
    return statement.RowsAffected();
  }

  // The message of the engine error sql raises ("" when none).
  std::string ErrorOf(const std::string& sql) {
    try {
      Run(sql);
    } catch (const storage::ETabulaEngineError& e) {
      return e.what();
    }
    return "";
  }

  // Every live record of table in natural order, each column as text
  // ("NULL" for NULL), columns joined by "|".
  std::vector<std::string> Rows(const std::string& table) {
    std::vector<std::string> rows;
    auto cursor = access::OpenTableCursor(*directory_, table);
    cursor->First();
    while (cursor->Next()) {
      std::string row;
      for (const storage::TFieldDef& f : cursor->fields()) {
        if (!row.empty()) row += "|";
        const TValue v = ReadColumnValue(cursor->current(), f);
        if (f.IsBlob() && !cursor->current().IsNull(f)) {
          const auto bytes = cursor->ReadBlob(f);
          row += std::string(bytes.begin(), bytes.end());
        } else {
          row += v.null ? "NULL" : ValueText(v);
        }
      }
      rows.push_back(row);
    }
    return rows;
  }

 private:
  std::optional<platform::TempDir> temp_;
  std::string path_;
  access::TDataEngine engine_;
  access::TDataSession* session_ = nullptr;
  access::TDataDirectory* directory_ = nullptr;
  std::unique_ptr<access::TDirectoryStatementDatabase> database_;
};

}  // namespace downsql::sql::testing
