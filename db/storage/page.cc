#include "db/storage/page.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"

namespace downsql::storage {

namespace {

constexpr uint32_t kMaxShared = 254;  // largest d or t

// The part of a key whose trailing zeros may be left out: all of it for a
// unique index, all but the RecordID suffix otherwise.
uint32_t TrimmableLength(const TIndexLayout& layout) {
  return layout.unique ? layout.key_length : layout.key_length - 4u;
}

struct Shared {
  uint32_t d = 0;
  uint32_t t = 0;
};

Shared ComputeShared(const TIndexLayout& layout, const uint8_t* previous, const uint8_t* key) {
  const uint32_t length = layout.key_length;
  const uint32_t body = TrimmableLength(layout);
  Shared s;
  if ((layout.compression & 1) && previous != nullptr) {
    const uint32_t limit = std::min(length, kMaxShared);
    while (s.d < limit && previous[s.d] == key[s.d]) ++s.d;
  }
  if ((layout.compression & 2) && s.d < body) {
    const uint32_t limit = std::min(body - s.d, kMaxShared);
    while (s.t < limit && key[body - 1 - s.t] == 0) ++s.t;
  }
  return s;
}

uint32_t HeaderBytes(const TIndexLayout& layout) { return layout.compression == 3 ? 2 : 1; }

// Stored key bytes of an entry with the given d and t.
uint32_t StoredBytes(const TIndexLayout& layout, const Shared& s) {
  const uint32_t length = layout.key_length;
  const uint32_t body = TrimmableLength(layout);
  if (s.d > body) return length - s.d;
  return (body - s.t - s.d) + (length - body);
}

}  // namespace

uint32_t CompressedEntrySize(const TIndexLayout& layout, const uint8_t* previous,
                             const uint8_t* key) {
  return HeaderBytes(layout) + StoredBytes(layout, ComputeShared(layout, previous, key)) + 4;
}

void TPage::Clear() { std::fill(data.begin(), data.end(), 0); }

void TPage::set_type(uint8_t t) { data[0] = t; }
uint16_t TPage::count() const { return base::GetLE16(&data[1]); }
void TPage::set_count(uint16_t n) { base::PutLE16(&data[1], n); }
uint32_t TPage::prev() const { return base::GetLE32(&data[3]); }
void TPage::set_prev(uint32_t p) { base::PutLE32(&data[3], p); }
uint32_t TPage::next() const { return base::GetLE32(&data[7]); }
void TPage::set_next(uint32_t p) { base::PutLE32(&data[7], p); }
uint16_t TPage::occupied() const { return base::GetLE16(&data[11]); }
void TPage::set_occupied(uint16_t n) { base::PutLE16(&data[11], n); }

uint32_t TPage::pointer(const TIndexLayout& layout, uint32_t i) const {
  return base::GetLE32(entry(layout, i) + layout.key_length);
}
void TPage::set_pointer(const TIndexLayout& layout, uint32_t i, uint32_t p) {
  base::PutLE32(entry(layout, i) + layout.key_length, p);
}
uint32_t TPage::sub_count(const TIndexLayout& layout, uint32_t i) const {
  if (is_leaf() || !layout.key_statistics) return 0;
  return base::GetLE32(entry(layout, i) + layout.key_length + 4);
}
void TPage::set_sub_count(const TIndexLayout& layout, uint32_t i, uint32_t n) {
  if (is_leaf() || !layout.key_statistics) return;
  base::PutLE32(entry(layout, i) + layout.key_length + 4, n);
}

void TPage::InsertFixed(const TIndexLayout& layout, uint32_t i, const uint8_t* key,
                        uint32_t pointer_value, uint32_t count_value) {
  const uint32_t size = entry_size(layout);
  const uint32_t n = count();
  uint8_t* at = data.data() + kPageHeaderSize + i * size;
  std::memmove(at + size, at, (n - i) * size);
  set_count(static_cast<uint16_t>(n + 1));
  std::memcpy(at, key, layout.key_length);
  set_pointer(layout, i, pointer_value);
  set_sub_count(layout, i, count_value);
}

void TPage::RemoveFixed(const TIndexLayout& layout, uint32_t i) {
  const uint32_t size = entry_size(layout);
  const uint32_t n = count();
  uint8_t* at = data.data() + kPageHeaderSize + i * size;
  std::memmove(at, at + size, (n - i - 1) * size);
  std::memset(data.data() + kPageHeaderSize + (n - 1) * size, 0, size);
  set_count(static_cast<uint16_t>(n - 1));
}

bool TPage::Decode(const TIndexLayout& layout, std::vector<TPageEntry>* entries) const {
  entries->clear();
  const uint32_t n = count();
  const uint32_t length = layout.key_length;
  if (fixed(layout)) {
    if (n * entry_size(layout) > layout.entry_space()) return false;
    entries->resize(n);
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* e = entry(layout, i);
      (*entries)[i].key.assign(reinterpret_cast<const char*>(e), length);
      (*entries)[i].pointer = pointer(layout, i);
      (*entries)[i].count = sub_count(layout, i);
    }
    return true;
  }
  const uint32_t body = TrimmableLength(layout);
  const uint8_t* p = data.data() + kPageHeaderSize;
  const uint8_t* end = data.data() + data.size();
  entries->resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    Shared s;
    if (p + HeaderBytes(layout) > end) return false;
    if (layout.compression & 1) s.d = *p++;
    if (layout.compression & 2) s.t = *p++;
    if (s.d > length || (i == 0 && s.d != 0)) return false;
    if (s.d <= body ? s.t > body - s.d : s.t != 0) return false;
    const uint32_t stored = StoredBytes(layout, s);
    if (p + stored + 4 > end) return false;
    std::string& key = (*entries)[i].key;
    key.assign(length, '\0');
    if (s.d > 0) std::memcpy(key.data(), (*entries)[i - 1].key.data(), s.d);
    if (s.d > body) {
      std::memcpy(key.data() + s.d, p, length - s.d);
    } else {
      std::memcpy(key.data() + s.d, p, body - s.t - s.d);
      std::memcpy(key.data() + body, p + (body - s.t - s.d), length - body);
    }
    p += stored;
    (*entries)[i].pointer = base::GetLE32(p);
    (*entries)[i].count = 0;
    p += 4;
  }
  return true;
}

uint32_t TPage::EncodedSize(const TIndexLayout& layout, bool leaf,
                            const std::vector<TPageEntry>& entries) {
  if (!leaf) return static_cast<uint32_t>(entries.size()) * layout.branch_entry_size();
  if (!layout.compressed_leaves())
    return static_cast<uint32_t>(entries.size()) * layout.leaf_entry_size();
  uint32_t total = 0;
  const uint8_t* previous = nullptr;
  for (const TPageEntry& e : entries) {
    const uint8_t* key = reinterpret_cast<const uint8_t*>(e.key.data());
    total += CompressedEntrySize(layout, previous, key);
    previous = key;
  }
  return total;
}

void TPage::Encode(const TIndexLayout& layout, const std::vector<TPageEntry>& entries) {
  std::fill(data.begin() + kPageHeaderSize, data.end(), 0);
  set_count(static_cast<uint16_t>(entries.size()));
  set_occupied(0);
  if (fixed(layout)) {
    for (uint32_t i = 0; i < entries.size(); ++i) {
      std::memcpy(entry(layout, i), entries[i].key.data(), layout.key_length);
      set_pointer(layout, i, entries[i].pointer);
      set_sub_count(layout, i, entries[i].count);
    }
    return;
  }
  const uint32_t length = layout.key_length;
  const uint32_t body = TrimmableLength(layout);
  uint8_t* p = data.data() + kPageHeaderSize;
  const uint8_t* previous = nullptr;
  for (const TPageEntry& e : entries) {
    const uint8_t* key = reinterpret_cast<const uint8_t*>(e.key.data());
    const Shared s = ComputeShared(layout, previous, key);
    if (layout.compression & 1) *p++ = static_cast<uint8_t>(s.d);
    if (layout.compression & 2) *p++ = static_cast<uint8_t>(s.t);
    if (s.d > body) {
      std::memcpy(p, key + s.d, length - s.d);
      p += length - s.d;
    } else {
      std::memcpy(p, key + s.d, body - s.t - s.d);
      p += body - s.t - s.d;
      std::memcpy(p, key + body, length - body);
      p += length - body;
    }
    base::PutLE32(p, e.pointer);
    p += 4;
    previous = key;
  }
  set_occupied(static_cast<uint16_t>(p - data.data() - kPageHeaderSize));
}

}  // namespace downsql::storage
