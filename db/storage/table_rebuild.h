// Rebuilding a table's files: REPAIR, OPTIMIZE and ALTER write a complete
// new set of files beside the table and then put them in its place.
//
// Every operation here works on a closed table (no cursor anywhere may have
// it open; the files are opened exclusively) and runs in three stages:
//
//   1. build   the new files are made under the table name + "$rebuild"
//              from the old ones, which are only read;
//   2. swap    the old files are renamed to the backup extensions of the
//              engine settings (".dbk", ".ibk", ".bbk" by default; older
//              backups are replaced), the new ones to the table's names;
//   3. clean   without backup the renamed old files are deleted.
//
// A failure in stage 1 deletes the new files and leaves the table as it
// was; a failure in stage 2 renames everything back. So an operation either
// completes or leaves the table's files exactly as they were.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "db/storage/data_table.h"
#include "db/storage/record.h"

namespace downsql::storage {

struct TRebuildOptions {
  // Where the table is and how to open it (directory, name, settings,
  // passwords, in_memory, files); it is always opened exclusively.
  TTableOpenOptions table;
  // Keep the previous files under the backup extensions.
  bool backup = true;
  // One line per thing done or found (repair).
  std::function<void(const std::string& line)> log;
  // Percent done; setting abort stops the operation before the swap, the
  // table then stays as it was and EOperationAborted is raised.
  std::function<void(uint16_t percent, bool& abort)> progress;
};

// The definition the table's files carry: columns, properties, primary and
// secondary indexes (the password of an encrypted table from the known
// ones).
TNewTableDefinition DefinitionOf(TDataTable& table, const std::vector<std::string>& passwords);
// The same of a closed table, opened exclusively for reading (passwords
// from options).
TNewTableDefinition DefinitionOf(const TTableOpenOptions& options);

// Rebuilds the table from what can be read of its data file: every live
// record keeps its slot and RecordID (a record whose RecordHash does not
// match gets its hash computed again), deleted slots go on a new free
// chain, counters are recomputed, BLOB values that cannot be read are set
// to NULL, every index is built again from the records (a record whose key
// is already in a unique index is dropped). Each of these is logged.
// Without force_index_rebuild a table that the verifier finds sound is left
// alone ("nothing to repair" is logged). Raises the open errors of a table
// whose data header cannot be read.
void RepairTable(const TRebuildOptions& options, bool force_index_rebuild);

// Writes the records in the order of the named index (the primary index for
// "") into slots 1..n with no free slot, RecordIDs kept, and builds index
// and BLOB files without free pages or blocks. 10022 for an unknown index.
void OptimizeTable(const TRebuildOptions& options, const std::string& index_name);

// A change of the table's structure: the new definition and how each new
// column is filled.
struct TAlterPlan {
  // The new table, its columns in their new order (numbered by position,
  // whatever numbers they carry; index columns name the new numbers). Its
  // last AUTOINC is where the new table's counter
  // starts; the values the records carry raise it.
  TNewTableDefinition definition;
  // For each new column (in order): the number of the old column it takes
  // its value from, or 0 for a new column (its default, else NULL).
  std::vector<int> source_column;
  // Converts the value of old column from (in record in, never NULL) into
  // new column to (in record out, NULL on entry); returns false when the
  // value cannot be kept. BLOB values are passed as their bytes. Empty:
  // copy when the columns have the same type and size, else the value is
  // lost.
  std::function<bool(const TRecordBuffer& in, const TFieldDef& from,
                     const std::vector<uint8_t>* blob_in, TRecordBuffer& out, const TFieldDef& to,
                     std::vector<uint8_t>* blob_out)>
      convert;
  // Called once, at the first value that cannot be kept (the new column
  // named); returning false stops the ALTER with the table unchanged
  // (EOperationAborted). Empty: the values are given up (left NULL).
  std::function<bool(const TFieldDef& column)> data_lost;
};

// Rewrites every record into the new layout in natural order (RecordIDs
// kept, new hashes), builds the new indexes from the records, writes the
// new files. Every value given up is logged with its RecordID and column.
// An AUTOINC column left NULL (a new one, or one converted from a plain
// column) is numbered on from the highest value the table holds. A record
// that breaks a rule of the new columns fails with 9732, 9730 or 9731, a
// duplicate key in a unique index with 9729; the table is then unchanged.
void AlterTable(const TRebuildOptions& options, const TAlterPlan& plan);

}  // namespace downsql::storage
