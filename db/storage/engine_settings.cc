#include "db/storage/engine_settings.h"

#include <algorithm>

namespace downsql::storage {

void EngineSettings::Reset() {
  set_engine_signature("TABULA_SIG");
  large_file_support_ = false;
  filter_record_counts = true;
  create_temp_tables_in_database = false;
  lock_file_name = "tabula.lck";
  max_table_data_buffer_size_ = 32768;
  max_table_data_buffer_count_ = 8192;
  max_table_index_buffer_size_ = 65536;
  max_table_index_buffer_count_ = 8192;
  max_table_blob_buffer_size_ = 32768;
  max_table_blob_buffer_count_ = 8192;
  static const char* const kDefaults[kExtensionCount] = {".dat", ".idx", ".blb", ".dbk",
                                                         ".ibk", ".bbk", ".dup", ".iup",
                                                         ".bup", ".dat", ".idx", ".blb"};
  for (int i = 0; i < kExtensionCount; ++i) extensions_[i] = kDefaults[i];
  table_filter_index_threshold_ = 1;
  table_read_lock_wait_time = 3;
  table_read_lock_retry_count = 32768;
  table_write_lock_wait_time = 3;
  table_write_lock_retry_count = 32768;
  table_trans_lock_wait_time = 3;
  table_trans_lock_retry_count = 32768;
  table_max_read_lock_count_ = 100;
}

void EngineSettings::set_engine_signature(const std::string& text) {
  engine_signature_ = text.substr(0, 255);
  signature_digest_ = base::Md5(engine_signature_);
}

void EngineSettings::set_max_table_data_buffer_size(uint32_t v) {
  max_table_data_buffer_size_ = std::max<uint32_t>(v, 8192);
}
void EngineSettings::set_max_table_data_buffer_count(uint32_t v) {
  max_table_data_buffer_count_ = std::max<uint32_t>(v, 16);
}
void EngineSettings::set_max_table_index_buffer_size(uint32_t v) {
  max_table_index_buffer_size_ = std::max<uint32_t>(v, 32768);
}
void EngineSettings::set_max_table_index_buffer_count(uint32_t v) {
  max_table_index_buffer_count_ = std::max<uint32_t>(v, 8);
}
void EngineSettings::set_max_table_blob_buffer_size(uint32_t v) {
  max_table_blob_buffer_size_ = std::max<uint32_t>(v, 8192);
}
void EngineSettings::set_max_table_blob_buffer_count(uint32_t v) {
  max_table_blob_buffer_count_ = std::max<uint32_t>(v, 32);
}

void EngineSettings::set_extension(Extension which, const std::string& value) {
  std::string v = value;
  if (v.empty() || v[0] != '.') v.insert(v.begin(), '.');
  extensions_[which] = v.substr(0, 255);
}

}  // namespace downsql::storage
