// Row events from the table cursor to the engine component's handlers.
#include "db/access/row_events.h"

namespace downsql::access {
namespace {

TTabulaEngine::TRowEvent BeforeEvent(storage::TRowOperation op) {
  switch (op) {
    case storage::TRowOperation::kInsert:
      return TTabulaEngine::kBeforeInsert;
    case storage::TRowOperation::kUpdate:
      return TTabulaEngine::kBeforeUpdate;
    default:
      return TTabulaEngine::kBeforeDelete;
  }
}

TTabulaEngine::TRowEvent AfterEvent(storage::TRowOperation op) {
  switch (op) {
    case storage::TRowOperation::kInsert:
      return TTabulaEngine::kAfterInsert;
    case storage::TRowOperation::kUpdate:
      return TTabulaEngine::kAfterUpdate;
    default:
      return TTabulaEngine::kAfterDelete;
  }
}

TTabulaEngine::TRowError ErrorEvent(storage::TRowOperation op) {
  switch (op) {
    case storage::TRowOperation::kInsert:
      return TTabulaEngine::kInsertError;
    case storage::TRowOperation::kUpdate:
      return TTabulaEngine::kUpdateError;
    default:
      return TTabulaEngine::kDeleteError;
  }
}

}  // namespace

void TEngineRowEvents::BeforeRow(storage::TRowOperation op, const std::string& table_name,
                                 const storage::TRecordBuffer& record) {
  TTabulaRecord shown(record, fields_);
  engine_.RaiseRowEvent(BeforeEvent(op), session_, directory_, table_name, &shown);
}

void TEngineRowEvents::AfterRow(storage::TRowOperation op, const std::string& table_name,
                                const storage::TRecordBuffer& record) {
  TTabulaRecord shown(record, fields_);
  engine_.RaiseRowEvent(AfterEvent(op), session_, directory_, table_name, &shown);
}

storage::TDataAction TEngineRowEvents::RowError(storage::TRowOperation op,
                                                const std::string& table_name,
                                                const storage::TRecordBuffer& record,
                                                const std::exception& error) {
  TTabulaRecord shown(record, fields_);
  return engine_.RaiseRowError(ErrorEvent(op), session_, directory_, table_name, &shown, error);
}

}  // namespace downsql::access
