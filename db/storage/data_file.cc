// The table data file: header, column definitions, slots.
#include "db/storage/data_file.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "base/byte_order.h"
#include "base/date_time.h"
#include "db/storage/engine_error.h"
#include "db/storage/field_text.h"
#include "db/storage/record.h"
#include "platform/clock.h"
#include "platform/locale.h"

namespace downsql::storage {
namespace {

// Header offsets (see data_file.h).
constexpr size_t kHdrUpdateCount = 0;
constexpr size_t kHdrVersion = 8;
constexpr size_t kHdrSignature = 9;
constexpr size_t kHdrChainHead = 25;
constexpr size_t kHdrNextSlot = 29;
constexpr size_t kHdrLastRecordId = 33;
constexpr size_t kHdrLastAutoInc = 37;
constexpr size_t kHdrRecordCount = 41;
constexpr size_t kHdrRecordSize = 45;
constexpr size_t kHdrColumnCount = 47;
constexpr size_t kHdrBlobColumns = 49;
constexpr size_t kHdrBlobBlockSize = 51;
constexpr size_t kHdrLastBlobVersion = 55;
constexpr size_t kHdrIndexPageSize = 59;
constexpr size_t kHdrLastUpdated = 63;
constexpr size_t kHdrDescription = 71;
constexpr size_t kHdrEncrypted = 172;
constexpr size_t kHdrPasswordCheck = 173;
constexpr size_t kHdrLocale = 189;
constexpr size_t kHdrUserMajor = 193;
constexpr size_t kHdrUserMinor = 195;
constexpr size_t kHdrModified = 197;

std::string Trimmed(const std::string& s) {
  size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(' ');
  return s.substr(a, b - a + 1);
}

bool LocaleSupported(uint32_t locale) {
  return locale == 0 || platform::CollationFor(locale).locale() == locale;
}

uint64_t DefinitionsEnd(uint32_t columns) {
  return kTableHeaderSize + uint64_t(kFieldDefSize) * columns;
}

base::Md5Digest KeyOf(const std::string& password) { return base::Md5(password); }

// Checks the identity part of a header: version, signature, column count,
// and the sizes the file geometry rests on.
void CheckHeader(const uint8_t* h, const EngineSettings& settings, const std::string& table) {
  uint8_t version = h[kHdrVersion];
  if (version != kTableFormatVersion)
    throw ETabulaEngineError(version < 7 ? kErrWrongVersion : kErrInvalidFile, {table});
  const uint8_t* sig = h + kHdrSignature;
  base::Md5Digest fallback = base::Md5(kDefaultSignature);
  if (std::memcmp(sig, settings.signature_digest().data(), 16) != 0 &&
      std::memcmp(sig, fallback.data(), 16) != 0)
    throw ETabulaEngineError(kErrInvalidFile, {table});
  uint16_t columns = base::GetLE16(h + kHdrColumnCount);
  if (columns > kMaxColumnCount) throw ETabulaEngineError(kErrHeaderCorrupt, {table});
  // A header without columns or with no room for the record header would
  // make slot arithmetic meaningless; it is damaged.
  uint16_t record_size = base::GetLE16(h + kHdrRecordSize);
  if (columns == 0 || record_size < kRecordHeaderSize)
    throw ETabulaEngineError(kErrHeaderCorrupt, {table});
  // So would a next slot below 1 or a chain head past the last slot.
  int32_t next_slot = int32_t(base::GetLE32(h + kHdrNextSlot));
  if (next_slot < 1 || base::GetLE32(h + kHdrChainHead) >= uint32_t(next_slot))
    throw ETabulaEngineError(kErrHeaderCorrupt, {table});
}

}  // namespace

std::array<uint8_t, 16> PasswordCheckValue(const std::string& password) {
  base::Md5Digest key = KeyOf(password);
  std::array<uint8_t, 16> check;
  std::memcpy(check.data(), key.data(), 16);
  base::BlowfishCbc(key.data(), key.size()).Encrypt(check.data(), check.size());
  return check;
}

TDataFile::TDataFile(std::string table_name, std::string file_name, bool in_memory,
                     const EngineSettings& settings)
    : TBufferedFile(kDataKind, std::move(table_name), std::move(file_name), in_memory),
      settings_(settings) {}

TDataFile::~TDataFile() = default;

void TDataFile::Fail(uint32_t code) const { throw ETabulaEngineError(code, {table_name()}); }

std::unique_ptr<TBufferSlab> TDataFile::NewSlab(size_t count) const {
  return std::make_unique<TBufferSlabOf<TRecord>>(count, block_size());
}

void TDataFile::SetUp() {
  SetGeometry(DefinitionsEnd(column_count()), record_size());
  SetBufferLimits(settings_.max_table_data_buffer_size(), settings_.max_table_data_buffer_count());
}

// --- create -------------------------------------------------------------------

void TDataFile::Create(const TTableDefinition& definition, bool exclusive) {
  const std::string& table = table_name();
  if (definition.encrypted) {
    size_t n = Trimmed(definition.password).size();
    if (n < 1 || n > 128) Fail(kErrInvalidPassword);
  }
  if (!LocaleSupported(definition.locale)) Fail(kErrLocaleMissing);
  if (definition.fields.empty() || definition.fields.size() > size_t(kMaxColumnCount))
    Fail(kErrFieldCountLimits);
  if (definition.index_page_size < 1024 || definition.index_page_size > 16384 ||
      definition.secondary_indexes > int(kMaxSecondaryIndexes) || definition.secondary_indexes < 0)
    Fail(kErrIndexLimits);
  if (definition.blob_block_size < 64 || definition.blob_block_size > 65536) Fail(kErrBlobLimits);

  std::vector<TFieldDef> fields = definition.fields;
  const size_t count = fields.size();
  std::set<std::string> seen_names;  // upper-cased
  std::set<int> seen_numbers;
  for (size_t i = 0; i < count; ++i) {
    TFieldDef& f = fields[i];
    f.name = Trimmed(f.name);
    bool bad_name = f.name.empty() || f.name.size() > kFieldNameMax ||
                    platform::SameTextNoCase(f.name, kRecordIdName) ||
                    platform::SameTextNoCase(f.name, kRecordHashName) ||
                    !IsValidFirstNameChar(f.name[0]);
    if (!bad_name && !seen_names.insert(platform::UpperCase(f.name)).second) bad_name = true;
    if (bad_name) throw ETabulaEngineError(kErrInvalidFieldName, {f.name, table});

    if (f.number == 0) f.number = int(i + 1);
    if (f.number < 1 || size_t(f.number) > count || !seen_numbers.insert(f.number).second ||
        !IsValidDeclaredSize(f.type, f.subtype, f.size) ||
        (f.type != kTypeDecimal && f.scale != 0) || f.scale > 63 || f.computed != 0)
      throw ETabulaEngineError(kErrInvalidFieldDefinition, {f.name, table});
    // A GUID is stored as 38 characters and its terminating zero.
    if (f.type == kTypeString && f.subtype == kSubtypeGuid) f.size = 38;
    f.stored_size = StoredSizeOf(f.type, f.subtype, f.size);

    if (!IsValidColumnText(f, f.min_value) || !IsValidColumnText(f, f.max_value) ||
        !IsValidColumnText(f, f.default_value))
      throw ETabulaEngineError(kErrInvalidDefaultOrLimit, {f.name, table});
    if (f.compression > (f.IsBlob() ? 9 : 0))
      throw ETabulaEngineError(kErrInvalidFieldDefinition, {f.name, table});
  }
  std::sort(fields.begin(), fields.end(),
            [](const TFieldDef& a, const TFieldDef& b) { return a.number < b.number; });
  uint32_t record_size = AssignRecordLayout(fields);
  int blobs = int(
      std::count_if(fields.begin(), fields.end(), [](const TFieldDef& f) { return f.IsBlob(); }));
  if (blobs > kMaxBlobColumns) Fail(kErrBlobLimits);
  if (record_size > kMaxRecordSize) Fail(kErrRecordTooLarge);

  std::array<uint8_t, kTableHeaderSize> h{};
  base::PutLE32(&h[kHdrUpdateCount], uint32_t(kNewFileUpdateCount - 1));  // WriteHeader adds 1
  h[kHdrVersion] = kTableFormatVersion;
  std::memcpy(&h[kHdrSignature], settings_.signature_digest().data(), 16);
  base::PutLE32(&h[kHdrNextSlot], 1);
  base::PutLE32(&h[kHdrLastAutoInc], definition.last_autoinc);
  base::PutLE16(&h[kHdrRecordSize], uint16_t(record_size));
  base::PutLE16(&h[kHdrColumnCount], uint16_t(count));
  base::PutLE16(&h[kHdrBlobColumns], uint16_t(blobs));
  base::PutLE32(&h[kHdrBlobBlockSize], definition.blob_block_size);
  base::PutLE32(&h[kHdrIndexPageSize], definition.index_page_size);
  PutShortString(&h[kHdrDescription], kFieldTextMax, definition.description);
  std::unique_ptr<base::BlowfishCbc> cipher;
  if (definition.encrypted) {
    h[kHdrEncrypted] = 1;
    auto check = PasswordCheckValue(definition.password);
    std::memcpy(&h[kHdrPasswordCheck], check.data(), 16);
    base::Md5Digest key = KeyOf(definition.password);
    cipher = std::make_unique<base::BlowfishCbc>(key.data(), key.size());
  }
  base::PutLE32(&h[kHdrLocale], definition.locale);
  base::PutLE16(&h[kHdrUserMajor], definition.user_major);
  base::PutLE16(&h[kHdrUserMinor], definition.user_minor);

  std::vector<uint8_t> defs(size_t(kFieldDefSize) * count);
  for (size_t i = 0; i < count; ++i) EncodeFieldDef(fields[i], &defs[i * kFieldDefSize]);
  if (cipher) cipher->Encrypt(defs.data(), defs.size());

  Close();
  file().Create(exclusive);
  header_ = h;
  fields_ = std::move(fields);
  cipher_ = std::move(cipher);
  SetUp();
  file().Write(kTableHeaderSize, defs.data(), defs.size());
  header_modified_ = true;
  WriteHeader(true);
}

// --- open ---------------------------------------------------------------------

void TDataFile::Open(bool read_only, bool exclusive, const TPasswordSource& passwords) {
  Close();
  try {
    file().Open(read_only, exclusive);
    std::array<uint8_t, kTableHeaderSize> h;
    file().Read(0, h.data(), h.size());
    CheckHeader(h.data(), settings_, table_name());
    uint16_t count = base::GetLE16(&h[kHdrColumnCount]);

    std::unique_ptr<base::BlowfishCbc> cipher;
    if (h[kHdrEncrypted]) {
      auto try_known = [&]() -> bool {
        if (!passwords.known) return false;
        for (const std::string& pw : passwords.known()) {
          base::Md5Digest key = KeyOf(pw);
          auto c = std::make_unique<base::BlowfishCbc>(key.data(), key.size());
          uint8_t check[16];
          std::memcpy(check, &h[kHdrPasswordCheck], 16);
          c->Decrypt(check, 16);
          if (std::memcmp(check, key.data(), 16) == 0) {
            cipher = std::move(c);
            return true;
          }
        }
        return false;
      };
      while (!try_known()) {
        if (!passwords.ask || !passwords.ask()) Fail(kErrPasswordRequired);
      }
    }

    std::vector<uint8_t> defs(size_t(kFieldDefSize) * count);
    file().Read(kTableHeaderSize, defs.data(), defs.size());
    if (cipher) cipher->Decrypt(defs.data(), defs.size());
    std::vector<TFieldDef> fields;
    fields.reserve(count);
    uint16_t record_size = base::GetLE16(&h[kHdrRecordSize]);
    for (uint16_t i = 0; i < count; ++i) {
      TFieldDef f = DecodeFieldDef(&defs[size_t(i) * kFieldDefSize]);
      // Values must lie inside the record, or reading them would run past
      // the buffer; anything finer is Verify's business.
      if (!f.computed &&
          (f.offset < kRecordHeaderSize || uint32_t(f.offset) + 1 + f.stored_size > record_size))
        Fail(kErrHeaderCorrupt);
      // Readers of a known type read its natural width; a stored size that
      // disagrees would send them past the value.
      if (!f.computed && IsKnownType(f.type) &&
          f.stored_size != StoredSizeOf(f.type, f.subtype, f.size))
        Fail(kErrHeaderCorrupt);
      fields.push_back(std::move(f));
    }
    header_ = h;
    fields_ = std::move(fields);
    cipher_ = std::move(cipher);
    header_modified_ = false;
    changed_ = false;
    SetUp();
  } catch (...) {
    file().Close();
    throw;
  }
}

void TDataFile::Close() {
  Discard();
  file().Close();
}

// --- verification -------------------------------------------------------------

void TDataFile::Verify() {
  if (!LocaleSupported(locale())) Fail(kErrLocaleMissing);
  std::set<std::string> names;  // upper-cased
  std::set<int> numbers;
  uint32_t next_offset = kRecordHeaderSize;
  for (size_t i = 0; i < fields_.size(); ++i) {
    const TFieldDef& f = fields_[i];
    bool ok = !f.name.empty() && f.name.size() <= kFieldNameMax && IsValidFirstNameChar(f.name[0]);
    ok = ok && names.insert(platform::UpperCase(f.name)).second;
    ok = ok && f.number == int(i + 1) && numbers.insert(f.number).second;
    ok = ok && f.type != 0;
    if (f.type == kTypeString || f.type == kTypeBytes || f.type == kTypeVarBytes)
      ok = ok && f.size <= (f.subtype == kSubtypeWideChar ? 256 : 512);
    else
      ok = ok && f.size == 0;
    ok = ok && IsValidColumnText(f, f.min_value) && IsValidColumnText(f, f.max_value) &&
         IsValidColumnText(f, f.default_value);
    ok = ok && (f.scale == 0 || f.type == kTypeDecimal);
    if (!f.computed) {
      ok = ok && f.offset == next_offset;
      next_offset += 1 + f.stored_size;
    }
    if (!ok) Fail(kErrHeaderCorrupt);
  }
  if (record_size() != ((next_offset + 7) & ~uint32_t(7))) Fail(kErrHeaderCorrupt);
  uint64_t size = file().Size();
  uint64_t start = DefinitionsEnd(column_count());
  if (size < start || (size - start) % record_size() != 0) Fail(kErrHeaderCorrupt);
  uint64_t slots = (size - start) / record_size();
  if (uint64_t(next_slot()) != slots + 1 || free_chain_head() > slots) Fail(kErrHeaderCorrupt);
}

// --- header writing -----------------------------------------------------------

bool TDataFile::WriteHeader(bool force) {
  if (!force && !header_modified_) return false;
  base::PutLE32(&header_[kHdrUpdateCount], uint32_t(update_count() + 1));
  platform::LocalDateTime now = platform::LocalNow();
  double host = double(base::DayNumber(now.year, now.month, now.day) - base::kHostEpochDayNumber) +
                double(base::TimeMs(now.hour, now.minute, now.second, now.millisecond)) /
                    double(base::kMsPerDay);
  base::PutLEDouble(&header_[kHdrLastUpdated], host - double(base::kHostEpochDayNumber));
  header_[kHdrModified] = header_modified_ ? 1 : 0;
  file().Write(0, header_.data(), header_.size());
  header_modified_ = false;
  changed_ = true;
  return true;
}

bool TDataFile::ReReadHeader() {
  std::array<uint8_t, kTableHeaderSize> h;
  file().Read(0, h.data(), h.size());
  CheckHeader(h.data(), settings_, table_name());
  if (base::GetLE16(&h[kHdrColumnCount]) != column_count() ||
      base::GetLE16(&h[kHdrRecordSize]) != record_size())
    Fail(kErrHeaderCorrupt);
  bool differs = base::GetLE32(&h[kHdrUpdateCount]) != base::GetLE32(&header_[kHdrUpdateCount]);
  header_ = h;
  header_modified_ = false;
  return differs;
}

void TDataFile::Empty() {
  Discard();
  base::PutLE32(&header_[kHdrUpdateCount], 0);
  base::PutLE32(&header_[kHdrChainHead], 0);
  base::PutLE32(&header_[kHdrNextSlot], 1);
  base::PutLE32(&header_[kHdrLastRecordId], 0);
  base::PutLE32(&header_[kHdrLastAutoInc], 0);
  base::PutLE32(&header_[kHdrRecordCount], 0);
  MarkHeader();
  file().Truncate(DefinitionsEnd(column_count()));
}

// --- accessors ----------------------------------------------------------------

int32_t TDataFile::update_count() const {
  return int32_t(base::GetLE32(&header_[kHdrUpdateCount]));
}
uint32_t TDataFile::record_count() const { return base::GetLE32(&header_[kHdrRecordCount]); }
void TDataFile::set_record_count(uint32_t n) {
  base::PutLE32(&header_[kHdrRecordCount], n);
  MarkHeader();
}
uint32_t TDataFile::free_chain_head() const { return base::GetLE32(&header_[kHdrChainHead]); }
void TDataFile::set_free_chain_head(uint32_t slot) {
  base::PutLE32(&header_[kHdrChainHead], slot);
  MarkHeader();
}
uint32_t TDataFile::next_slot() const { return base::GetLE32(&header_[kHdrNextSlot]); }
void TDataFile::IncNextSlot() {
  base::PutLE32(&header_[kHdrNextSlot], next_slot() + 1);
  MarkHeader();
}
int32_t TDataFile::last_record_id() const {
  return int32_t(base::GetLE32(&header_[kHdrLastRecordId]));
}
void TDataFile::set_last_record_id(int32_t id) {
  base::PutLE32(&header_[kHdrLastRecordId], uint32_t(id));
  MarkHeader();
}
int32_t TDataFile::NextRecordId() {
  int32_t id = NextCounter(last_record_id());
  set_last_record_id(id);
  return id;
}
int32_t TDataFile::last_autoinc() const {
  return int32_t(base::GetLE32(&header_[kHdrLastAutoInc]));
}
void TDataFile::set_last_autoinc(int32_t v) {
  base::PutLE32(&header_[kHdrLastAutoInc], uint32_t(v));
  MarkHeader();
}
int32_t TDataFile::NextBlobVersion() {
  int32_t v = NextCounter(int32_t(base::GetLE32(&header_[kHdrLastBlobVersion])));
  base::PutLE32(&header_[kHdrLastBlobVersion], uint32_t(v));
  MarkHeader();
  return v;
}
uint16_t TDataFile::blob_column_count() const { return base::GetLE16(&header_[kHdrBlobColumns]); }
uint16_t TDataFile::record_size() const { return base::GetLE16(&header_[kHdrRecordSize]); }
uint16_t TDataFile::column_count() const { return base::GetLE16(&header_[kHdrColumnCount]); }
uint32_t TDataFile::blob_block_size() const { return base::GetLE32(&header_[kHdrBlobBlockSize]); }
uint32_t TDataFile::index_page_size() const { return base::GetLE32(&header_[kHdrIndexPageSize]); }
uint32_t TDataFile::locale() const { return base::GetLE32(&header_[kHdrLocale]); }
std::string TDataFile::description() const {
  return GetShortString(&header_[kHdrDescription], kFieldTextMax);
}
double TDataFile::last_updated() const {
  return base::GetLEDouble(&header_[kHdrLastUpdated]) + double(base::kHostEpochDayNumber);
}
bool TDataFile::encrypted() const { return header_[kHdrEncrypted] != 0; }
uint16_t TDataFile::user_major() const { return base::GetLE16(&header_[kHdrUserMajor]); }
uint16_t TDataFile::user_minor() const { return base::GetLE16(&header_[kHdrUserMinor]); }

const TFieldDef* TDataFile::FieldByNumber(int number) const {
  if (number == kRecordIdColumn) return &RecordIdField();
  if (number == kRecordHashColumn) return &RecordHashField();
  if (number < 1 || size_t(number) > fields_.size()) return nullptr;
  return &fields_[size_t(number - 1)];
}

const TFieldDef* TDataFile::FieldByName(const std::string& name) const {
  if (platform::SameTextNoCase(name, kRecordIdName)) return &RecordIdField();
  if (platform::SameTextNoCase(name, kRecordHashName)) return &RecordHashField();
  for (const TFieldDef& f : fields_)
    if (platform::SameTextNoCase(f.name, name)) return &f;
  return nullptr;
}

// --- slots --------------------------------------------------------------------

void TDataFile::CheckCapacity() {
  uint64_t slots = next_slot() - 1;
  uint64_t length_after = DefinitionsEnd(column_count()) + (slots + 1) * record_size();
  if (slots >= settings_.max_record_count() || length_after > settings_.max_file_size())
    Fail(kErrTableFull);
}

uint32_t TDataFile::SlotForNewRecord() const {
  uint32_t head = free_chain_head();
  return head != 0 ? head : next_slot();
}

TBuffer* TDataFile::InsertSlot() {
  uint32_t head = free_chain_head();
  TBuffer* b = nullptr;
  if (head != 0) {
    if (head >= next_slot()) Fail(kErrRecordBuffersCorrupt);
    b = GetBlock(head);
    if (b->data[0] != kSlotDeleted) {
      Unpin(b);
      Fail(kErrRecordBuffersCorrupt);
    }
    set_free_chain_head(base::GetLE32(&b->data[1]));
  } else {
    b = GetBlock(next_slot());
  }
  std::fill(b->data.begin(), b->data.end(), 0);
  MarkModified(b);
  IncRecordCount();
  return b;
}

void TDataFile::DeleteSlot(uint32_t slot) {
  if (slot == 0 || slot > block_count()) Fail(kErrRecordBuffersCorrupt);
  TBuffer* b = GetBlock(slot);
  if (b->data[0] == kSlotDeleted) {
    Unpin(b);
    Fail(kErrRecordBuffersCorrupt);
  }
  b->data[0] = kSlotDeleted;
  base::PutLE32(&b->data[1], free_chain_head());
  MarkModified(b);
  Unpin(b);
  set_free_chain_head(slot);
  DecRecordCount();
}

// --- encryption ---------------------------------------------------------------

void TDataFile::EncodeBlock(const TBuffer& buffer, uint8_t* out) const {
  std::memcpy(out, buffer.data.data(), block_size());
  if (cipher_) cipher_->Encrypt(out, block_size());
}

void TDataFile::EncodeInPlace(uint8_t* bytes) const {
  if (cipher_) cipher_->Encrypt(bytes, block_size());
}

void TDataFile::DecodeBlock(const uint8_t* in, TBuffer& buffer) const {
  std::memcpy(buffer.data.data(), in, block_size());
  if (cipher_) cipher_->Decrypt(buffer.data.data(), block_size());
}

void TDataFile::DecodeInPlace(uint8_t* bytes) const {
  if (cipher_) cipher_->Decrypt(bytes, block_size());
}

}  // namespace downsql::storage
