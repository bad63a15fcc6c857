// The B+-tree of one index: search, insert with page splits, delete with
// freeing and merging of pages, key statistics and a structural check.
//
// The tree works on pages handed out by a TPageSource (the index file, or a
// memory store in tests). Keys in the tree are distinct (a non-unique index
// makes them so with its RecordID suffix).
//
// Write strictly, read tolerantly: every branch entry this code writes holds
// exactly the lowest key of its child's subtree, and the counts of the keys
// below it. Searching only relies on the weaker rule that keys of a child
// are not below its branch key (the first child excepted) and are below the
// next branch key, so trees whose branch keys are stale still read right: a
// search descends into the last entry whose key is not greater than the
// sought key (the first entry when all are greater), and a lower bound that
// falls off the end of that leaf continues on the next leaf.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "db/storage/index_key.h"
#include "db/storage/page.h"

namespace downsql::storage {

// Where pages come from. References returned stay valid until the source's
// epoch() changes (it lets go of pages or drops them all).
class TPageSource {
 public:
  virtual ~TPageSource() = default;
  virtual uint64_t epoch() const { return 0; }
  // Page n; raises 8965 for 0 or a page beyond the file.
  virtual TPage& Page(uint32_t number) = 0;
  // A cleared page: the head of the free chain, else a new page at the end
  // (9479 when the file would grow beyond the engine's maximum).
  virtual TPage& NewPage() = 0;
  // Clears the page and puts it at the head of the free chain.
  virtual void FreePage(TPage& page) = 0;
  virtual uint32_t Root(uint32_t slot) const = 0;
  virtual void SetRoot(uint32_t slot, uint32_t page) = 0;
  // Raises 8965 (index page buffers corrupt) for this file.
  [[noreturn]] virtual void Corrupt() const = 0;
};

// A leaf entry position: leaf page and entry number. page 0 = none (before
// the first or after the last key).
struct TIndexPosition {
  uint32_t page = 0;
  uint32_t entry = 0;
  bool valid() const { return page != 0; }
  bool operator==(const TIndexPosition&) const = default;
};

class TIndexTree {
 public:
  static constexpr uint32_t kMaxLevels = 64;

  // One level of a descent: a branch page and the entry taken in it.
  struct Step {
    uint32_t page;
    uint32_t index;
  };
  // Where a key that Find did not find belongs: the branch entries taken
  // from the root and the leaf reached. Valid for an Insert of that same key
  // as long as this tree has not changed in between.
  struct TInsertSpot {
    uint32_t root = 0;
    uint32_t leaf = 0;
    std::vector<Step> path;
    // Set when the key goes after the last key of the tree into the last
    // leaf, which has room: pages holds the path's pages and the leaf as
    // fetched in the source's epoch.
    bool at_end = false;
    uint64_t epoch = 0;
    std::vector<TPage*> pages;
  };

  TIndexTree(TPageSource& source, const TIndexLayout& layout, const TKeyComparator& compare,
             uint32_t slot);

  // Inserts key (layout.key_length bytes) pointing at a record slot. Returns
  // false, changing nothing, when the key is already present.
  bool Insert(const uint8_t* key, uint32_t record_slot);
  // The same, starting from the spot a Find of key left (one descent for
  // the duplicate check and the insert). The spot is used up.
  bool Insert(const uint8_t* key, uint32_t record_slot, TInsertSpot& spot);
  // Removes key; false when it is not present.
  bool Delete(const uint8_t* key);

  // The first entry whose key is not less than key (invalid at the end).
  TIndexPosition Seek(const uint8_t* key);
  // The record slot of key, 0 when it is not present.
  uint32_t Find(const uint8_t* key);
  // The same; when the key is missing, spot receives where it belongs.
  uint32_t Find(const uint8_t* key, TInsertSpot* spot);
  // Whether key is greater than every key of the tree and the last leaf has
  // room for it (so it is missing, and its insert changes only that leaf
  // and the counts above it). Follows the last entries from the root, and
  // stops at the first branch whose last key is greater than key; fills
  // spot for an Insert of key when it returns true.
  bool AtEnd(const uint8_t* key, TInsertSpot* spot);
  TIndexPosition First();
  TIndexPosition Last();
  TIndexPosition Next(TIndexPosition pos);
  TIndexPosition Prior(TIndexPosition pos);
  // Key and record slot at a valid position.
  void Read(TIndexPosition pos, std::string* key, uint32_t* record_slot);
  // Every entry of a leaf: keys (key_length bytes each, one after the
  // other) and record slots.
  void ReadLeaf(uint32_t page, std::string* keys, std::vector<uint32_t>* record_slots);

  // Number of keys in the tree.
  uint32_t Total();
  // Number of keys less than key.
  uint32_t CountBefore(const uint8_t* key);

  // Checks the whole tree: page types, entry order, branch keys equal to the
  // lowest key below them, subtree counts, leaf depth, links on every level
  // both ways, fitting entries. Returns "" when sound, else what is wrong.
  // The tree's pages are added to pages.
  std::string Check(std::set<uint32_t>* pages);

 private:
  struct Piece {
    uint32_t page;
    std::string first_key;
    uint32_t count;
  };

  // A page of the tree; 8965 for a type other than 0..3 or more fixed-size
  // entries than fit.
  TPage& Fetch(uint32_t number);
  uint32_t Descend(const uint8_t* key, std::vector<Step>* path);
  uint32_t BranchIndex(const TPage& page, const uint8_t* key) const;
  // Lower bound of key in a leaf; entries is filled for compressed leaves.
  uint32_t LeafLowerBound(const TPage& page, const uint8_t* key,
                          std::vector<TPageEntry>* entries) const;
  void Decode(const TPage& page, std::vector<TPageEntry>* entries) const;
  // Inserts key into leaf (reached through path) unless it is there.
  bool InsertIntoLeaf(const uint8_t* key, uint32_t record_slot, uint32_t leaf_number,
                      std::vector<Step>& path);
  std::string FirstKey(const TPage& page) const;
  uint32_t NodeTotal(const TPage& page, const std::vector<TPageEntry>& entries) const;
  bool Fits(bool leaf, const std::vector<TPageEntry>& entries) const;

  // Adds delta to the counts on the path and sets the branch keys above a
  // node whose first key may have changed.
  // first_key null: the node's first key did not change.
  void FixPath(const std::vector<Step>& path, size_t levels, const std::string* first_key,
               int delta);
  // A new page of type linked into the chain right after page (which takes
  // the same type), its neighbour's back link moved to it.
  TPage& LinkNewPageAfter(TPage& page, uint8_t type);
  // Stores entries into page, splitting as needed; returns the page and the
  // new pages right of it.
  std::vector<Piece> StoreSplit(TPage& page, std::vector<TPageEntry>& entries);
  // The same split of a full page of fixed-size entries with one entry
  // added at pos, done on the page bytes: the page keeps the first half
  // (rounded up), a new page takes the rest.
  std::vector<Piece> SplitFixed(TPage& page, uint32_t pos, const uint8_t* key, uint32_t pointer,
                                uint32_t count);
  // The keys under a page of fixed-size entries (NodeTotal on the page).
  uint32_t FixedTotal(const TPage& page) const;
  // After a split at depth path.size(): hands the pieces up the path.
  void PropagateSplit(std::vector<Step> path, std::vector<Piece> pieces);
  // After entries were removed from page (path leads to it).
  void PropagateShrink(std::vector<Step> path, TPage& page, std::vector<TPageEntry>& entries);

  std::string CheckPage(uint32_t number, uint32_t depth, bool root, std::set<uint32_t>* pages,
                        std::vector<std::vector<uint32_t>>* levels, uint32_t* leaf_depth,
                        std::string* first, std::string* last, uint32_t* count);

  // Pages this tree fetched in the source's current epoch, so that a
  // descent and the insert or the count fixes that follow it take each page
  // from the source once.
  struct TCached {
    uint32_t number;
    TPage* page;
  };
  static constexpr size_t kCacheSize = 16;
  TCached cache_[kCacheSize];
  size_t cached_ = 0;
  size_t cache_next_ = 0;
  uint64_t cache_epoch_ = 0;

  TPageSource& source_;
  TIndexLayout layout_;
  const TKeyComparator& compare_;
  uint32_t slot_;
};

}  // namespace downsql::storage
