// The SQL statements' database over an open directory.
#include "db/access/directory_statement_database.h"

#include <atomic>

#include "db/access/data_directory.h"
#include "db/access/data_engine.h"
#include "db/access/data_session.h"
#include "db/access/directory_table.h"
#include "db/storage/engine_error.h"
#include "db/storage/engine_file.h"
#include "db/storage/table_journal.h"

namespace downsql::access {

namespace {

using storage::EngineSettings;

// Result tables are named with a character no SQL table name can carry
// unquoted, and a number unique in the process.
std::string NextResultName() {
  static std::atomic<uint32_t> counter{0};
  return "#result" + std::to_string(++counter);
}

}  // namespace

TDirectoryStatementDatabase::TDirectoryStatementDatabase(TDataDirectory& directory)
    : directory_(directory) {}

const std::string& TDirectoryStatementDatabase::DatabaseName() const { return directory_.name(); }

const EngineSettings& TDirectoryStatementDatabase::Settings() const {
  return directory_.session().engine().settings();
}

uint32_t TDirectoryStatementDatabase::ProgressStep() const {
  return directory_.session().progress_step();
}

std::optional<int64_t> TDirectoryStatementDatabase::LastIdentity() const {
  return directory_.session().last_identity;
}

void TDirectoryStatementDatabase::SetLastIdentity(int64_t value) {
  directory_.session().last_identity = value;
}

std::string TDirectoryStatementDatabase::FileName(const std::string& table,
                                                  EngineSettings::Extension ext) const {
  return directory_.path() + table + Settings().extension(ext);
}

bool TDirectoryStatementDatabase::TableExists(const std::string& name) {
  return storage::TEngineFile(FileName(name, EngineSettings::kData), directory_.in_memory())
      .Exists();
}

std::unique_ptr<storage::TDataCursor> TDirectoryStatementDatabase::OpenTable(
    const std::string& name, bool exclusive) {
  // Tables kept open after their last cursor would refuse the exclusive open.
  // and a table a maintenance statement held alone would keep others out.
  auto* open = dynamic_cast<TDirectoryTable*>(directory_.FindTable(name));
  if (exclusive || (open != nullptr && open->table()->exclusive() && !open->InUse()))
    directory_.CloseUnusedTables();
  return OpenTableCursor(directory_, name, exclusive);
}

bool TDirectoryStatementDatabase::ReopenTable(storage::TDataCursor& cursor, const std::string& name,
                                              bool exclusive) {
  if (exclusive || cursor.table().exclusive()) return false;
  auto* open = dynamic_cast<TDirectoryTable*>(directory_.FindTable(name));
  if (open == nullptr || open->table().get() != &cursor.table()) return false;
  cursor.Reopen(CursorSettings(directory_));
  return true;
}

void TDirectoryStatementDatabase::CreateTable(const std::string& name,
                                              const storage::TNewTableDefinition& definition) {
  if (directory_.read_only()) throw storage::ETabulaEngineError(storage::kErrAccessDenied, {name});
  storage::TDataTable::Create(directory_.path(), name, Settings(), definition,
                              directory_.in_memory());
}

void TDirectoryStatementDatabase::DropTable(const std::string& name) {
  if (directory_.read_only()) throw storage::ETabulaEngineError(storage::kErrAccessDenied, {name});
  directory_.CloseUnusedTables();
  if (directory_.FindTable(name) != nullptr)
    throw storage::ETabulaEngineError(storage::kErrAccessDenied, {name});
  storage::TDataTable::Delete(directory_.path(), name, Settings(), directory_.in_memory());
}

void TDirectoryStatementDatabase::RenameTable(const std::string& from, const std::string& to) {
  if (directory_.read_only()) throw storage::ETabulaEngineError(storage::kErrAccessDenied, {from});
  directory_.CloseUnusedTables();
  if (directory_.FindTable(from) != nullptr)
    throw storage::ETabulaEngineError(storage::kErrAccessDenied, {from});
  if (!TableExists(from)) throw storage::ETabulaEngineError(storage::kErrFileNotFound, {from});
  if (TableExists(to)) throw storage::ETabulaEngineError(storage::kErrAccessDenied, {to});
  const bool memory = directory_.in_memory();
  for (EngineSettings::Extension ext :
       {EngineSettings::kData, EngineSettings::kIndex, EngineSettings::kBlob}) {
    storage::TEngineFile file(FileName(from, ext), memory);
    if (file.Exists()) file.Rename(FileName(to, ext));
  }
  // The journal goes with the table: a commit left unfinished in it is
  // restored when the table is opened under its new name.
  if (!memory) {
    const std::string journal = storage::TTableJournal::kExtension;
    storage::TEngineFile file(directory_.path() + from + journal, false);
    if (file.Exists()) file.Rename(directory_.path() + to + journal);
  }
}

storage::TTableOpenOptions TDirectoryStatementDatabase::RebuildOptions(const std::string& name) {
  if (directory_.read_only()) throw storage::ETabulaEngineError(storage::kErrAccessDenied, {name});
  directory_.CloseUnusedTables();
  if (directory_.FindTable(name) != nullptr)
    throw storage::ETabulaEngineError(storage::kErrExclusiveRequired, {name});
  if (!TableExists(name)) throw storage::ETabulaEngineError(storage::kErrFileNotFound, {name});
  storage::TTableOpenOptions options;
  options.directory = directory_.path();
  options.name = name;
  options.settings = &Settings();
  options.in_memory = directory_.in_memory();
  for (const TDataPassword& password : directory_.session().passwords())
    options.passwords.push_back(password.text);
  return options;
}

bool TDirectoryStatementDatabase::TransactionActive() const {
  return directory_.TransactionActive();
}

void TDirectoryStatementDatabase::StartTransaction(const std::vector<std::string>& tables) {
  directory_.BeginTransaction(tables);
}

void TDirectoryStatementDatabase::CommitTransaction(bool flush, bool end) {
  directory_.CommitTransaction(flush, end);
}

void TDirectoryStatementDatabase::RollbackTransaction() { directory_.RollbackTransaction(); }

std::unique_ptr<sql::TResultTable> TDirectoryStatementDatabase::CreateResultTable(
    const storage::TNewTableDefinition& definition) {
  const std::string name = NextResultName();
  const EngineSettings& settings = Settings();
  storage::TDataTable::Create("", name, settings, definition, true);
  auto remove = [name, &settings] { storage::TDataTable::Delete("", name, settings, true); };
  try {
    storage::TTableOpenOptions options;
    options.name = name;
    options.settings = &settings;
    options.exclusive = true;
    options.in_memory = true;
    storage::TSessionSettings session;
    auto cursor =
        std::make_unique<storage::TDataCursor>(storage::TDataTable::Open(options), session);
    auto result = std::make_unique<sql::TResultTable>(std::move(cursor), remove);
    result->set_display_name("query (" + name + ")");
    return result;
  } catch (...) {
    remove();
    throw;
  }
}

}  // namespace downsql::access
