// Record buffers: column get and set with the null-flag rules, and the
// record hash.
#include "db/storage/record.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "platform/locale.h"

namespace downsql::storage {

void TRecordBuffer::Clear() { std::fill(bytes_.begin(), bytes_.end(), 0); }

int32_t TRecordBuffer::link() const { return int32_t(base::GetLE32(&bytes_[1])); }
void TRecordBuffer::set_link(int32_t slot) { base::PutLE32(&bytes_[1], uint32_t(slot)); }
int32_t TRecordBuffer::record_id() const { return int32_t(base::GetLE32(&bytes_[5])); }
void TRecordBuffer::set_record_id(int32_t id) { base::PutLE32(&bytes_[5], uint32_t(id)); }

base::Md5Digest TRecordBuffer::record_hash() const {
  base::Md5Digest h;
  std::memcpy(h.data(), &bytes_[9], 16);
  return h;
}
void TRecordBuffer::set_record_hash(const base::Md5Digest& hash) {
  std::memcpy(&bytes_[9], hash.data(), 16);
}

bool TRecordBuffer::IsNull(const TFieldDef& def) const {
  if (def.IsPseudo()) return false;
  if (def.computed) return true;
  return bytes_[def.offset] == 0;
}

bool TRecordBuffer::GetColumn(const TFieldDef& def, void* value) const {
  size_t n = def.IsBlob() ? 4 : def.stored_size;
  if (IsNull(def)) {
    std::memset(value, 0, n);
    return false;
  }
  std::memcpy(value, value_ptr(def), n);
  return true;
}

void TRecordBuffer::SetNull(const TFieldDef& def) {
  if (def.IsPseudo() || def.computed) return;
  std::memset(value_ptr(def), 0, def.stored_size);
  SetFlag(def, false);
}

void TRecordBuffer::SetColumn(const TFieldDef& def, const void* value) {
  if (def.computed) return;
  if (def.IsPseudo()) {
    if (value) std::memcpy(value_ptr(def), value, def.stored_size);
    return;
  }
  if (!value) return SetNull(def);
  uint8_t* v = value_ptr(def);
  if (def.IsBlob()) {
    std::memcpy(v, value, 4);
    SetFlag(def, base::GetLE32(v) != 0);
    return;
  }
  if (def.type == kTypeBoolean) {
    base::PutLE16(v, base::GetLE16(value) != 0 ? 1 : 0);
    SetFlag(def, true);
    return;
  }
  std::memcpy(v, value, def.stored_size);
  SetFlag(def, true);
}

void TRecordBuffer::SetString(const TFieldDef& def, std::string_view text, uint32_t locale) {
  if (def.computed || def.IsPseudo()) return;
  uint8_t* v = value_ptr(def);
  std::memset(v, 0, def.stored_size);
  if (def.subtype == kSubtypeWideChar) {
    size_t chars = std::min<size_t>(text.size() / 2, def.size);
    // A wide character ends the text at a zero pair, like the ANSI zero.
    for (size_t i = 0; i < chars; ++i)
      if (text[2 * i] == 0 && text[2 * i + 1] == 0) chars = i;
    while (chars > 0 && text[2 * chars - 2] == ' ' && text[2 * chars - 1] == 0) --chars;
    std::memcpy(v, text.data(), 2 * chars);
    SetFlag(def, chars > 0);
    return;
  }
  size_t max = def.subtype == kSubtypeGuid ? 38 : def.size;
  std::string_view s = text.substr(0, std::min(text.size(), max));
  size_t nul = s.find('\0');
  if (nul != std::string_view::npos) s = s.substr(0, nul);
  if (def.subtype != kSubtypeFixedChar)
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  std::string mapped;
  if (def.char_case == 1) {
    mapped = platform::LowerCase(s, locale);
    s = mapped;
  } else if (def.char_case == 2) {
    mapped = platform::UpperCase(s, locale);
    s = mapped;
  }
  std::memcpy(v, s.data(), s.size());
  SetFlag(def, !s.empty());
}

std::optional<std::string> TRecordBuffer::GetString(const TFieldDef& def) const {
  if (IsNull(def)) return std::nullopt;
  const char* v = reinterpret_cast<const char*>(value_ptr(def));
  if (def.subtype == kSubtypeWideChar) {
    size_t chars = 0;
    while (2 * chars + 1 < def.stored_size && (v[2 * chars] || v[2 * chars + 1])) ++chars;
    return std::string(v, 2 * chars);
  }
  return std::string(v, strnlen(v, def.stored_size));
}

std::optional<int64_t> TRecordBuffer::GetInteger(const TFieldDef& def) const {
  if (IsNull(def)) return std::nullopt;
  return ReadStoredInteger(value_ptr(def), def.type);
}

void TRecordBuffer::SetInteger(const TFieldDef& def, int64_t value) {
  uint8_t v[8] = {};
  switch (def.type) {
    case kTypeSmallInt:
    case kTypeWord:
      base::PutLE16(v, uint16_t(value));
      break;
    case kTypeBoolean:
      base::PutLE16(v, value != 0 ? 1 : 0);
      break;
    case kTypeInteger:
    case kTypeDate:
    case kTypeTime:
      base::PutLE32(v, uint32_t(value));
      break;
    case kTypeLargeInt:
      base::PutLE64(v, uint64_t(value));
      break;
    default:
      return;
  }
  SetColumn(def, v);
}

std::optional<double> TRecordBuffer::GetFloat(const TFieldDef& def) const {
  if (IsNull(def)) return std::nullopt;
  if (def.type != kTypeFloat && def.type != kTypeTimestamp) return std::nullopt;
  return base::GetLEDouble(value_ptr(def));
}

void TRecordBuffer::SetFloat(const TFieldDef& def, double value) {
  if (def.type != kTypeFloat && def.type != kTypeTimestamp) return;
  uint8_t v[8];
  base::PutLEDouble(v, value);
  SetColumn(def, v);
}

void TRecordBuffer::SetBytes(const TFieldDef& def, const void* data, size_t size) {
  if (def.computed || def.IsPseudo()) return;
  uint8_t* v = value_ptr(def);
  std::memset(v, 0, def.stored_size);
  std::memcpy(v, data, std::min<size_t>(size, def.stored_size));
  SetFlag(def, true);
}

int32_t TRecordBuffer::GetBlobBlock(const TFieldDef& def) const {
  return int32_t(base::GetLE32(value_ptr(def)));
}
uint32_t TRecordBuffer::GetBlobVersion(const TFieldDef& def) const {
  return base::GetLE32(value_ptr(def) + 4);
}
void TRecordBuffer::SetBlobRef(const TFieldDef& def, int32_t first_block, uint32_t version) {
  uint8_t* v = value_ptr(def);
  base::PutLE32(v, uint32_t(first_block));
  base::PutLE32(v + 4, version);
  // In memory a negative block names an open BLOB buffer of the cursor; it
  // counts as a value until it is written.
  SetFlag(def, first_block != 0);
}

base::Md5Digest ComputeRecordHash(const uint8_t* record, uint32_t record_size,
                                  const std::vector<TFieldDef>& fields) {
  bool has_blobs = std::any_of(fields.begin(), fields.end(),
                               [](const TFieldDef& f) { return f.IsBlob() && !f.computed; });
  if (record_size <= kRecordHeaderSize) return base::Md5(nullptr, 0);
  if (!has_blobs) return base::Md5(record + kRecordHeaderSize, record_size - kRecordHeaderSize);
  std::vector<uint8_t> copy(record_size, 0);
  for (const TFieldDef& f : fields) {
    if (f.IsBlob() || f.computed) continue;
    std::memcpy(&copy[f.offset], record + f.offset, 1 + size_t(f.stored_size));
  }
  return base::Md5(copy.data() + kRecordHeaderSize, record_size - kRecordHeaderSize);
}

}  // namespace downsql::storage
