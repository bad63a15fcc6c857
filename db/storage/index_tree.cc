#include "db/storage/index_tree.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace downsql::storage {

namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

TIndexTree::TIndexTree(TPageSource& source, const TIndexLayout& layout,
                       const TKeyComparator& compare, uint32_t slot)
    : cache_epoch_(source.epoch()),
      source_(source),
      layout_(layout),
      compare_(compare),
      slot_(slot) {
  // A key so long that two entries do not fit a page comes from a damaged
  // definition (the definition checks keep it to a third of a page).
  if (layout_.page_size <= kPageHeaderSize || layout_.key_length == 0 ||
      layout_.branch_capacity() < 2 || layout_.leaf_capacity() < 2)
    source_.Corrupt();
}

TPage& TIndexTree::Fetch(uint32_t number) {
  TPage* cached = nullptr;
  if (source_.epoch() != cache_epoch_) {
    cache_epoch_ = source_.epoch();
    cached_ = cache_next_ = 0;
  }
  for (size_t i = 0; i < cached_; ++i) {
    if (cache_[i].number == number) {
      cached = cache_[i].page;
      break;
    }
  }
  if (cached == nullptr) {
    cached = &source_.Page(number);
    cache_[cache_next_] = {number, cached};
    cache_next_ = (cache_next_ + 1) % kCacheSize;
    cached_ = std::max(cached_, cache_next_ == 0 ? kCacheSize : cache_next_);
  }
  TPage& page = *cached;
  // Damaged pages must not lead the fixed-size entry code past the page.
  if (page.type() > kPageRootLeaf || (page.fixed(layout_) && page.count() > page.capacity(layout_)))
    source_.Corrupt();
  return page;
}

void TIndexTree::Decode(const TPage& page, std::vector<TPageEntry>* entries) const {
  if (!page.Decode(layout_, entries)) source_.Corrupt();
}

uint32_t TIndexTree::BranchIndex(const TPage& page, const uint8_t* key) const {
  // Last entry whose key is <= key; the first when all are greater. Keys
  // added in ascending order (the usual case: counters, dates) belong past
  // the last entry, so that one is tried first.
  uint32_t lo = 0, hi = page.count();
  if (hi > 1 && compare_.Compare(page.entry(layout_, hi - 1), key) <= 0) return hi - 1;
  while (lo < hi) {
    uint32_t mid = (lo + hi) / 2;
    if (compare_.Compare(page.entry(layout_, mid), key) <= 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo == 0 ? 0 : lo - 1;
}

uint32_t TIndexTree::LeafLowerBound(const TPage& page, const uint8_t* key,
                                    std::vector<TPageEntry>* entries) const {
  uint32_t lo = 0, hi;
  if (page.fixed(layout_)) {
    hi = page.count();
    if (hi > 0 && compare_.Compare(page.entry(layout_, hi - 1), key) < 0) return hi;
    while (lo < hi) {
      uint32_t mid = (lo + hi) / 2;
      if (compare_.Compare(page.entry(layout_, mid), key) < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  }
  Decode(page, entries);
  hi = static_cast<uint32_t>(entries->size());
  while (lo < hi) {
    uint32_t mid = (lo + hi) / 2;
    if (compare_.Compare(Bytes((*entries)[mid].key), key) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

uint32_t TIndexTree::Descend(const uint8_t* key, std::vector<Step>* path) {
  path->clear();
  uint32_t number = source_.Root(slot_);
  for (uint32_t level = 0;; ++level) {
    if (level >= kMaxLevels) source_.Corrupt();
    TPage& page = Fetch(number);
    if (page.count() == 0) source_.Corrupt();
    if (page.is_leaf()) return number;
    if (page.type() != kPageRootBranch && page.type() != kPageBranch) source_.Corrupt();
    uint32_t index = BranchIndex(page, key);
    path->push_back({number, index});
    number = page.pointer(layout_, index);
  }
}

std::string TIndexTree::FirstKey(const TPage& page) const {
  if (page.fixed(layout_))
    return std::string(reinterpret_cast<const char*>(page.entry(layout_, 0)), layout_.key_length);
  std::vector<TPageEntry> entries;
  Decode(page, &entries);
  return entries.front().key;
}

uint32_t TIndexTree::NodeTotal(const TPage& page, const std::vector<TPageEntry>& entries) const {
  if (page.is_leaf() || !layout_.key_statistics) return static_cast<uint32_t>(entries.size());
  uint32_t total = 0;
  for (const TPageEntry& e : entries) total += e.count;
  return total;
}

bool TIndexTree::Fits(bool leaf, const std::vector<TPageEntry>& entries) const {
  return TPage::EncodedSize(layout_, leaf, entries) <= layout_.entry_space();
}

void TIndexTree::FixPath(const std::vector<Step>& path, size_t levels, const std::string* first_key,
                         int delta) {
  bool key_may_change = first_key != nullptr;
  for (size_t i = levels; i-- > 0;) {
    TPage& parent = Fetch(path[i].page);
    const uint32_t index = path[i].index;
    if (layout_.key_statistics && delta != 0) {
      parent.set_sub_count(layout_, index, parent.sub_count(layout_, index) + delta);
      parent.modified = true;
    }
    if (key_may_change) {
      uint8_t* key = parent.entry(layout_, index);
      if (std::memcmp(key, first_key->data(), layout_.key_length) != 0) {
        std::memcpy(key, first_key->data(), layout_.key_length);
        parent.modified = true;
        key_may_change = index == 0;
      } else {
        key_may_change = false;
      }
    }
    if (!key_may_change && (!layout_.key_statistics || delta == 0)) break;
  }
}

TPage& TIndexTree::LinkNewPageAfter(TPage& page, uint8_t type) {
  TPage& fresh = source_.NewPage();
  page.set_type(type);
  fresh.set_type(type);
  fresh.set_prev(page.number());
  fresh.set_next(page.next());
  if (page.next() != 0) {
    TPage& after = Fetch(page.next());
    after.set_prev(fresh.number());
    after.modified = true;
  }
  page.set_next(fresh.number());
  return fresh;
}

std::vector<TIndexTree::Piece> TIndexTree::StoreSplit(TPage& page,
                                                      std::vector<TPageEntry>& entries) {
  const bool leaf = page.is_leaf();
  if (Fits(leaf, entries)) {
    page.Encode(layout_, entries);
    page.modified = true;
    return {{page.number(), entries.front().key, NodeTotal(page, entries)}};
  }
  if (entries.size() < 2) source_.Corrupt();
  size_t keep = (entries.size() + 1) / 2;
  std::vector<TPageEntry> left(entries.begin(), entries.begin() + keep);
  while (left.size() > 1 && !Fits(leaf, left)) left.pop_back();
  std::vector<TPageEntry> right(entries.begin() + left.size(), entries.end());

  TPage& fresh = LinkNewPageAfter(page, leaf ? kPageLeaf : kPageBranch);
  page.Encode(layout_, left);
  page.modified = true;
  fresh.modified = true;
  std::vector<Piece> pieces{{page.number(), left.front().key, NodeTotal(page, left)}};
  std::vector<Piece> rest = StoreSplit(fresh, right);
  pieces.insert(pieces.end(), rest.begin(), rest.end());
  return pieces;
}

uint32_t TIndexTree::FixedTotal(const TPage& page) const {
  if (page.is_leaf() || !layout_.key_statistics) return page.count();
  uint32_t total = 0;
  for (uint32_t i = 0; i < page.count(); ++i) total += page.sub_count(layout_, i);
  return total;
}

std::vector<TIndexTree::Piece> TIndexTree::SplitFixed(TPage& page, uint32_t pos, const uint8_t* key,
                                                      uint32_t pointer, uint32_t count) {
  const uint32_t n = page.count();
  const uint32_t size = page.entry_size(layout_);
  const uint32_t keep = (n + 2) / 2;  // of the n + 1 entries
  TPage& fresh = LinkNewPageAfter(page, page.is_leaf() ? kPageLeaf : kPageBranch);
  // The entry goes to the new page when its place is past the kept half.
  const uint32_t from = pos >= keep ? keep : keep - 1;
  uint8_t* moved = fresh.bytes() + kPageHeaderSize;
  std::memcpy(moved, page.entry(layout_, from), size_t(n - from) * size);
  std::fill(moved + size_t(n - from) * size, fresh.bytes() + fresh.size(), 0);
  fresh.set_count(static_cast<uint16_t>(n - from));
  fresh.set_occupied(0);
  std::fill(page.entry(layout_, from), page.bytes() + page.size(), 0);
  page.set_count(static_cast<uint16_t>(from));
  page.set_occupied(0);
  if (pos >= keep) {
    fresh.InsertFixed(layout_, pos - keep, key, pointer, count);
  } else {
    page.InsertFixed(layout_, pos, key, pointer, count);
  }
  page.modified = true;
  fresh.modified = true;
  return {{page.number(), FirstKey(page), FixedTotal(page)},
          {fresh.number(), FirstKey(fresh), FixedTotal(fresh)}};
}

void TIndexTree::PropagateSplit(std::vector<Step> path, std::vector<Piece> pieces) {
  // Two pieces (a split of fixed-size entries) go into a branch in place.
  while (pieces.size() == 2 && !path.empty()) {
    const Step step = path.back();
    path.pop_back();
    TPage& parent = Fetch(step.page);
    if (parent.is_leaf()) source_.Corrupt();
    std::memcpy(parent.entry(layout_, step.index), pieces[0].first_key.data(), layout_.key_length);
    parent.set_sub_count(layout_, step.index, pieces[0].count);
    parent.modified = true;
    const Piece& added = pieces[1];
    if (parent.count() >= layout_.branch_capacity()) {
      pieces = SplitFixed(parent, step.index + 1, Bytes(added.first_key), added.page, added.count);
      continue;
    }
    parent.InsertFixed(layout_, step.index + 1, Bytes(added.first_key), added.page, added.count);
    // No further split: the levels above see their counts and maybe their
    // first key change.
    if (!path.empty()) {
      TPage& grand = Fetch(path.back().page);
      const uint32_t old = grand.sub_count(layout_, path.back().index);
      const uint32_t total = FixedTotal(parent);
      const std::string first = FirstKey(parent);
      FixPath(path, path.size(), &first,
              layout_.key_statistics ? static_cast<int>(total - old) : 0);
    }
    return;
  }
  while (pieces.size() > 1) {
    if (path.empty()) {
      TPage& root = source_.NewPage();
      root.set_type(kPageRootBranch);
      std::vector<TPageEntry> entries;
      for (Piece& p : pieces) entries.push_back({std::move(p.first_key), p.page, p.count});
      root.Encode(layout_, entries);
      root.modified = true;
      source_.SetRoot(slot_, root.number());
      return;
    }
    const Step step = path.back();
    path.pop_back();
    TPage& parent = Fetch(step.page);
    std::vector<TPageEntry> entries;
    Decode(parent, &entries);
    entries[step.index].key = pieces[0].first_key;
    entries[step.index].count = pieces[0].count;
    std::vector<TPageEntry> added;
    for (size_t i = 1; i < pieces.size(); ++i)
      added.push_back({std::move(pieces[i].first_key), pieces[i].page, pieces[i].count});
    entries.insert(entries.begin() + step.index + 1, added.begin(), added.end());
    pieces = StoreSplit(parent, entries);
    if (pieces.size() == 1) {
      // No further split: the levels above only see their counts and maybe
      // their first key change; set the count of this node exactly.
      if (!path.empty()) {
        TPage& grand = Fetch(path.back().page);
        const uint32_t old = grand.sub_count(layout_, path.back().index);
        FixPath(path, path.size(), &pieces[0].first_key,
                layout_.key_statistics ? static_cast<int>(pieces[0].count - old) : 0);
      }
      return;
    }
  }
}

bool TIndexTree::Insert(const uint8_t* key, uint32_t record_slot) {
  const uint32_t root = source_.Root(slot_);
  if (root == 0) {
    TPage& page = source_.NewPage();
    page.set_type(kPageRootLeaf);
    page.Encode(layout_, {{std::string(reinterpret_cast<const char*>(key), layout_.key_length),
                           record_slot, 0}});
    page.modified = true;
    source_.SetRoot(slot_, page.number());
    return true;
  }
  std::vector<Step> path;
  return InsertIntoLeaf(key, record_slot, Descend(key, &path), path);
}

bool TIndexTree::Insert(const uint8_t* key, uint32_t record_slot, TInsertSpot& spot) {
  if (spot.leaf == 0 || spot.root != source_.Root(slot_)) return Insert(key, record_slot);
  if (spot.at_end && spot.epoch == source_.epoch()) {
    // The pages are still where AtEnd found them, the leaf has room and the
    // key goes last: no search, no split, no branch key to change.
    spot.at_end = false;
    spot.leaf = 0;
    TPage& leaf = *spot.pages.back();
    leaf.InsertFixed(layout_, leaf.count(), key, record_slot, 0);
    leaf.modified = true;
    if (layout_.key_statistics) {
      for (size_t i = 0; i < spot.path.size(); ++i) {
        TPage& parent = *spot.pages[i];
        const uint32_t index = spot.path[i].index;
        parent.set_sub_count(layout_, index, parent.sub_count(layout_, index) + 1);
        parent.modified = true;
      }
    }
    return true;
  }
  spot.at_end = false;
  const uint32_t leaf = spot.leaf;
  spot.leaf = 0;
  return InsertIntoLeaf(key, record_slot, leaf, spot.path);
}

bool TIndexTree::InsertIntoLeaf(const uint8_t* key, uint32_t record_slot, uint32_t leaf_number,
                                std::vector<Step>& path) {
  TPage& leaf = Fetch(leaf_number);
  if (!leaf.is_leaf()) source_.Corrupt();
  std::vector<TPageEntry> entries;
  const uint32_t pos = LeafLowerBound(leaf, key, &entries);
  if (leaf.fixed(layout_)) {
    if (pos < leaf.count() && compare_.Compare(leaf.entry(layout_, pos), key) == 0) return false;
    if (leaf.count() < layout_.leaf_capacity()) {
      leaf.InsertFixed(layout_, pos, key, record_slot, 0);
      leaf.modified = true;
      if (pos == 0) {
        const std::string key_text(reinterpret_cast<const char*>(key), layout_.key_length);
        FixPath(path, path.size(), &key_text, 1);
      } else {
        FixPath(path, path.size(), nullptr, 1);
      }
      return true;
    }
    PropagateSplit(std::move(path), SplitFixed(leaf, pos, key, record_slot, 0));
    return true;
  } else if (pos < entries.size() && compare_.Compare(Bytes(entries[pos].key), key) == 0) {
    return false;
  }
  entries.insert(
      entries.begin() + pos,
      {std::string(reinterpret_cast<const char*>(key), layout_.key_length), record_slot, 0});
  std::vector<Piece> pieces = StoreSplit(leaf, entries);
  if (pieces.size() == 1) {
    FixPath(path, path.size(), &pieces[0].first_key, 1);
    return true;
  }
  PropagateSplit(std::move(path), std::move(pieces));
  return true;
}

bool TIndexTree::Delete(const uint8_t* key) {
  if (source_.Root(slot_) == 0) return false;
  std::vector<Step> path;
  TPage& leaf = Fetch(Descend(key, &path));
  std::vector<TPageEntry> entries;
  const uint32_t pos = LeafLowerBound(leaf, key, &entries);
  if (leaf.fixed(layout_)) {
    if (pos >= leaf.count() || compare_.Compare(leaf.entry(layout_, pos), key) != 0) return false;
    Decode(leaf, &entries);
  } else if (pos >= entries.size() || compare_.Compare(Bytes(entries[pos].key), key) != 0) {
    return false;
  }
  entries.erase(entries.begin() + pos);
  PropagateShrink(std::move(path), leaf, entries);
  return true;
}

void TIndexTree::PropagateShrink(std::vector<Step> path, TPage& start,
                                 std::vector<TPageEntry>& start_entries) {
  TPage* page = &start;
  std::vector<TPageEntry> entries = std::move(start_entries);
  while (true) {
    const bool leaf = page->is_leaf();
    if (entries.empty()) {
      if (path.empty()) {
        source_.FreePage(*page);
        source_.SetRoot(slot_, 0);
        return;
      }
      if (page->prev() != 0) {
        TPage& before = Fetch(page->prev());
        before.set_next(page->next());
        before.modified = true;
      }
      if (page->next() != 0) {
        TPage& after = Fetch(page->next());
        after.set_prev(page->prev());
        after.modified = true;
      }
      source_.FreePage(*page);
      const Step step = path.back();
      path.pop_back();
      page = &Fetch(step.page);
      Decode(*page, &entries);
      entries.erase(entries.begin() + step.index);
      continue;
    }
    if (!path.empty()) {
      // Merge with the next sibling when both fit one page. Only a sibling
      // under the same parent is taken, so that one parent entry goes.
      const Step step = path.back();
      TPage& parent = Fetch(step.page);
      if (page->next() != 0 && step.index + 1 < parent.count() &&
          parent.pointer(layout_, step.index + 1) == page->next()) {
        TPage& sibling = Fetch(page->next());
        std::vector<TPageEntry> combined;
        Decode(sibling, &combined);
        combined.insert(combined.begin(), entries.begin(), entries.end());
        if (Fits(leaf, combined)) {
          page->set_next(sibling.next());
          if (sibling.next() != 0) {
            TPage& after = Fetch(sibling.next());
            after.set_prev(page->number());
            after.modified = true;
          }
          page->Encode(layout_, combined);
          page->modified = true;
          const std::string first = combined.front().key;
          const uint32_t total = NodeTotal(*page, combined);
          source_.FreePage(sibling);
          path.pop_back();
          page = &parent;
          Decode(parent, &entries);
          entries[step.index].key = first;
          entries[step.index].count = total;
          entries.erase(entries.begin() + step.index + 1);
          continue;
        }
      }
    }
    if (!Fits(page->is_leaf(), entries)) {
      // Removing a compressed entry can lengthen the next one (it shares
      // less with its new neighbour), so a leaf may have to split here.
      PropagateSplit(std::move(path), StoreSplit(*page, entries));
      return;
    }
    page->Encode(layout_, entries);
    page->modified = true;
    if (path.empty()) return;
    TPage& parent = Fetch(path.back().page);
    const uint32_t old = parent.sub_count(layout_, path.back().index);
    const uint32_t total = NodeTotal(*page, entries);
    FixPath(path, path.size(), &entries.front().key,
            layout_.key_statistics ? static_cast<int>(total - old) : 0);
    return;
  }
}

TIndexPosition TIndexTree::Seek(const uint8_t* key) {
  if (source_.Root(slot_) == 0) return {};
  std::vector<Step> path;
  const uint32_t leaf_number = Descend(key, &path);
  TPage& leaf = Fetch(leaf_number);
  std::vector<TPageEntry> entries;
  const uint32_t pos = LeafLowerBound(leaf, key, &entries);
  if (pos < leaf.count()) return {leaf_number, pos};
  return Next({leaf_number, pos == 0 ? 0 : pos - 1});
}

uint32_t TIndexTree::Find(const uint8_t* key) {
  TIndexPosition pos = Seek(key);
  if (!pos.valid()) return 0;
  std::string found;
  uint32_t slot = 0;
  Read(pos, &found, &slot);
  return compare_.Compare(Bytes(found), key) == 0 ? slot : 0;
}

bool TIndexTree::AtEnd(const uint8_t* key, TInsertSpot* spot) {
  spot->root = source_.Root(slot_);
  spot->leaf = 0;
  spot->at_end = false;
  spot->path.clear();
  spot->pages.clear();
  uint32_t number = spot->root;
  if (number == 0) return false;
  for (uint32_t level = 0;; ++level) {
    if (level >= kMaxLevels) source_.Corrupt();
    TPage& page = Fetch(number);
    const uint32_t count = page.count();
    if (count == 0) source_.Corrupt();
    // Only the last page of its level holds the greatest keys.
    if (page.next() != 0) return false;
    spot->pages.push_back(&page);
    if (page.is_leaf()) {
      if (!page.fixed(layout_) || count >= layout_.leaf_capacity() ||
          compare_.Compare(page.entry(layout_, count - 1), key) >= 0)
        return false;
      spot->leaf = number;
      spot->at_end = true;
      spot->epoch = source_.epoch();
      return true;
    }
    if (page.type() != kPageRootBranch && page.type() != kPageBranch) source_.Corrupt();
    if (compare_.Compare(page.entry(layout_, count - 1), key) > 0) return false;
    spot->path.push_back({number, count - 1});
    number = page.pointer(layout_, count - 1);
  }
}

uint32_t TIndexTree::Find(const uint8_t* key, TInsertSpot* spot) {
  if (AtEnd(key, spot)) return 0;
  spot->leaf = 0;
  spot->path.clear();
  if (spot->root == 0) return 0;
  // Seek and Find in one, keeping the descent.
  const uint32_t leaf_number = Descend(key, &spot->path);
  TPage& leaf = Fetch(leaf_number);
  std::vector<TPageEntry> entries;
  const uint32_t pos = LeafLowerBound(leaf, key, &entries);
  const TIndexPosition at =
      pos < leaf.count() ? TIndexPosition{leaf_number, pos} : Next({leaf_number, pos - 1});
  if (at.valid()) {
    std::string found;
    uint32_t slot = 0;
    Read(at, &found, &slot);
    if (compare_.Compare(Bytes(found), key) == 0) return slot;
  }
  spot->leaf = leaf_number;
  return 0;
}

TIndexPosition TIndexTree::First() {
  uint32_t number = source_.Root(slot_);
  if (number == 0) return {};
  for (uint32_t level = 0;; ++level) {
    if (level >= kMaxLevels) source_.Corrupt();
    TPage& page = Fetch(number);
    if (page.count() == 0) source_.Corrupt();
    if (page.is_leaf()) return {number, 0};
    number = page.pointer(layout_, 0);
  }
}

TIndexPosition TIndexTree::Last() {
  uint32_t number = source_.Root(slot_);
  if (number == 0) return {};
  for (uint32_t level = 0;; ++level) {
    if (level >= kMaxLevels) source_.Corrupt();
    TPage& page = Fetch(number);
    if (page.count() == 0) source_.Corrupt();
    if (page.is_leaf()) return {number, page.count() - 1u};
    number = page.pointer(layout_, page.count() - 1u);
  }
}

TIndexPosition TIndexTree::Next(TIndexPosition pos) {
  if (!pos.valid()) return {};
  TPage* page = &Fetch(pos.page);
  if (pos.entry + 1 < page->count()) return {pos.page, pos.entry + 1};
  // Bounded walk: a link cycle must not hang the reader.
  for (uint32_t hops = 0; page->next() != 0; ++hops) {
    if (hops > 1u << 16) source_.Corrupt();
    const uint32_t number = page->next();
    page = &Fetch(number);
    if (page->count() > 0) return {number, 0};
  }
  return {};
}

TIndexPosition TIndexTree::Prior(TIndexPosition pos) {
  if (!pos.valid()) return {};
  if (pos.entry > 0) return {pos.page, pos.entry - 1};
  TPage* page = &Fetch(pos.page);
  for (uint32_t hops = 0; page->prev() != 0; ++hops) {
    if (hops > 1u << 16) source_.Corrupt();
    const uint32_t number = page->prev();
    page = &Fetch(number);
    if (page->count() > 0) return {number, page->count() - 1u};
  }
  return {};
}

void TIndexTree::ReadLeaf(uint32_t number, std::string* keys, std::vector<uint32_t>* record_slots) {
  TPage& page = Fetch(number);
  if (!page.is_leaf()) source_.Corrupt();
  const uint32_t count = page.count();
  keys->clear();
  record_slots->clear();
  if (page.fixed(layout_)) {
    keys->reserve(size_t(count) * layout_.key_length);
    record_slots->reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
      keys->append(reinterpret_cast<const char*>(page.entry(layout_, i)), layout_.key_length);
      record_slots->push_back(page.pointer(layout_, i));
    }
    return;
  }
  std::vector<TPageEntry> entries;
  Decode(page, &entries);
  for (const TPageEntry& e : entries) {
    keys->append(e.key);
    record_slots->push_back(e.pointer);
  }
}

void TIndexTree::Read(TIndexPosition pos, std::string* key, uint32_t* record_slot) {
  TPage& page = Fetch(pos.page);
  if (!page.is_leaf() || pos.entry >= page.count()) source_.Corrupt();
  if (page.fixed(layout_)) {
    key->assign(reinterpret_cast<const char*>(page.entry(layout_, pos.entry)), layout_.key_length);
    *record_slot = page.pointer(layout_, pos.entry);
    return;
  }
  std::vector<TPageEntry> entries;
  Decode(page, &entries);
  *key = entries[pos.entry].key;
  *record_slot = entries[pos.entry].pointer;
}

uint32_t TIndexTree::Total() {
  const uint32_t root = source_.Root(slot_);
  if (root == 0) return 0;
  TPage& page = Fetch(root);
  if (page.is_leaf()) return page.count();
  if (layout_.key_statistics) {
    uint32_t total = 0;
    for (uint32_t i = 0; i < page.count(); ++i) total += page.sub_count(layout_, i);
    return total;
  }
  uint32_t total = 0;
  std::unordered_set<uint32_t> visited;  // a leaf-link cycle must not hang the count
  TIndexPosition pos = First();
  while (pos.valid()) {
    if (!visited.insert(pos.page).second) source_.Corrupt();
    const uint32_t n = Fetch(pos.page).count();
    total += n;
    pos = Next({pos.page, n - 1u});
  }
  return total;
}

uint32_t TIndexTree::CountBefore(const uint8_t* key) {
  if (source_.Root(slot_) == 0) return 0;
  if (!layout_.key_statistics) {
    uint32_t n = 0;
    std::string k;
    uint32_t s;
    std::unordered_set<uint32_t> visited;  // a leaf-link cycle must not hang the count
    uint32_t page = 0;
    for (TIndexPosition pos = First(); pos.valid(); pos = Next(pos), ++n) {
      if (pos.page != page || pos.entry == 0) {
        page = pos.page;
        if (!visited.insert(page).second) source_.Corrupt();
      }
      Read(pos, &k, &s);
      if (compare_.Compare(Bytes(k), key) >= 0) break;
    }
    return n;
  }
  std::vector<Step> path;
  TPage& leaf = Fetch(Descend(key, &path));
  uint32_t n = 0;
  for (const Step& step : path) {
    TPage& page = Fetch(step.page);
    for (uint32_t i = 0; i < step.index; ++i) n += page.sub_count(layout_, i);
  }
  std::vector<TPageEntry> entries;
  return n + LeafLowerBound(leaf, key, &entries);
}

std::string TIndexTree::Check(std::set<uint32_t>* pages) {
  const uint32_t root = source_.Root(slot_);
  if (root == 0) return "";
  std::vector<std::vector<uint32_t>> levels;
  uint32_t leaf_depth = 0;
  std::string first, last;
  uint32_t count = 0;
  std::string error = CheckPage(root, 0, true, pages, &levels, &leaf_depth, &first, &last, &count);
  if (!error.empty()) return error;
  for (size_t d = 0; d < levels.size(); ++d) {
    const std::vector<uint32_t>& level = levels[d];
    for (size_t i = 0; i < level.size(); ++i) {
      TPage& page = source_.Page(level[i]);
      const uint32_t want_prev = i == 0 ? 0 : level[i - 1];
      const uint32_t want_next = i + 1 == level.size() ? 0 : level[i + 1];
      if (page.prev() != want_prev || page.next() != want_next)
        return "page " + std::to_string(level[i]) + ": level links " + std::to_string(page.prev()) +
               "/" + std::to_string(page.next()) + ", expected " + std::to_string(want_prev) + "/" +
               std::to_string(want_next);
    }
  }
  return "";
}

std::string TIndexTree::CheckPage(uint32_t number, uint32_t depth, bool root,
                                  std::set<uint32_t>* pages,
                                  std::vector<std::vector<uint32_t>>* levels, uint32_t* leaf_depth,
                                  std::string* first, std::string* last, uint32_t* count) {
  const std::string where = "page " + std::to_string(number) + ": ";
  if (depth >= kMaxLevels) return where + "deeper than 64 levels";
  if (!pages->insert(number).second) return where + "reached twice";
  TPage& page = source_.Page(number);
  const uint8_t type = page.type();
  const bool leaf = page.is_leaf();
  if (root ? (type != kPageRootBranch && type != kPageRootLeaf)
           : (type != kPageBranch && type != kPageLeaf))
    return where + "type " + std::to_string(type);
  if (page.count() == 0) return where + "empty";
  std::vector<TPageEntry> entries;
  if (!page.Decode(layout_, &entries)) return where + "entries do not decode";
  if (!Fits(leaf, entries)) return where + "entries overflow the page";
  if (!page.fixed(layout_) && page.occupied() != TPage::EncodedSize(layout_, true, entries))
    return where + "occupied bytes " + std::to_string(page.occupied());
  if (page.fixed(layout_) && page.occupied() != 0) return where + "occupied set";
  for (size_t i = 1; i < entries.size(); ++i)
    if (compare_.Compare(Bytes(entries[i - 1].key), Bytes(entries[i].key)) >= 0)
      return where + "entries out of order at " + std::to_string(i);
  if (levels->size() <= depth) levels->resize(depth + 1);
  (*levels)[depth].push_back(number);
  *first = entries.front().key;
  *last = entries.back().key;
  if (leaf) {
    if (*leaf_depth == 0) *leaf_depth = depth + 1;
    if (*leaf_depth != depth + 1) return where + "leaf at another depth";
    *count = static_cast<uint32_t>(entries.size());
    return "";
  }
  *count = 0;
  std::string previous_last;
  for (size_t i = 0; i < entries.size(); ++i) {
    std::string child_first, child_last;
    uint32_t child_count = 0;
    std::string error = CheckPage(entries[i].pointer, depth + 1, false, pages, levels, leaf_depth,
                                  &child_first, &child_last, &child_count);
    if (!error.empty()) return error;
    if (child_first != entries[i].key)
      return where + "entry " + std::to_string(i) + " key is not the child's lowest key";
    if (layout_.key_statistics && child_count != entries[i].count)
      return where + "entry " + std::to_string(i) + " count " + std::to_string(entries[i].count) +
             ", child has " + std::to_string(child_count);
    if (i > 0 && compare_.Compare(Bytes(previous_last), Bytes(child_first)) >= 0)
      return where + "children overlap at entry " + std::to_string(i);
    previous_last = child_last;
    *count += child_count;
  }
  *last = previous_last;
  return "";
}

}  // namespace downsql::storage
