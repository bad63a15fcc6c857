#include "db/storage/index_definition.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "db/storage/column_def.h"
#include "db/storage/column_type.h"

namespace downsql::storage {

namespace {

constexpr size_t kNameMax = 60;
constexpr uint32_t kOffKeyLength = 61;
constexpr uint32_t kOffDescending = 126;
constexpr uint32_t kOffCaseInsensitive = 127;
constexpr uint32_t kOffUnique = 128;
constexpr uint32_t kOffCompression = 129;
constexpr uint32_t kOffColumnCount = 130;
constexpr uint32_t kOffColumnDescending = 131;
constexpr uint32_t kOffColumnNumbers = 259;
constexpr uint32_t kOffNoKeyStatistics = 515;

constexpr uint32_t kOffUpdateCount = 0;
constexpr uint32_t kOffVersion = 8;
constexpr uint32_t kOffSignature = 9;
constexpr uint32_t kOffFreeHead = 25;
constexpr uint32_t kOffNextPage = 29;
constexpr uint32_t kOffSecondaryCount = 33;
constexpr uint32_t kOffRoots = 34;
constexpr uint32_t kOffSecondRoots = 162;
constexpr uint32_t kOffModified = 290;

}  // namespace

TIndexDefinition DefaultPrimaryIndex() {
  TIndexDefinition def;
  def.key_length = 5;
  def.unique = true;
  def.columns = {kRecordIdColumn};
  def.descending_of = {0};
  return def;
}

TIndexDefinition DefaultTextIndex() {
  TIndexDefinition def;
  def.name = "Sys Text";
  def.key_length = 68;
  def.unique = false;
  def.compression = 3;
  def.no_key_statistics = true;
  return def;
}

bool IsDefaultPrimary(const TIndexDefinition& def) {
  return def.columns.size() == 1 && def.columns[0] == kRecordIdColumn && !def.descending;
}

void EncodeIndexDefinition(const TIndexDefinition& def, uint8_t* out) {
  std::memset(out, 0, kIndexDefinitionSize);
  PutShortString(out, kNameMax, def.name);
  base::PutLE16(out + kOffKeyLength, def.key_length);
  out[kOffDescending] = def.descending ? 1 : 0;
  out[kOffCaseInsensitive] = def.case_insensitive ? 1 : 0;
  out[kOffUnique] = def.unique ? 1 : 0;
  out[kOffCompression] = def.compression;
  const size_t n = std::min<size_t>(def.columns.size(), kMaxIndexColumns);
  out[kOffColumnCount] = static_cast<uint8_t>(n);
  for (size_t i = 0; i < n; ++i) {
    out[kOffColumnDescending + i] = i < def.descending_of.size() && def.descending_of[i] ? 1 : 0;
    base::PutLE16(out + kOffColumnNumbers + 2 * i, static_cast<uint16_t>(def.columns[i]));
  }
  out[kOffNoKeyStatistics] = def.no_key_statistics ? 1 : 0;
}

TIndexDefinition DecodeIndexDefinition(const uint8_t* in) {
  TIndexDefinition def;
  def.name = GetShortString(in, kNameMax);
  def.key_length = base::GetLE16(in + kOffKeyLength);
  def.descending = in[kOffDescending] != 0;
  def.case_insensitive = in[kOffCaseInsensitive] != 0;
  def.unique = in[kOffUnique] != 0;
  def.compression = in[kOffCompression];
  const size_t n = std::min<size_t>(in[kOffColumnCount], kMaxIndexColumns);
  for (size_t i = 0; i < n; ++i) {
    def.descending_of.push_back(in[kOffColumnDescending + i] ? 1 : 0);
    def.columns.push_back(static_cast<int16_t>(base::GetLE16(in + kOffColumnNumbers + 2 * i)));
  }
  def.no_key_statistics = in[kOffNoKeyStatistics] != 0;
  return def;
}

void EncodeIndexHeader(const TIndexHeader& header, uint8_t* out) {
  std::memset(out, 0, kIndexHeaderSize);
  base::PutLE32(out + kOffUpdateCount, static_cast<uint32_t>(header.update_count));
  out[kOffVersion] = header.version;
  std::memcpy(out + kOffSignature, header.signature.data(), header.signature.size());
  base::PutLE32(out + kOffFreeHead, header.free_head);
  base::PutLE32(out + kOffNextPage, static_cast<uint32_t>(header.next_page));
  out[kOffSecondaryCount] = header.secondary_count;
  for (uint32_t i = 0; i < kIndexSlotCount; ++i) {
    base::PutLE32(out + kOffRoots + 4 * i, header.roots[i]);
    base::PutLE32(out + kOffSecondRoots + 4 * i, header.second_roots[i]);
  }
  out[kOffModified] = header.modified ? 1 : 0;
}

TIndexHeader DecodeIndexHeader(const uint8_t* in) {
  TIndexHeader header;
  header.update_count = static_cast<int32_t>(base::GetLE32(in + kOffUpdateCount));
  header.version = in[kOffVersion];
  std::memcpy(header.signature.data(), in + kOffSignature, header.signature.size());
  header.free_head = base::GetLE32(in + kOffFreeHead);
  header.next_page = static_cast<int32_t>(base::GetLE32(in + kOffNextPage));
  header.secondary_count = in[kOffSecondaryCount];
  for (uint32_t i = 0; i < kIndexSlotCount; ++i) {
    header.roots[i] = base::GetLE32(in + kOffRoots + 4 * i);
    header.second_roots[i] = base::GetLE32(in + kOffSecondRoots + 4 * i);
  }
  header.modified = in[kOffModified] != 0;
  return header;
}

}  // namespace downsql::storage
