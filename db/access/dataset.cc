// The dataset view of a table cursor.
#include "db/access/dataset.h"

#include <stdexcept>

#include "db/access/database_error.h"

#include "db/storage/data_cursor.h"
#include "platform/locale.h"

namespace downsql::access {

std::vector<TDataSetFieldDef> BuildFieldDefs(const std::vector<storage::TFieldDef>& columns,
                                             const std::vector<bool>& hidden,
                                             const std::string& table_name,
                                             bool auto_display_labels) {
  std::vector<TDataSetFieldDef> defs;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i < hidden.size() && hidden[i]) continue;
    const storage::TFieldDef& column = columns[i];
    TFieldTypeAndSize type =
        FieldTypeForColumn(column.type, column.subtype, column.size, column.scale);
    TDataSetFieldDef def;
    def.name = column.name;
    def.field_no = column.number;
    def.data_type = type.type;
    def.size = type.size;
    def.required = column.required && type.type != ftAutoInc;
    if (auto_display_labels && !column.description.empty()) {
      def.display_label = column.description;
    }
    def.origin = table_name + "." + column.name;
    defs.push_back(std::move(def));
  }
  return defs;
}

std::string TTabulaField::AsString() const {
  if (def_.data_type == ftMemo || def_.data_type == ftBlob || def_.data_type == ftGraphic) {
    return dataset_->GetBlobData(column_);
  }
  return FieldAsString(def_.data_type, Value(), def_.name);
}

TFieldValue TTabulaField::Value() const { return dataset_->GetFieldData(def_.field_no, column_); }

TTabulaDataSet::TTabulaDataSet(storage::TDataCursor& cursor) : cursor_(&cursor) {}

TTabulaDataSet::~TTabulaDataSet() = default;

void TTabulaDataSet::Open() {
  if (active_) return;
  const std::vector<storage::TFieldDef>& columns = cursor_->fields();
  field_defs_ =
      BuildFieldDefs(columns, cursor_->hidden_columns(), cursor_->table_name(), AutoDisplayLabels);
  fields_.clear();
  for (const TDataSetFieldDef& def : field_defs_) {
    fields_.push_back(
        std::make_unique<TTabulaField>(*this, def, columns[static_cast<size_t>(def.field_no - 1)]));
  }
  buffer_.assign(cursor_->record_size(), 0);
  active_ = true;
  First();
}

void TTabulaDataSet::Close() {
  active_ = false;
  has_record_ = false;
  bof_ = eof_ = true;
  fields_.clear();
  field_defs_.clear();
  buffer_.clear();
}

void TTabulaDataSet::RequireActive() const {
  if (!active_) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

void TTabulaDataSet::Fetch() {
  const storage::TRecordBuffer& record = cursor_->current();
  buffer_.assign(record.data(), record.data() + record.size());
  has_record_ = true;
}

void TTabulaDataSet::First() {
  RequireActive();
  cursor_->First();
  has_record_ = cursor_->Next();
  if (has_record_) Fetch();
  bof_ = true;
  eof_ = !has_record_;
}

void TTabulaDataSet::Last() {
  RequireActive();
  cursor_->Last();
  has_record_ = cursor_->Prior();
  if (has_record_) Fetch();
  eof_ = true;
  bof_ = !has_record_;
}

void TTabulaDataSet::Next() {
  RequireActive();
  if (eof_) return;
  if (cursor_->Next()) {
    Fetch();
    bof_ = false;
  } else {
    // Stay on the last record, as a dataset does at its end.
    eof_ = true;
    if (has_record_) cursor_->Prior();
  }
}

void TTabulaDataSet::Prior() {
  RequireActive();
  if (bof_) return;
  if (cursor_->Prior()) {
    Fetch();
    eof_ = false;
  } else {
    bof_ = true;
    if (has_record_) cursor_->Next();
  }
}

uint32_t TTabulaDataSet::RecordCount() {
  RequireActive();
  return cursor_->RecordCount();
}

TTabulaField& TTabulaDataSet::Fields(size_t index) {
  if (index >= fields_.size()) throw std::out_of_range("List index out of bounds");
  return *fields_[index];
}

TTabulaField* TTabulaDataSet::FindField(const std::string& name) {
  for (auto& field : fields_) {
    if (platform::SameTextNoCase(field->FieldName(), name)) return field.get();
  }
  return nullptr;
}

TTabulaField& TTabulaDataSet::FieldByName(const std::string& name) {
  TTabulaField* field = FindField(name);
  if (field == nullptr) throw EDatabaseError("Field '" + name + "' not found");
  return *field;
}

TFieldValue TTabulaDataSet::GetFieldData(int /*field_no*/, const storage::TFieldDef& column) const {
  if (!active_ || !has_record_ || buffer_.empty()) return {};
  const uint8_t* flag = buffer_.data() + column.offset;
  size_t value_size = column.stored_size;
  if (column.type == storage::kTypeBlob) value_size = 4;
  return {*flag != 0, std::span<const uint8_t>(flag + 1, value_size)};
}

std::string TTabulaDataSet::GetBlobData(const storage::TFieldDef& column) {
  if (!active_ || !has_record_) return "";
  // The cursor stays on the record the dataset shows.
  std::vector<uint8_t> value = cursor_->ReadBlob(column);
  return std::string(value.begin(), value.end());
}

}  // namespace downsql::access
