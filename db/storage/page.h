// TPage: one page of an index file in memory, in its stored byte form.
//
// Page layout (P bytes, P = the table's index page size):
//
//   OFFSET  SIZE  MEANING
//   0       1     page type: 0 root branch, 1 branch, 2 leaf, 3 root leaf
//                 (the root of a one-level tree), 4 raw page (text index)
//   1       2     number of entries
//   3       4     previous page on the same level (0 = none)
//   7       4     next page on the same level (0 = none); in a free page,
//                 the next free page
//   11      2     bytes occupied by the entries of a compressed leaf
//                 (0 otherwise)
//   13      ...   entries
//
// Entries (L = key length):
//   branch               key (L), child page (i32), keys in the child's
//                        subtree (i32; absent without key statistics)
//   leaf, compression 0  key (L), record slot (i32)
//   leaf, compression 1  d, key bytes d..L-1, slot            (d = bytes shared
//                        with the previous key)
//   leaf, compression 2  t, key bytes 0..L-t-1, slot          (t = trailing
//                        zero bytes left out)
//   leaf, compression 3  d, t, key bytes d..L-t-1, slot
// For a non-unique index the last 4 key bytes (the RecordID) are never left
// out as trailing zeros: t counts the zero bytes just before them. d and t
// are at most 254 each. Branch pages and uncompressed leaves have fixed-size
// entries and are worked on in place; compressed leaves are decoded into
// TPageEntry lists and encoded back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/storage/buffered_file.h"

namespace downsql::storage {

inline constexpr uint32_t kPageHeaderSize = 13;

enum PageType : uint8_t {
  kPageRootBranch = 0,
  kPageBranch = 1,
  kPageLeaf = 2,
  kPageRootLeaf = 3,
  kPageRaw = 4,
};

inline bool IsLeafType(uint8_t type) { return type == kPageLeaf || type == kPageRootLeaf; }

// What the page codec needs to know about an index.
struct TIndexLayout {
  uint32_t page_size = 0;
  uint16_t key_length = 0;
  bool unique = true;
  uint8_t compression = 0;  // 0 none, 1 duplicate bytes, 2 trailing bytes, 3 both
  bool key_statistics = true;

  uint32_t branch_entry_size() const { return key_length + (key_statistics ? 8u : 4u); }
  uint32_t leaf_entry_size() const { return key_length + 4u; }
  uint32_t branch_capacity() const { return (page_size - kPageHeaderSize) / branch_entry_size(); }
  uint32_t leaf_capacity() const { return (page_size - kPageHeaderSize) / leaf_entry_size(); }
  uint32_t entry_space() const { return page_size - kPageHeaderSize; }
  bool compressed_leaves() const { return compression != 0; }
};

// A decoded entry: a full key and the page's pointer (child page in a branch,
// record slot in a leaf) with the child's key count (branches only).
struct TPageEntry {
  std::string key;
  uint32_t pointer = 0;
  uint32_t count = 0;
};

// Bytes a compressed leaf entry occupies given the key before it (nullptr
// for the first entry of a page).
uint32_t CompressedEntrySize(const TIndexLayout& layout, const uint8_t* previous,
                             const uint8_t* key);

// A page buffer of the index file's pool (block = page number).
class TPage : public TBuffer {
 public:
  TPage() = default;  // a page of the index file's pool
  explicit TPage(uint32_t page_size) : TBuffer(page_size) {}
  TPage(uint32_t number, uint32_t page_size) : TBuffer(page_size) { block = number; }

  uint32_t number() const { return block; }
  uint8_t* bytes() { return data.data(); }
  const uint8_t* bytes() const { return data.data(); }
  uint32_t size() const { return static_cast<uint32_t>(data.size()); }
  // Zeros the whole page.
  void Clear();

  uint8_t type() const { return data[0]; }
  void set_type(uint8_t t);
  uint16_t count() const;
  void set_count(uint16_t n);
  uint32_t prev() const;
  void set_prev(uint32_t p);
  uint32_t next() const;
  void set_next(uint32_t p);
  uint16_t occupied() const;
  void set_occupied(uint16_t n);
  bool is_leaf() const { return IsLeafType(type()); }

  // Whether entries are fixed-size (branches and uncompressed leaves).
  bool fixed(const TIndexLayout& layout) const { return !is_leaf() || !layout.compressed_leaves(); }
  uint32_t entry_size(const TIndexLayout& layout) const {
    return is_leaf() ? layout.leaf_entry_size() : layout.branch_entry_size();
  }
  uint32_t capacity(const TIndexLayout& layout) const {
    return is_leaf() ? layout.leaf_capacity() : layout.branch_capacity();
  }

  // Fixed-size entries, in place. i < count().
  uint8_t* entry(const TIndexLayout& layout, uint32_t i) {
    return data.data() + kPageHeaderSize + i * entry_size(layout);
  }
  const uint8_t* entry(const TIndexLayout& layout, uint32_t i) const {
    return data.data() + kPageHeaderSize + i * entry_size(layout);
  }
  uint32_t pointer(const TIndexLayout& layout, uint32_t i) const;
  void set_pointer(const TIndexLayout& layout, uint32_t i, uint32_t p);
  uint32_t sub_count(const TIndexLayout& layout, uint32_t i) const;
  void set_sub_count(const TIndexLayout& layout, uint32_t i, uint32_t n);
  // Opens a gap at i (count() < capacity) and fills it.
  void InsertFixed(const TIndexLayout& layout, uint32_t i, const uint8_t* key, uint32_t pointer,
                   uint32_t count);
  void RemoveFixed(const TIndexLayout& layout, uint32_t i);

  // Every entry, decoded (any page kind). Returns false when the entries do
  // not fit the page or a compressed entry is malformed.
  bool Decode(const TIndexLayout& layout, std::vector<TPageEntry>* entries) const;
  // Replaces the entries (type, links kept); the caller made sure they fit
  // (EncodedSize() <= entry_space()).
  void Encode(const TIndexLayout& layout, const std::vector<TPageEntry>& entries);
  // Bytes the entries take on a page of this kind.
  static uint32_t EncodedSize(const TIndexLayout& layout, bool leaf,
                              const std::vector<TPageEntry>& entries);
};

}  // namespace downsql::storage
