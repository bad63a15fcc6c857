// TIndexFile: a table's index file (".idx"): the header, the 32 index
// definition slots and the pages of every index's B+-tree, read and written
// through the index buffer pool.
//
//   FILE OFFSET  SIZE              CONTENTS
//   0            512               header (index_definition.h)
//   512          24576 (32 x 768)  index definitions, slots 0..31
//   25088        P x M             pages 1..M (P = the table's index page size)
//
// In an encrypted table the header, the definition area and every page are
// each enciphered as one buffer with the table's cipher.
//
// Tree operations go through a TIndexTree on this file (Tree()); the pages a
// tree operation touches stay pinned until the TTreeAccess that made it is
// gone, so the tree's page references stay valid while it works.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/crypto.h"
#include "db/storage/buffered_file.h"
#include "db/storage/column_def.h"
#include "db/storage/engine_settings.h"
#include "db/storage/index_definition.h"
#include "db/storage/index_key.h"
#include "db/storage/index_tree.h"
#include "db/storage/page.h"

namespace downsql::storage {

class TIndexFile : public TBufferedFile, public TPageSource {
 public:
  // Largest key part (sum of 1 + key form size over the key columns).
  static constexpr uint32_t kMaxKeyPart = 4106;

  TIndexFile(std::string table_name, std::string file_name, bool in_memory,
             const EngineSettings& settings);
  ~TIndexFile() override;

  // The table's cipher for encrypted tables (nullptr: plain). Not owned.
  void set_cipher(const base::BlowfishCbc* cipher) { cipher_ = cipher; }

  // Creates the file: header (version 6, the engine's signature digest, next
  // page 1, every root 0), slot 0 = primary (the default RecordID index when
  // none is given), slot 31 = the text-index defaults. The new file is
  // exactly 25088 bytes.
  void Create(uint32_t page_size, std::optional<TIndexDefinition> primary = std::nullopt);
  // Opens and checks the header: a version other than 6 is 12035 (below 7)
  // or 12036; a foreign signature is 12036; more than 30 secondary indexes
  // is 8961. Then reads the definitions.
  void Open(uint32_t page_size, bool read_only = false, bool exclusive = false);
  void Close();
  // Drops every index's pages: roots 0, free chain empty, next page 1, file
  // cut to 25088 bytes; definitions kept.
  void Empty();

  // Writes the header when forced or modified (update count + 1); returns
  // whether it wrote.
  bool WriteHeader(bool force = false);
  // Reads the header again, and the definitions when it changed; true when
  // its update count differs from the one held (another session wrote).
  bool ReReadHeader();
  // Writes modified pages, then the header and the definitions when they
  // changed. Returns whether anything was written.
  bool Flush(bool flush_os = false);

  const TIndexHeader& header() const { return header_; }
  int32_t update_count() const { return header_.update_count; }
  uint32_t free_head() const { return header_.free_head; }
  void set_free_head(uint32_t page);
  uint32_t next_page() const { return static_cast<uint32_t>(header_.next_page); }
  uint32_t page_size() const { return block_size(); }
  uint32_t secondary_count() const { return header_.secondary_count; }
  // The header waits to be written.
  bool header_pending() const { return header_.modified; }

  const TIndexDefinition& definition(uint32_t slot) const { return definitions_.at(slot); }
  // The page layout of a slot's index.
  TIndexLayout layout(uint32_t slot) const;
  // The comparator of a slot's index for a table's columns and locale.
  TKeyComparator Comparator(uint32_t slot, const std::vector<TFieldDef>& columns,
                            uint32_t locale) const;

  // Adds a secondary index after checking it: at most 30 secondary indexes
  // and 1..128 key columns (9487), a name (10010) starting with a letter,
  // '_' or a byte 128..254 (10022), not already used ignoring case (10027),
  // no BLOB key column (12292), key part 1..4106 and at most (P - 13) div 3
  // (10026). Fills in key length and descending flag; returns the slot.
  uint32_t AddIndex(TIndexDefinition def, const std::vector<TFieldDef>& columns);
  // Replaces the default primary index by a declared one (9993 when one is
  // already declared; column and key-size checks as above, named
  // "Primary").
  void ReplacePrimary(TIndexDefinition def, const std::vector<TFieldDef>& columns);
  // Deletes a secondary index: its pages go on the free chain, the slots
  // above it move down, the last one is cleared, the count drops.
  void DeleteIndex(uint32_t slot);

  // TPageSource.
  // Pages stay where they are while pinned: the epoch changes when pins are
  // let go or every buffer is dropped.
  uint64_t epoch() const override { return discards() + pin_releases_; }
  TPage& Page(uint32_t number) override;
  TPage& NewPage() override;
  void FreePage(TPage& page) override;
  uint32_t Root(uint32_t slot) const override { return header_.roots.at(slot); }
  void SetRoot(uint32_t slot, uint32_t page) override;
  [[noreturn]] void Corrupt() const override { RaiseCorrupt(); }

  // Pages fetched through Page()/NewPage() while this object lives stay
  // pinned until it goes.
  class TPageScope {
   public:
    explicit TPageScope(TIndexFile& file) : file_(file), pins_before_(file.pinned_.size()) {}
    ~TPageScope() { file_.ReleasePins(pins_before_); }
    TPageScope(const TPageScope&) = delete;
    TPageScope& operator=(const TPageScope&) = delete;

   private:
    TIndexFile& file_;
    size_t pins_before_;
  };

  // A tree of one slot whose pages stay pinned while this object lives.
  class TTreeAccess {
   public:
    TTreeAccess(TIndexFile& file, uint32_t slot, const TKeyComparator& compare);
    // With the slot's layout known already.
    TTreeAccess(TIndexFile& file, uint32_t slot, const TIndexLayout& layout,
                const TKeyComparator& compare);
    TTreeAccess(const TTreeAccess&) = delete;
    TTreeAccess& operator=(const TTreeAccess&) = delete;
    TIndexTree* operator->() { return &tree_; }
    TIndexTree& operator*() { return tree_; }

   private:
    TPageScope scope_;
    TIndexTree tree_;
  };
  TTreeAccess Tree(uint32_t slot, const TKeyComparator& compare) {
    return TTreeAccess(*this, slot, compare);
  }
  TTreeAccess Tree(uint32_t slot, const TIndexLayout& layout, const TKeyComparator& compare) {
    return TTreeAccess(*this, slot, layout, compare);
  }

  uint32_t block_count() const override { return static_cast<uint32_t>(header_.next_page - 1); }

 protected:
  void AddBlock() override;
  void CheckCapacity() override;
  void EncodeBlock(const TBuffer& buffer, uint8_t* out) const override;
  void DecodeBlock(const uint8_t* in, TBuffer& buffer) const override;
  std::unique_ptr<TBufferSlab> NewSlab(size_t count) const override;

 private:
  void ReadHeader(TIndexHeader* header);
  void ReadDefinitions();
  void WriteDefinitions();
  void ReleasePins(size_t keep);
  // The pinned pages went with the buffers: a scope still open lets go of
  // nothing.
  void OnDiscarded() override { pinned_.clear(); }
  uint16_t CheckKeyColumns(const TIndexDefinition& def, const std::string& index_name,
                           const std::vector<TFieldDef>& columns) const;
  void MarkHeaderModified() { header_.modified = true; }

  const EngineSettings& settings_;
  const base::BlowfishCbc* cipher_ = nullptr;
  TIndexHeader header_;
  std::vector<TIndexDefinition> definitions_;
  bool definitions_modified_ = false;
  std::vector<TPage*> pinned_;
  uint64_t pin_releases_ = 0;
};

}  // namespace downsql::storage
