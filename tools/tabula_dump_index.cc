#include "tools/tabula_dump_index.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "base/byte_order.h"
#include "base/code_page.h"
#include "base/crypto.h"
#include "db/storage/blob_file.h"
#include "db/storage/column_type.h"
#include "db/storage/engine_error.h"
#include "db/storage/engine_file.h"
#include "db/storage/index_definition.h"
#include "db/storage/index_file.h"
#include "db/storage/index_tree.h"

namespace downsql::storage {
namespace {

std::string Hex(const uint8_t* p, size_t n) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", p[i]);
    s += buf;
  }
  return s;
}

void Field(size_t offset, const char* name, const std::string& value) {
  std::printf("  %5zu  %-26s %s\n", offset, name, value.c_str());
}

std::string SiblingPath(const std::string& data_path, const char* extension) {
  const size_t dot = data_path.rfind('.');
  const size_t slash = data_path.find_last_of("/\\");
  const bool has_extension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (has_extension ? data_path.substr(0, dot) : data_path) + extension;
}

// Reads a header (enciphered in encrypted tables) straight from the file.
std::vector<uint8_t> RawHeader(const std::string& path, const base::BlowfishCbc* cipher,
                               uint64_t* size) {
  TEngineFile file(path, false);
  file.Open(true);
  std::vector<uint8_t> header(512);
  file.Read(0, header.data(), header.size());
  *size = file.Size();
  if (cipher != nullptr) cipher->Decrypt(header.data(), header.size());
  return header;
}

const char* PageTypeName(uint8_t type) {
  switch (type) {
    case kPageRootBranch:
      return "root branch";
    case kPageBranch:
      return "branch";
    case kPageLeaf:
      return "leaf";
    case kPageRootLeaf:
      return "root leaf";
    case kPageRaw:
      return "raw";
    default:
      return "unknown";
  }
}

std::string ColumnName(int16_t number, const TDataFile& table) {
  const TFieldDef* f = table.FieldByNumber(number);
  return f != nullptr ? base::Cp1250ToUtf8(f->name) : "#" + std::to_string(number);
}

void DumpIndexHeader(const std::vector<uint8_t>& raw) {
  const TIndexHeader h = DecodeIndexHeader(raw.data());
  std::printf("Header (512 bytes)\n  offset  field                      value\n");
  Field(0, "update count", std::to_string(h.update_count));
  Field(8, "format version", std::to_string(h.version));
  const base::Md5Digest sig = base::Md5(kDefaultSignature);
  Field(9, "signature digest",
        Hex(h.signature.data(), 16) + (h.signature == sig ? " (TABULA_SIG)" : ""));
  Field(25, "free-page head", std::to_string(h.free_head));
  Field(29, "next page", std::to_string(h.next_page));
  Field(33, "secondary indexes", std::to_string(h.secondary_count));
  std::string roots, second;
  for (uint32_t i = 0; i < kIndexSlotCount; ++i) {
    if (h.roots[i] != 0) roots += " " + std::to_string(i) + ":" + std::to_string(h.roots[i]);
    if (h.second_roots[i] != 0)
      second += " " + std::to_string(i) + ":" + std::to_string(h.second_roots[i]);
  }
  Field(34, "roots (slot:page)", roots.empty() ? "(all 0)" : roots.substr(1));
  Field(162, "second roots", second.empty() ? "(all 0)" : second.substr(1));
  Field(290, "header modified", std::to_string(raw[290]));
}

void DumpDefinition(uint32_t slot, const TIndexDefinition& d, const TDataFile& table) {
  std::printf("  slot %2u  \"%s\" L=%u unique=%d nocase=%d desc=%d compression=%u stats=%d  (",
              slot, base::Cp1250ToUtf8(d.name).c_str(), d.key_length, d.unique ? 1 : 0,
              d.case_insensitive ? 1 : 0, d.descending ? 1 : 0, d.compression,
              d.no_key_statistics ? 0 : 1);
  for (size_t i = 0; i < d.columns.size(); ++i)
    std::printf("%s%s%s", i ? ", " : "", ColumnName(d.columns[i], table).c_str(),
                i < d.descending_of.size() && d.descending_of[i] ? " DESC" : "");
  std::printf(")\n");
}

// Every page of a tree, level by level along the first pages' links.
void DumpTree(TIndexFile& file, uint32_t slot, const TDataFile& table) {
  const TIndexLayout layout = file.layout(slot);
  std::printf("\nIndex slot %u, root page %u\n", slot, file.Root(slot));
  std::set<uint32_t> seen;
  uint32_t level_head = file.Root(slot);
  for (uint32_t depth = 0; level_head != 0; ++depth) {
    if (depth >= TIndexTree::kMaxLevels)
      throw ETabulaEngineError(kErrIndexPageCorrupt, {table.table_name()});
    uint32_t next_level = 0;
    for (uint32_t n = level_head; n != 0;) {
      if (!seen.insert(n).second) {
        std::printf("  page %u reached twice (broken links)\n", n);
        throw ETabulaEngineError(kErrIndexPageCorrupt, {table.table_name()});
      }
      TIndexFile::TPageScope scope(file);
      TPage& page = file.Page(n);
      std::printf("  level %u page %u: %s, %u entries, prev %u, next %u, occupied %u\n", depth, n,
                  PageTypeName(page.type()), page.count(), page.prev(), page.next(),
                  page.occupied());
      std::vector<TPageEntry> entries;
      if (!page.Decode(layout, &entries)) {
        std::printf("    (entries do not decode)\n");
        throw ETabulaEngineError(kErrIndexPageCorrupt, {table.table_name()});
      }
      for (const TPageEntry& e : entries) {
        const uint8_t* key = reinterpret_cast<const uint8_t*>(e.key.data());
        if (page.is_leaf())
          std::printf("    %s -> slot %u\n", Hex(key, e.key.size()).c_str(), e.pointer);
        else
          std::printf("    %s -> page %u (%u keys)\n", Hex(key, e.key.size()).c_str(), e.pointer,
                      e.count);
      }
      if (next_level == 0 && !page.is_leaf() && !entries.empty()) next_level = entries[0].pointer;
      n = page.next();
    }
    level_head = next_level;
  }
  TKeyComparator cmp = file.Comparator(slot, table.fields(), table.locale());
  auto tree = file.Tree(slot, cmp);
  std::set<uint32_t> pages;
  const std::string problem = tree->Check(&pages);
  std::printf("  %u keys; check: %s\n", tree->Total(), problem.empty() ? "sound" : problem.c_str());
}

void DumpIndexFile(const std::string& path, TDataFile& table, const base::BlowfishCbc* cipher,
                   const EngineSettings& settings) {
  uint64_t size = 0;
  const std::vector<uint8_t> raw = RawHeader(path, cipher, &size);
  std::printf("\nIndex file %s, %llu bytes\n", path.c_str(), (unsigned long long)size);
  DumpIndexHeader(raw);

  TIndexFile file(table.table_name(), path, false, settings);
  file.set_cipher(cipher);
  file.Open(table.index_page_size(), true);
  std::printf("\nDefinitions\n");
  for (uint32_t slot = 0; slot < kIndexSlotCount; ++slot)
    if (slot <= file.secondary_count() || slot == kTextIndexSlot)
      DumpDefinition(slot, file.definition(slot), table);
  for (uint32_t slot = 0; slot <= file.secondary_count(); ++slot)
    if (file.Root(slot) != 0) DumpTree(file, slot, table);

  std::printf("\nFree-page chain:");
  std::set<uint32_t> seen;
  for (uint32_t n = file.free_head(); n != 0;) {
    std::printf(" %u ->", n);
    if (n >= file.next_page() || !seen.insert(n).second) {
      std::printf(" (broken)\n");
      throw ETabulaEngineError(kErrIndexPageCorrupt, {table.table_name()});
    }
    TIndexFile::TPageScope scope(file);
    n = file.Page(n).next();
  }
  std::printf(" end\n");
}

void DumpBlobFile(const std::string& path, TDataFile& table, const base::BlowfishCbc* cipher,
                  const EngineSettings& settings) {
  uint64_t size = 0;
  const std::vector<uint8_t> raw = RawHeader(path, cipher, &size);
  std::printf("\nBLOB file %s, %llu bytes\n", path.c_str(), (unsigned long long)size);
  std::printf("Header (512 bytes)\n  offset  field                      value\n");
  Field(0, "update count", std::to_string(int32_t(base::GetLE32(&raw[0]))));
  Field(8, "format version", std::to_string(raw[8]));
  Field(9, "signature digest", Hex(&raw[9], 16));
  Field(25, "free-block head", std::to_string(base::GetLE32(&raw[25])));
  Field(29, "next block", std::to_string(int32_t(base::GetLE32(&raw[29]))));
  Field(33, "header modified", std::to_string(raw[33]));

  TBlobFile file(table.table_name(), path, false, settings);
  file.set_cipher(cipher);
  file.Open(table.blob_block_size(), true);
  auto block = [&](uint32_t n) {
    auto copy = std::make_unique<TBlock>(file.block_size());
    TBuffer* b = file.GetBlock(n);
    std::copy(b->data.begin(), b->data.end(), copy->data.begin());
    file.Unpin(b);
    return copy;
  };

  std::printf("\nChains named by the records\n");
  for (uint32_t slot = 1; slot < table.next_slot(); ++slot) {
    TBuffer* r = table.GetBlock(slot);
    std::vector<uint8_t> record(r->data.begin(), r->data.end());
    table.Unpin(r);
    if (record[0] != 0) continue;
    for (const TFieldDef& f : table.fields()) {
      if (f.type != kTypeBlob || f.computed) continue;
      const uint32_t first = base::GetLE32(&record[f.offset + 1]);
      const uint32_t version = base::GetLE32(&record[f.offset + 5]);
      if (first == 0) continue;
      std::printf("  slot %u %s: version %u, blocks", slot, base::Cp1250ToUtf8(f.name).c_str(),
                  version);
      std::set<uint32_t> seen;
      uint32_t total = 0;
      for (uint32_t n = first; n != 0;) {
        if (n >= file.next_block() || !seen.insert(n).second) {
          std::printf(" %u (broken)\n", n);
          throw ETabulaEngineError(kErrBlobBuffersCorrupt, {table.table_name()});
        }
        const std::unique_ptr<TBlock> held = block(n);
        const TBlock& b = *held;
        if (n == first) total = b.total();
        std::printf(" %u[%u bytes, v%u]", n, b.used(), b.version());
        n = static_cast<uint32_t>(b.next());
      }
      std::printf(", stored length %u\n", total);
    }
  }

  std::printf("\nFree-block chain:");
  std::set<uint32_t> seen;
  for (uint32_t n = file.free_head(); n != 0;) {
    std::printf(" %u ->", n);
    if (n >= file.next_block() || !seen.insert(n).second) {
      std::printf(" (broken)\n");
      throw ETabulaEngineError(kErrBlobBuffersCorrupt, {table.table_name()});
    }
    n = static_cast<uint32_t>(block(n)->next());
  }
  std::printf(" end\n");
}

}  // namespace

void DumpIndexAndBlobFiles(const std::string& data_path, TDataFile& table,
                           const std::string& password, const EngineSettings& settings) {
  std::unique_ptr<base::BlowfishCbc> cipher;
  if (table.encrypted()) {
    const base::Md5Digest key = base::Md5(password);
    cipher = std::make_unique<base::BlowfishCbc>(key.data(), key.size());
  }
  const std::string index_path = SiblingPath(data_path, ".idx");
  if (TEngineFile(index_path, false).Exists())
    DumpIndexFile(index_path, table, cipher.get(), settings);
  else
    std::printf("\nIndex file %s: missing\n", index_path.c_str());
  if (table.blob_column_count() == 0) return;
  const std::string blob_path = SiblingPath(data_path, ".blb");
  if (TEngineFile(blob_path, false).Exists())
    DumpBlobFile(blob_path, table, cipher.get(), settings);
  else
    std::printf("\nBLOB file %s: missing\n", blob_path.c_str());
}

}  // namespace downsql::storage
