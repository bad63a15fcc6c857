// Index trees read from arbitrary page bytes: searching, walking, counting,
// inserting and deleting must either work or raise the engine's error,
// never read or write outside a page or loop forever.
//
// Input: byte 0 picks the compression (low 2 bits), uniqueness (bit 2) and
// key statistics (bit 3); the rest is cut into 256-byte pages 1..n, page 1
// being the root.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "db/storage/column_type.h"
#include "db/storage/engine_error.h"
#include "db/storage/index_key.h"
#include "db/storage/index_tree.h"

namespace downsql::storage {
namespace {

constexpr uint32_t kPageSize = 256;

class FuzzPages : public TPageSource {
 public:
  TPage& Page(uint32_t number) override {
    auto it = pages_.find(number);
    if (it == pages_.end()) Corrupt();
    return *it->second;
  }
  TPage& NewPage() override {
    if (pages_.size() > 64) Corrupt();  // keeps a run short
    const uint32_t number = next_++;
    auto& page = pages_[number];
    page = std::make_unique<TPage>(number, kPageSize);
    return *page;
  }
  void FreePage(TPage& page) override {
    page.Clear();
    page.set_next(free_head_);
    free_head_ = page.number();
  }
  uint32_t Root(uint32_t) const override { return root_; }
  void SetRoot(uint32_t, uint32_t page) override { root_ = page; }
  [[noreturn]] void Corrupt() const override {
    throw ETabulaEngineError(kErrIndexPageCorrupt, {"F"});
  }

  void Load(const uint8_t* data, size_t size) {
    for (size_t at = 0; at < size && next_ <= 32; at += kPageSize) {
      auto& page = pages_[next_];
      page = std::make_unique<TPage>(next_, kPageSize);
      std::memcpy(page->bytes(), data + at, std::min<size_t>(kPageSize, size - at));
      ++next_;
    }
    root_ = pages_.empty() ? 0 : 1;
  }

 private:
  std::map<uint32_t, std::unique_ptr<TPage>> pages_;
  uint32_t next_ = 1;
  uint32_t free_head_ = 0;
  uint32_t root_ = 0;
};

}  // namespace
}  // namespace downsql::storage

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace downsql::storage;
  if (size < 1) return 0;
  TIndexKeyField field;
  field.column = 1;
  field.type = kTypeString;
  field.stored_size = 6;
  field.null_offset = 25;
  const bool unique = (data[0] & 4) != 0;
  TKeyComparator cmp({field}, unique, false, 0);
  TIndexLayout layout;
  layout.page_size = kPageSize;
  layout.key_length = cmp.key_length();
  layout.unique = unique;
  layout.compression = data[0] & 3;
  layout.key_statistics = (data[0] & 8) != 0;
  FuzzPages pages;
  pages.Load(data + 1, size - 1);
  TIndexTree tree(pages, layout, cmp, 0);
  uint8_t key[16] = {};
  try {
    uint32_t steps = 0;
    for (TIndexPosition pos = tree.First(); pos.valid() && steps < 10000; ++steps) {
      std::string k;
      uint32_t slot;
      tree.Read(pos, &k, &slot);
      pos = tree.Next(pos);
    }
    for (TIndexPosition pos = tree.Last(); pos.valid() && steps < 20000; ++steps)
      pos = tree.Prior(pos);
    tree.Total();
    for (int i = 0; i < 8; ++i) {
      key[0] = 1;
      std::memset(key + 1, 'A' + i, 3);
      tree.Find(key);
      tree.CountBefore(key);
      tree.Insert(key, i);
      tree.Delete(key);
    }
  } catch (const ETabulaEngineError&) {
  }
  return 0;
}
