// A database directory on disk for the statement tests, with the statement
// database over it and helpers to run SQL and read tables back.
#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
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
#include "db/storage/table_verifier.h"
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

  // The structural check of a table's files: every free slot on one well
  // formed free chain, the record count and the counters right, every index
  // tree sound and holding exactly one right key for each live record.
  // Returns "" when sound, else what is wrong.
  std::string CheckTable(const std::string& table) {
    auto cursor = access::OpenTableCursor(*directory_, table);
    storage::TDataTable& t = cursor->table();
    const uint32_t slots = t.slot_count();
    std::vector<bool> live(slots + 1, false);
    uint32_t live_count = 0;
    int32_t max_id = 0;
    storage::TRecordBuffer record(t.record_size());
    for (uint32_t slot = 1; slot <= slots; ++slot) {
      if (!t.ReadRecord(slot, record)) continue;
      live[slot] = true;
      ++live_count;
      max_id = std::max(max_id, record.record_id());
    }
    if (t.record_count() != live_count)
      return "record count " + std::to_string(t.record_count()) + ", live " +
             std::to_string(live_count);
    if (int32_t(t.last_record_id()) < max_id) return "last RecordID below a record's";
    std::set<uint32_t> free;
    for (uint32_t slot = t.data().free_chain_head(); slot != 0;) {
      if (slot > slots || live[slot] || !free.insert(slot).second)
        return "free chain broken at slot " + std::to_string(slot);
      t.ReadRecord(slot, record);
      slot = uint32_t(record.link());
    }
    if (free.size() != slots - live_count) return "free slots off the chain";
    for (const storage::TTableIndex& index : t.indexes()) {
      auto tree = t.Tree(index);
      std::set<uint32_t> pages;
      const std::string fault = tree->Check(&pages);
      if (!fault.empty()) return index.name + ": " + fault;
      if (tree->Total() != live_count) return index.name + ": key count";
      std::set<uint32_t> seen;
      for (auto pos = tree->First(); pos.valid(); pos = tree->Next(pos)) {
        std::string key;
        uint32_t slot = 0;
        tree->Read(pos, &key, &slot);
        if (slot == 0 || slot > slots || !live[slot] || !seen.insert(slot).second)
          return index.name + ": entry for a slot that is not one live record";
        t.ReadRecord(slot, record);
        const std::vector<uint8_t> built = index.compare.BuildKey(record.data());
        if (std::string(built.begin(), built.end()) != key) return index.name + ": stale key";
      }
    }
    // The engine's own full check agrees.
    const storage::TVerifyReport report = storage::TTableVerifier(t).Run();
    if (!report.clean()) return report.findings.front().text;
    return "";
  }

  // Every live record of table in natural order, each column as text
  // ("NULL" for NULL), columns joined by "|".
  std::vector<std::string> Rows(const std::string& table) {
    return RowsOf(*access::OpenTableCursor(*directory_, table));
  }

  // The result rows of a SELECT, as Rows gives them.
  std::vector<std::string> Select(const std::string& sql, const std::vector<TValue>& params = {}) {
    TQueryStatement statement(*database_);
    statement.Prepare(sql);
    auto result = statement.Execute(params);
    return RowsOf(result->cursor());
  }

  static std::vector<std::string> RowsOf(storage::TDataCursor& c) {
    std::vector<std::string> rows;
    auto* cursor = &c;
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
