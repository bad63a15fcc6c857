#include "db/storage/index_file.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "db/storage/column_type.h"
#include "db/storage/engine_error.h"
#include "platform/locale.h"

namespace downsql::storage {

namespace {

constexpr char kPrimaryName[] = "Primary";
constexpr char kDefaultSignature[] = "TABULA_SIG";

const TFieldDef* FindColumn(int16_t number, const std::vector<TFieldDef>& columns) {
  if (number == kRecordIdColumn) return &RecordIdField();
  if (number == kRecordHashColumn) return &RecordHashField();
  for (const TFieldDef& def : columns)
    if (def.number == number) return &def;
  return nullptr;
}

}  // namespace

TIndexFile::TIndexFile(std::string table_name, std::string file_name, bool in_memory,
                       const EngineSettings& settings)
    : TBufferedFile(kIndexKind, std::move(table_name), std::move(file_name), in_memory),
      settings_(settings),
      definitions_(kIndexSlotCount) {
  SetBufferLimits(settings.max_table_index_buffer_size(), settings.max_table_index_buffer_count());
}

TIndexFile::~TIndexFile() = default;

void TIndexFile::Create(uint32_t page_size, std::optional<TIndexDefinition> primary) {
  Close();
  SetGeometry(kIndexDataStart, page_size);
  file().Create();
  header_ = TIndexHeader();
  header_.signature = settings_.signature_digest();
  definitions_.assign(kIndexSlotCount, TIndexDefinition());
  definitions_[0] = primary ? *primary : DefaultPrimaryIndex();
  definitions_[0].unique = true;
  definitions_[kTextIndexSlot] = DefaultTextIndex();
  header_.modified = true;
  WriteHeader(true);
  WriteDefinitions();
}

void TIndexFile::ReadHeader(TIndexHeader* header) {
  uint8_t raw[kIndexHeaderSize];
  file().Read(0, raw, sizeof raw);
  if (cipher_ != nullptr) cipher_->Decrypt(raw, sizeof raw);
  *header = DecodeIndexHeader(raw);
}

void TIndexFile::Open(uint32_t page_size, bool read_only, bool exclusive) {
  file().Open(read_only, exclusive);
  try {
    TIndexHeader header;
    ReadHeader(&header);
    if (header.version != kIndexFileVersion)
      throw ETabulaEngineError(header.version < 7 ? kErrWrongVersion : kErrInvalidFile,
                               {table_name()});
    if (header.signature != settings_.signature_digest() &&
        header.signature != base::Md5(kDefaultSignature))
      throw ETabulaEngineError(kErrInvalidFile, {table_name()});
    if (header.secondary_count > kMaxSecondaryIndexes)
      throw ETabulaEngineError(kErrHeaderCorrupt, {table_name()});
    header_ = header;
    header_.modified = false;
    SetGeometry(kIndexDataStart, page_size);
    Discard();
    ReadDefinitions();
  } catch (...) {
    file().Close();
    throw;
  }
}

void TIndexFile::Close() {
  Discard();
  pinned_.clear();
  if (file().is_open()) file().Close();
}

void TIndexFile::ReadDefinitions() {
  std::vector<uint8_t> raw(kIndexDefinitionAreaSize);
  file().Read(kIndexHeaderSize, raw.data(), raw.size());
  if (cipher_ != nullptr) cipher_->Decrypt(raw.data(), raw.size());
  for (uint32_t slot = 0; slot < kIndexSlotCount; ++slot)
    definitions_[slot] = DecodeIndexDefinition(&raw[slot * kIndexDefinitionSize]);
  definitions_modified_ = false;
}

void TIndexFile::WriteDefinitions() {
  std::vector<uint8_t> raw(kIndexDefinitionAreaSize);
  for (uint32_t slot = 0; slot < kIndexSlotCount; ++slot)
    EncodeIndexDefinition(definitions_[slot], &raw[slot * kIndexDefinitionSize]);
  if (cipher_ != nullptr) cipher_->Encrypt(raw.data(), raw.size());
  file().Write(kIndexHeaderSize, raw.data(), raw.size());
  definitions_modified_ = false;
}

bool TIndexFile::WriteHeader(bool force) {
  if (!force && !header_.modified) return false;
  ++header_.update_count;
  uint8_t raw[kIndexHeaderSize];
  EncodeIndexHeader(header_, raw);
  if (cipher_ != nullptr) cipher_->Encrypt(raw, sizeof raw);
  file().Write(0, raw, sizeof raw);
  header_.modified = false;
  // Added or dropped indexes go out with the header that counts them (an
  // exclusive table writes only headers when it closes).
  if (definitions_modified_) WriteDefinitions();
  return true;
}

bool TIndexFile::ReReadHeader() {
  TIndexHeader header;
  ReadHeader(&header);
  const bool changed = header.update_count != header_.update_count;
  header_ = header;
  header_.modified = false;
  // Another session may have added or dropped an index.
  if (changed) ReadDefinitions();
  return changed;
}

bool TIndexFile::Flush(bool flush_os) {
  bool wrote = WriteModified(false);
  if (wrote) header_.modified = true;
  wrote = WriteHeader() || wrote;
  if (definitions_modified_) {
    WriteDefinitions();
    wrote = true;
  }
  if (wrote && flush_os) file().Flush();
  return wrote;
}

void TIndexFile::Empty() {
  Discard();
  pinned_.clear();
  header_.free_head = 0;
  header_.next_page = 1;
  header_.roots.fill(0);
  header_.second_roots.fill(0);
  header_.modified = true;
  file().Truncate(kIndexDataStart);
  WriteHeader(true);
}

void TIndexFile::set_free_head(uint32_t page) {
  header_.free_head = page;
  MarkHeaderModified();
}

void TIndexFile::SetRoot(uint32_t slot, uint32_t page) {
  header_.roots.at(slot) = page;
  MarkHeaderModified();
}

TIndexLayout TIndexFile::layout(uint32_t slot) const {
  const TIndexDefinition& def = definition(slot);
  TIndexLayout l;
  l.page_size = page_size();
  l.key_length = def.key_length;
  l.unique = def.unique;
  l.compression = def.compression & 3;
  l.key_statistics = !def.no_key_statistics;
  return l;
}

TKeyComparator TIndexFile::Comparator(uint32_t slot, const std::vector<TFieldDef>& columns,
                                      uint32_t locale) const {
  const TIndexDefinition& def = definition(slot);
  std::vector<TIndexKeyField> fields;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const TFieldDef* column = FindColumn(def.columns[i], columns);
    if (column == nullptr) RaiseCorrupt();
    fields.push_back(KeyFieldFor(*column, i < def.descending_of.size() && def.descending_of[i]));
  }
  TKeyComparator cmp(std::move(fields), def.unique, def.case_insensitive, locale);
  if (cmp.key_length() != def.key_length) RaiseCorrupt();
  return cmp;
}

uint16_t TIndexFile::CheckKeyColumns(const TIndexDefinition& def, const std::string& index_name,
                                     const std::vector<TFieldDef>& columns) const {
  uint32_t part = 0;
  for (int16_t number : def.columns) {
    const TFieldDef* column = FindColumn(number, columns);
    if (column == nullptr)
      throw ETabulaEngineError(kErrInvalidIndexField,
                               {std::to_string(number), index_name, table_name()});
    const uint16_t size = KeyFormSize(column->type, column->subtype, column->stored_size);
    if (column->type == kTypeBlob || size == 0)
      throw ETabulaEngineError(kErrInvalidIndexField, {column->name, index_name, table_name()});
    part += 1u + size;
  }
  if (part < 1 || part > kMaxKeyPart || part > (page_size() - kPageHeaderSize) / 3)
    throw ETabulaEngineError(kErrInvalidKeySize, {index_name, table_name()});
  return static_cast<uint16_t>(part + (def.unique ? 0 : 4));
}

uint32_t TIndexFile::AddIndex(TIndexDefinition def, const std::vector<TFieldDef>& columns) {
  if (header_.secondary_count >= kMaxSecondaryIndexes || def.columns.empty() ||
      def.columns.size() > kMaxIndexColumns)
    throw ETabulaEngineError(kErrIndexLimits, {table_name()});
  if (def.name.empty()) throw ETabulaEngineError(kErrIndexNameMissing, {table_name()});
  if (!IsValidFirstNameChar(def.name[0]))
    throw ETabulaEngineError(kErrInvalidIndexName, {def.name, table_name()});
  for (uint32_t slot = 1; slot <= header_.secondary_count; ++slot)
    if (platform::SameTextNoCase(definitions_[slot].name, def.name))
      throw ETabulaEngineError(kErrIndexExists, {def.name, table_name()});
  def.descending_of.resize(def.columns.size(), 0);
  def.key_length = CheckKeyColumns(def, def.name, columns);
  def.descending = std::any_of(def.descending_of.begin(), def.descending_of.end(),
                               [](uint8_t d) { return d != 0; });
  const uint32_t slot = ++header_.secondary_count;
  definitions_[slot] = std::move(def);
  header_.roots[slot] = 0;
  definitions_modified_ = true;
  MarkHeaderModified();
  return slot;
}

void TIndexFile::ReplacePrimary(TIndexDefinition def, const std::vector<TFieldDef>& columns) {
  if (!IsDefaultPrimary(definitions_[0]))
    throw ETabulaEngineError(kErrPrimaryIndexExists, {table_name()});
  if (def.columns.empty() || def.columns.size() > kMaxIndexColumns)
    throw ETabulaEngineError(kErrIndexLimits, {table_name()});
  def.name.clear();
  def.unique = true;
  def.descending_of.resize(def.columns.size(), 0);
  def.key_length = CheckKeyColumns(def, kPrimaryName, columns);
  def.descending = std::any_of(def.descending_of.begin(), def.descending_of.end(),
                               [](uint8_t d) { return d != 0; });
  definitions_[0] = std::move(def);
  definitions_modified_ = true;
}

void TIndexFile::DeleteIndex(uint32_t slot) {
  if (slot == 0 || slot > header_.secondary_count) RaiseCorrupt();
  // Free the tree's pages: walk the levels by their leftmost pages and
  // links, so no recursion over branch entries is needed.
  const TIndexLayout l = layout(slot);
  {
    TPageScope scope(*this);
    std::vector<uint32_t> level_heads;
    for (uint32_t number = header_.roots[slot], depth = 0; number != 0; ++depth) {
      if (depth >= TIndexTree::kMaxLevels) RaiseCorrupt();
      level_heads.push_back(number);
      TPage& page = Page(number);
      if (page.is_leaf() || page.count() == 0) break;
      number = page.pointer(l, 0);
    }
    std::set<uint32_t> freed;
    for (uint32_t head : level_heads) {
      for (uint32_t number = head; number != 0;) {
        if (!freed.insert(number).second) RaiseCorrupt();
        TPage& page = Page(number);
        const uint32_t next = page.next();
        FreePage(page);
        number = next;
      }
    }
  }
  for (uint32_t s = slot; s < header_.secondary_count; ++s) {
    definitions_[s] = definitions_[s + 1];
    header_.roots[s] = header_.roots[s + 1];
  }
  definitions_[header_.secondary_count] = TIndexDefinition();
  header_.roots[header_.secondary_count] = 0;
  --header_.secondary_count;
  definitions_modified_ = true;
  MarkHeaderModified();
}

TPage& TIndexFile::Page(uint32_t number) {
  if (number == 0 || number > block_count()) RaiseCorrupt();
  TPage* page = static_cast<TPage*>(GetBlock(number));
  pinned_.push_back(page);
  return *page;
}

TPage& TIndexFile::NewPage() {
  if (header_.free_head != 0) {
    TPage& page = Page(header_.free_head);
    set_free_head(page.next());
    page.Clear();
    page.modified = true;
    return page;
  }
  TPage* page = static_cast<TPage*>(GetBlock(block_count() + 1));
  pinned_.push_back(page);
  return *page;
}

void TIndexFile::FreePage(TPage& page) {
  page.Clear();
  page.set_next(header_.free_head);
  page.modified = true;
  set_free_head(page.block);
}

void TIndexFile::ReleasePins(size_t keep) {
  if (pinned_.size() > keep) ++pin_releases_;
  while (pinned_.size() > keep) {
    Unpin(pinned_.back());
    pinned_.pop_back();
  }
}

void TIndexFile::AddBlock() {
  ++header_.next_page;
  MarkHeaderModified();
}

void TIndexFile::CheckCapacity() {
  if (BlockOffset(block_count() + 1) + block_size() > settings_.max_file_size())
    throw ETabulaEngineError(kErrTableFull, {table_name()});
}

void TIndexFile::EncodeBlock(const TBuffer& buffer, uint8_t* out) const {
  std::memcpy(out, buffer.data.data(), block_size());
  if (cipher_ != nullptr) cipher_->Encrypt(out, block_size());
}

void TIndexFile::DecodeBlock(const uint8_t* in, TBuffer& buffer) const {
  std::memcpy(buffer.data.data(), in, block_size());
  if (cipher_ != nullptr) cipher_->Decrypt(buffer.data.data(), block_size());
}

std::unique_ptr<TBufferSlab> TIndexFile::NewSlab(size_t count) const {
  return std::make_unique<TBufferSlabOf<TPage>>(count, block_size());
}

TIndexFile::TTreeAccess::TTreeAccess(TIndexFile& file, uint32_t slot, const TKeyComparator& compare)
    : scope_(file), tree_(file, file.layout(slot), compare, slot) {}

TIndexFile::TTreeAccess::TTreeAccess(TIndexFile& file, uint32_t slot, const TIndexLayout& layout,
                                     const TKeyComparator& compare)
    : scope_(file), tree_(file, layout, compare, slot) {}

}  // namespace downsql::storage
