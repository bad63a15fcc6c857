// Index definitions and the index file header, in memory and in their
// stored forms.
//
// Index file header (512 bytes, little-endian):
//
//   OFFSET  SIZE    MEANING
//   0       4       update count, raised on every header write
//   4       4       reserved
//   8       1       version, 6
//   9       16      signature digest (MD5 of the engine signature)
//   25      4       head of the free-page chain (0 = empty)
//   29      4       next page number = pages in the file + 1
//   33      1       number of secondary indexes (0..30)
//   34      32 x 4  root page of each slot 0..31 (0 = empty index)
//   162     32 x 4  second root of each slot (text index, slot 31, only)
//   290     1       header-modified flag (ignored on reading)
//   291     221     reserved
//
// Index definition (768 bytes; slot 0 primary, 1..30 secondary indexes in
// creation order, 31 text-index parameters):
//
//   OFFSET  SIZE     MEANING
//   0       61       name, ShortString[60] (empty for the primary index)
//   61      2        key length L
//   63      63       reserved
//   126     1        descending: 1 when any key column is descending
//   127     1        case-insensitive
//   128     1        unique (always 1 for the primary index)
//   129     1        compression: 0 none, 1 duplicate bytes, 2 trailing, 3 both
//   130     1        number of key columns (1..128)
//   131     128      per key column: descending flag
//   259     128 x 2  per key column: column number (i16; -1 RecordID,
//                    -2 RecordHash)
//   515     1        no-key-statistics flag
//   516     1        zero
//   517     1        reserved
//   518     250      zero
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/crypto.h"

namespace downsql::storage {

inline constexpr uint32_t kIndexHeaderSize = 512;
inline constexpr uint32_t kIndexDefinitionSize = 768;
inline constexpr uint32_t kIndexSlotCount = 32;
inline constexpr uint32_t kIndexDefinitionAreaSize = kIndexSlotCount * kIndexDefinitionSize;
inline constexpr uint32_t kIndexDataStart = kIndexHeaderSize + kIndexDefinitionAreaSize;  // 25088
inline constexpr uint32_t kTextIndexSlot = 31;
inline constexpr uint32_t kMaxSecondaryIndexes = 30;
inline constexpr uint32_t kMaxIndexColumns = 128;
inline constexpr uint8_t kIndexFileVersion = 6;

struct TIndexDefinition {
  std::string name;
  uint16_t key_length = 0;
  bool descending = false;  // any key column descending
  bool case_insensitive = false;
  bool unique = false;
  uint8_t compression = 0;
  std::vector<int16_t> columns;        // key column numbers
  std::vector<uint8_t> descending_of;  // per key column
  bool no_key_statistics = false;

  bool empty() const { return columns.empty(); }
};

// The default primary index: RecordID, key length 5, unique.
TIndexDefinition DefaultPrimaryIndex();
// Slot 31: "Sys Text", key length 68, not unique, compression 3, no key
// statistics, no key columns.
TIndexDefinition DefaultTextIndex();
// Whether a primary definition is the default one (no primary key declared).
bool IsDefaultPrimary(const TIndexDefinition& def);

void EncodeIndexDefinition(const TIndexDefinition& def, uint8_t* out);
// A column count above 128 is cut to 128.
TIndexDefinition DecodeIndexDefinition(const uint8_t* in);

struct TIndexHeader {
  int32_t update_count = 0;
  uint8_t version = kIndexFileVersion;
  base::Md5Digest signature{};
  uint32_t free_head = 0;
  int32_t next_page = 1;
  uint8_t secondary_count = 0;
  std::array<uint32_t, kIndexSlotCount> roots{};
  std::array<uint32_t, kIndexSlotCount> second_roots{};
  bool modified = false;
};

void EncodeIndexHeader(const TIndexHeader& header, uint8_t* out);
TIndexHeader DecodeIndexHeader(const uint8_t* in);

}  // namespace downsql::storage
