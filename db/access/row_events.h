// The engine's row events as a table cursor raises them: before and after
// every insert, update and delete, and the error event whose answer
// (retry, abort, fail) decides what the cursor does next.
//
// The handlers are the engine component's (BeforeInsertTrigger ...
// OnDeleteError); they see the record as a TTabulaRecord and the session and
// database components that stand for the cursor's core session and
// directory.
#pragma once

#include <string>
#include <vector>

#include "db/access/tabula_engine.h"
#include "db/storage/column_def.h"
#include "db/storage/record.h"
#include "db/storage/table_locks.h"

namespace downsql::access {

class TDataDirectory;
class TDataSession;

// A record as the row events show it: the record buffer and its columns.
class TTabulaRecord {
 public:
  TTabulaRecord(const storage::TRecordBuffer& buffer, const std::vector<storage::TFieldDef>& fields)
      : buffer_(buffer), fields_(fields) {}
  const storage::TRecordBuffer& buffer() const { return buffer_; }
  const std::vector<storage::TFieldDef>& fields() const { return fields_; }

 private:
  const storage::TRecordBuffer& buffer_;
  const std::vector<storage::TFieldDef>& fields_;
};

class TEngineRowEvents : public storage::TRowEvents {
 public:
  // The events of engine for cursors of session's directory; fields are the
  // table's columns.
  TEngineRowEvents(TTabulaEngine& engine, TDataSession& session, TDataDirectory& directory,
                   const std::vector<storage::TFieldDef>& fields)
      : engine_(engine), session_(session), directory_(directory), fields_(fields) {}

  void BeforeRow(storage::TRowOperation op, const std::string& table_name,
                 const storage::TRecordBuffer& record) override;
  void AfterRow(storage::TRowOperation op, const std::string& table_name,
                const storage::TRecordBuffer& record) override;
  storage::TDataAction RowError(storage::TRowOperation op, const std::string& table_name,
                                const storage::TRecordBuffer& record,
                                const std::exception& error) override;

 private:
  TTabulaEngine& engine_;
  TDataSession& session_;
  TDataDirectory& directory_;
  const std::vector<storage::TFieldDef>& fields_;
};

}  // namespace downsql::access
