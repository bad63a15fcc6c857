// Column definitions: stored sizes, record layout and the 768-byte form.
#include "db/storage/column_def.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"

namespace downsql::storage {
namespace {

// Offsets inside one 768-byte column definition (see column_def.h).
constexpr size_t kDefNumber = 0;
constexpr size_t kDefName = 2;
constexpr size_t kDefDescription = 63;
constexpr size_t kDefType = 164;
constexpr size_t kDefSubtype = 165;
constexpr size_t kDefSize = 166;
constexpr size_t kDefScale = 168;
constexpr size_t kDefStoredSize = 169;
constexpr size_t kDefScaleCopy = 171;
constexpr size_t kDefOffset = 172;
constexpr size_t kDefRequired = 174;
constexpr size_t kDefCharCase = 175;
constexpr size_t kDefMin = 176;
constexpr size_t kDefMax = 277;
constexpr size_t kDefDefault = 378;
constexpr size_t kDefCompression = 479;
constexpr size_t kDefComputed = 480;

TFieldDef MakePseudo(int number, const char* name, uint8_t type, uint8_t subtype, uint16_t size,
                     uint16_t offset) {
  TFieldDef d;
  d.number = number;
  d.name = name;
  d.type = type;
  d.subtype = subtype;
  d.size = size;
  d.stored_size = type == kTypeBytes ? size : 4;
  d.offset = offset;
  return d;
}

}  // namespace

uint16_t StoredSizeOf(uint8_t type, uint8_t subtype, uint16_t size) {
  switch (type) {
    case kTypeString:
      if (subtype == kSubtypeGuid) return 39;
      if (subtype == kSubtypeWideChar) return uint16_t(2 * size + 1);
      return uint16_t(size + 1);
    case kTypeDate:
    case kTypeInteger:
    case kTypeTime:
      return 4;
    case kTypeBlob:
    case kTypeFloat:
    case kTypeTimestamp:
    case kTypeLargeInt:
      return 8;
    case kTypeBoolean:
    case kTypeSmallInt:
    case kTypeWord:
      return 2;
    case kTypeDecimal:
      return 34;
    case kTypeBytes:
    case kTypeVarBytes:
      return size;
    default:
      return 0;
  }
}

bool IsKnownType(uint8_t type) { return (type >= 1 && type <= 12) || type == 15 || type == 18; }

bool IsValidDeclaredSize(uint8_t type, uint8_t subtype, uint16_t size) {
  switch (type) {
    case kTypeString:
      if (subtype == kSubtypeGuid) return size <= 38;
      return size >= 1 && size <= (subtype == kSubtypeWideChar ? 256 : 512);
    case kTypeBytes:
    case kTypeVarBytes:
      return size >= 1 && size <= 512;
    case kTypeDate:
    case kTypeBlob:
    case kTypeBoolean:
    case kTypeSmallInt:
    case kTypeInteger:
    case kTypeFloat:
    case kTypeDecimal:
    case kTypeTime:
    case kTypeTimestamp:
    case kTypeWord:
    case kTypeLargeInt:
      return size == 0;
    default:
      return false;
  }
}

bool IsValidFirstNameChar(char c) {
  uint8_t b = uint8_t(c);
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_' || (b >= 128 && b <= 254);
}

uint32_t AssignRecordLayout(std::vector<TFieldDef>& fields) {
  uint32_t next = kRecordHeaderSize;
  for (TFieldDef& f : fields) {
    if (f.computed) {
      f.offset = 0;
      continue;
    }
    f.stored_size = StoredSizeOf(f.type, f.subtype, f.size);
    f.offset = uint16_t(next);
    next += 1 + f.stored_size;
  }
  return (next + 7) & ~uint32_t(7);
}

uint32_t RecordSizeFor(const std::vector<TFieldDef>& fields) {
  uint32_t next = kRecordHeaderSize;
  for (const TFieldDef& f : fields)
    if (!f.computed) next += 1 + f.stored_size;
  return next;
}

const TFieldDef& RecordIdField() {
  static const TFieldDef def = MakePseudo(kRecordIdColumn, kRecordIdName, kTypeInteger, 0, 0, 5);
  return def;
}

const TFieldDef& RecordHashField() {
  static const TFieldDef def =
      MakePseudo(kRecordHashColumn, kRecordHashName, kTypeBytes, kSubtypeRecordHash, 16, 9);
  return def;
}

void PutShortString(uint8_t* p, size_t n, std::string_view text) {
  size_t len = std::min(text.size(), n);
  p[0] = uint8_t(len);
  std::memcpy(p + 1, text.data(), len);
  std::memset(p + 1 + len, 0, n - len);
}

std::string GetShortString(const uint8_t* p, size_t n) {
  size_t len = std::min<size_t>(p[0], n);
  return std::string(reinterpret_cast<const char*>(p + 1), len);
}

void EncodeFieldDef(const TFieldDef& def, uint8_t* out) {
  std::memset(out, 0, kFieldDefSize);
  base::PutLE16(out + kDefNumber, uint16_t(def.number));
  PutShortString(out + kDefName, kFieldNameMax, def.name);
  PutShortString(out + kDefDescription, kFieldTextMax, def.description);
  out[kDefType] = def.type;
  out[kDefSubtype] = def.subtype;
  base::PutLE16(out + kDefSize, def.size);
  out[kDefScale] = def.scale;
  base::PutLE16(out + kDefStoredSize, def.stored_size);
  out[kDefScaleCopy] = def.scale;
  base::PutLE16(out + kDefOffset, def.offset);
  out[kDefRequired] = def.required ? 1 : 0;
  out[kDefCharCase] = def.char_case;
  PutShortString(out + kDefMin, kFieldTextMax, def.min_value);
  PutShortString(out + kDefMax, kFieldTextMax, def.max_value);
  PutShortString(out + kDefDefault, kFieldTextMax, def.default_value);
  out[kDefCompression] = def.compression;
  out[kDefComputed] = def.computed;
}

TFieldDef DecodeFieldDef(const uint8_t* in) {
  TFieldDef d;
  d.number = base::GetLE16(in + kDefNumber);
  d.name = GetShortString(in + kDefName, kFieldNameMax);
  d.description = GetShortString(in + kDefDescription, kFieldTextMax);
  d.type = in[kDefType];
  d.subtype = in[kDefSubtype];
  d.size = base::GetLE16(in + kDefSize);
  d.scale = in[kDefScale];
  d.stored_size = base::GetLE16(in + kDefStoredSize);
  d.offset = base::GetLE16(in + kDefOffset);
  d.required = in[kDefRequired] != 0;
  d.char_case = in[kDefCharCase];
  d.min_value = GetShortString(in + kDefMin, kFieldTextMax);
  d.max_value = GetShortString(in + kDefMax, kFieldTextMax);
  d.default_value = GetShortString(in + kDefDefault, kFieldTextMax);
  d.compression = in[kDefCompression];
  d.computed = in[kDefComputed];
  return d;
}

std::string TypeName(const TFieldDef& def) {
  auto sized = [&](const char* name) {
    return std::string(name) + "(" + std::to_string(def.size) + ")";
  };
  switch (def.type) {
    case kTypeString:
      if (def.subtype == kSubtypeGuid) return "GUID";
      if (def.subtype == kSubtypeFixedChar) return sized("CHAR");
      if (def.subtype == kSubtypeWideChar) return sized("WIDECHAR");
      return sized("VARCHAR");
    case kTypeDate:
      return "DATE";
    case kTypeBlob:
      if (def.subtype == kSubtypeMemo) return "MEMO";
      if (def.subtype == kSubtypeGraphic) return "GRAPHIC";
      return "BLOB";
    case kTypeBoolean:
      return "BOOLEAN";
    case kTypeSmallInt:
      return "SMALLINT";
    case kTypeInteger:
      return def.subtype == kSubtypeAutoInc ? "AUTOINC" : "INTEGER";
    case kTypeFloat:
      return def.subtype == kSubtypeMoney ? "MONEY" : "FLOAT";
    case kTypeDecimal:
      return "DECIMAL(0," + std::to_string(def.scale) + ")";
    case kTypeBytes:
      return sized("BYTES");
    case kTypeTime:
      return "TIME";
    case kTypeTimestamp:
      return "TIMESTAMP";
    case kTypeWord:
      return "WORD";
    case kTypeVarBytes:
      return sized("VARBYTES");
    case kTypeLargeInt:
      return "LARGEINT";
    default:
      return "TYPE" + std::to_string(def.type);
  }
}

}  // namespace downsql::storage
