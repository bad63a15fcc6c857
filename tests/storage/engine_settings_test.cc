#include "db/storage/engine_settings.h"

#include <gtest/gtest.h>

namespace downsql::storage {
namespace {

TEST(EngineSettings, ClampsAndPrefixesAsAssigned) {
  EngineSettings s;
  s.set_max_table_index_buffer_size(1000);
  EXPECT_EQ(s.max_table_index_buffer_size(), 32768u);
  s.set_max_table_blob_buffer_count(1);
  EXPECT_EQ(s.max_table_blob_buffer_count(), 32u);
  s.set_extension(EngineSettings::kData, "dat");
  EXPECT_EQ(s.extension(EngineSettings::kData), ".dat");
  s.set_table_filter_index_threshold(101);
  EXPECT_EQ(s.table_filter_index_threshold(), 1);
  s.set_table_max_read_lock_count(0);
  EXPECT_EQ(s.table_max_read_lock_count(), 100);
  s.Reset();
  EXPECT_EQ(s.max_table_index_buffer_size(), 65536u);
}

}  // namespace
}  // namespace downsql::storage
