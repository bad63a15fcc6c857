// The engine's settings as the storage core reads them.
//
// The engine component (db/access) owns one of these and copies every
// accepted property value into it; the setters below apply the clamping and
// "." rules, so a value read back is the value the core uses.
#pragma once

#include <cstdint>
#include <string>

#include "base/crypto.h"

namespace downsql::storage {

class EngineSettings {
 public:
  // Limits of one table file and of its record count, by LargeFileSupport.
  static constexpr uint64_t kMaxFileSize = 4000000000ULL;
  static constexpr uint64_t kMaxFileSizeLarge = 128000000000ULL;
  static constexpr uint32_t kMaxRecordCount = 200000000;
  static constexpr uint32_t kMaxRecordCountLarge = 1000000000;

  EngineSettings() { Reset(); }
  // Every setting back to its default.
  void Reset();

  const std::string& engine_signature() const { return engine_signature_; }
  // The MD5 digest of the signature, which every table file carries.
  const base::Md5Digest& signature_digest() const { return signature_digest_; }
  void set_engine_signature(const std::string& text);

  bool large_file_support() const { return large_file_support_; }
  void set_large_file_support(bool on) { large_file_support_ = on; }
  uint64_t max_file_size() const { return large_file_support_ ? kMaxFileSizeLarge : kMaxFileSize; }
  uint32_t max_record_count() const {
    return large_file_support_ ? kMaxRecordCountLarge : kMaxRecordCount;
  }

  bool filter_record_counts = true;
  bool create_temp_tables_in_database = false;
  std::string lock_file_name = "tabula.lck";

  uint32_t max_table_data_buffer_size() const { return max_table_data_buffer_size_; }
  uint32_t max_table_data_buffer_count() const { return max_table_data_buffer_count_; }
  uint32_t max_table_index_buffer_size() const { return max_table_index_buffer_size_; }
  uint32_t max_table_index_buffer_count() const { return max_table_index_buffer_count_; }
  uint32_t max_table_blob_buffer_size() const { return max_table_blob_buffer_size_; }
  uint32_t max_table_blob_buffer_count() const { return max_table_blob_buffer_count_; }
  // Values below the floor become the floor: sizes 8192 / 32768 (index) /
  // 8192, counts 16 / 8 (index) / 32 (BLOB).
  void set_max_table_data_buffer_size(uint32_t v);
  void set_max_table_data_buffer_count(uint32_t v);
  void set_max_table_index_buffer_size(uint32_t v);
  void set_max_table_index_buffer_count(uint32_t v);
  void set_max_table_blob_buffer_size(uint32_t v);
  void set_max_table_blob_buffer_count(uint32_t v);

  // File extensions; a value not starting with "." gets one put in front.
  enum Extension {
    kData,
    kIndex,
    kBlob,
    kDataBackup,
    kIndexBackup,
    kBlobBackup,
    kDataUpgrade,
    kIndexUpgrade,
    kBlobUpgrade,
    kDataTemp,
    kIndexTemp,
    kBlobTemp,
    kExtensionCount
  };
  const std::string& extension(Extension which) const { return extensions_[which]; }
  void set_extension(Extension which, const std::string& value);

  uint8_t table_filter_index_threshold() const { return table_filter_index_threshold_; }
  // Values above 100 are ignored.
  void set_table_filter_index_threshold(uint8_t v) {
    if (v <= 100) table_filter_index_threshold_ = v;
  }

  uint16_t table_read_lock_wait_time = 3;
  uint16_t table_read_lock_retry_count = 32768;
  uint16_t table_write_lock_wait_time = 3;
  uint16_t table_write_lock_retry_count = 32768;
  uint16_t table_trans_lock_wait_time = 3;
  uint16_t table_trans_lock_retry_count = 32768;

  uint16_t table_max_read_lock_count() const { return table_max_read_lock_count_; }
  // 0 is ignored.
  void set_table_max_read_lock_count(uint16_t v) {
    if (v != 0) table_max_read_lock_count_ = v;
  }

 private:
  std::string engine_signature_;
  base::Md5Digest signature_digest_{};
  bool large_file_support_ = false;
  uint32_t max_table_data_buffer_size_ = 0;
  uint32_t max_table_data_buffer_count_ = 0;
  uint32_t max_table_index_buffer_size_ = 0;
  uint32_t max_table_index_buffer_count_ = 0;
  uint32_t max_table_blob_buffer_size_ = 0;
  uint32_t max_table_blob_buffer_count_ = 0;
  std::string extensions_[kExtensionCount];
  uint8_t table_filter_index_threshold_ = 1;
  uint16_t table_max_read_lock_count_ = 100;
};

}  // namespace downsql::storage
