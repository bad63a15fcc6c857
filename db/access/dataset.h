// TTabulaDataSet: the rows of a table cursor seen as a dataset of typed
// fields bound to the current record.
//
// Open builds one field definition per visible column of the cursor, in
// column order (columns the cursor marks hidden are skipped), positions on
// the first record and fetches it. Fields read the stored bytes of their
// column in the dataset's record buffer and convert them (tabula_field.h);
// a NULL value reads as 0, 0.0, "" or false.
//
// Movement is the usual dataset's: First/Last land on the first/last
// record; Next past the last record sets Eof and keeps the last record,
// Prior before the first sets Bof. An empty dataset is Bof and Eof at once
// and every field reads as NULL.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/access/tabula_field.h"
#include "db/storage/column_def.h"
#include "db/storage/record.h"

namespace downsql::storage {
class TDataCursor;
}

namespace downsql::access {

// One field definition of a dataset.
struct TDataSetFieldDef {
  std::string name;
  int field_no = 0;  // the column number, from 1
  TFieldType data_type = ftUnknown;
  uint16_t size = 0;
  bool required = false;      // never for ftAutoInc
  std::string display_label;  // the column description, when asked for
  std::string origin;         // "table.column"
};

// The field definitions of columns (hidden[i] true skips column i + 1; a
// shorter vector leaves the rest visible). With auto_display_labels a
// non-empty column description becomes the display label.
std::vector<TDataSetFieldDef> BuildFieldDefs(const std::vector<storage::TFieldDef>& columns,
                                             const std::vector<bool>& hidden,
                                             const std::string& table_name,
                                             bool auto_display_labels);

class TTabulaDataSet;

class TTabulaField {
 public:
  TTabulaField(TTabulaDataSet& dataset, TDataSetFieldDef def, const storage::TFieldDef& column)
      : dataset_(&dataset), def_(std::move(def)), column_(column) {}

  const std::string& FieldName() const { return def_.name; }
  int FieldNo() const { return def_.field_no; }
  TFieldType DataType() const { return def_.data_type; }
  uint16_t Size() const { return def_.size; }
  const TDataSetFieldDef& def() const { return def_; }
  const std::string& DisplayLabel() const {
    return def_.display_label.empty() ? def_.name : def_.display_label;
  }

  bool IsNull() const { return !Value().has_value; }
  // The stored bytes of the column in the current record.
  TFieldValue Value() const;
  double AsDateTime() const { return FieldAsDateTime(def_.data_type, Value(), def_.name); }
  int64_t AsInteger() const { return FieldAsInteger(def_.data_type, Value(), def_.name); }
  double AsFloat() const { return FieldAsFloat(def_.data_type, Value(), def_.name); }
  // BLOB, MEMO and GRAPHIC fields read their whole value.
  std::string AsString() const;
  bool AsBoolean() const { return FieldAsBoolean(def_.data_type, Value(), def_.name); }

 private:
  TTabulaDataSet* dataset_;
  TDataSetFieldDef def_;
  storage::TFieldDef column_;
};

class TTabulaDataSet {
 public:
  // The dataset reads through cursor, which must outlive it while open.
  explicit TTabulaDataSet(storage::TDataCursor& cursor);
  ~TTabulaDataSet();

  bool AutoDisplayLabels = false;

  // Builds the fields and fetches the first record.
  void Open();
  void Close();
  bool Active() const { return active_; }

  void First();
  void Last();
  void Next();
  void Prior();
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return bof_ && eof_; }
  // Live records of the cursor.
  uint32_t RecordCount();

  const std::vector<TDataSetFieldDef>& FieldDefs() const { return field_defs_; }
  size_t FieldCount() const { return fields_.size(); }
  // By position in the field list, from 0.
  TTabulaField& Fields(size_t index);
  // By name, ignoring case; nullptr when there is none.
  TTabulaField* FindField(const std::string& name);
  // Raises "Field '%s' not found" when there is none.
  TTabulaField& FieldByName(const std::string& name);

  // The stored value of column field_no (>= 1) in the current record
  // buffer; no value when the dataset is empty or closed.
  TFieldValue GetFieldData(int field_no, const storage::TFieldDef& column) const;
  // The whole value of a BLOB column of the current record ("" when none).
  std::string GetBlobData(const storage::TFieldDef& column);

 private:
  void RequireActive() const;
  void Fetch();

  storage::TDataCursor* cursor_;
  bool active_ = false;
  bool bof_ = true;
  bool eof_ = true;
  bool has_record_ = false;
  std::vector<TDataSetFieldDef> field_defs_;
  std::vector<std::unique_ptr<TTabulaField>> fields_;
  // The record shown: a copy of the cursor's current record.
  std::vector<uint8_t> buffer_;
};

}  // namespace downsql::access
