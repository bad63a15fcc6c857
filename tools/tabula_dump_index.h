// The index and BLOB parts of tabula-dump: a table's ".idx" file (header,
// definitions, every page of each tree with its entries and links, the
// free-page chain) and its ".blb" file (header, the chains the records
// name, the free-block chain).
#pragma once

#include <string>

#include "db/storage/data_file.h"
#include "db/storage/engine_settings.h"

namespace downsql::storage {

// Prints the index file and, for a table with BLOB columns, the BLOB file
// that sit beside data_path (same name, ".idx" / ".blb"). password is the
// table's password for an encrypted table ("" otherwise). Raises the
// engine's error for damage after printing what could be read.
void DumpIndexAndBlobFiles(const std::string& data_path, TDataFile& table,
                           const std::string& password, const EngineSettings& settings);

}  // namespace downsql::storage
