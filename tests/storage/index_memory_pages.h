// A page source held in memory, for tree tests that need no file.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "db/storage/engine_error.h"
#include "db/storage/index_tree.h"

namespace downsql::storage {

class MemoryPages : public TPageSource {
 public:
  explicit MemoryPages(uint32_t page_size) : page_size_(page_size) {}

  TPage& Page(uint32_t number) override {
    auto it = pages_.find(number);
    if (number == 0 || it == pages_.end()) Corrupt();
    return *it->second;
  }
  TPage& NewPage() override {
    uint32_t number = free_head_;
    if (number != 0) {
      TPage& page = Page(number);
      free_head_ = page.next();
      page.Clear();
      return page;
    }
    number = next_page_++;
    auto& slot = pages_[number];
    slot = std::make_unique<TPage>(number, page_size_);
    return *slot;
  }
  void FreePage(TPage& page) override {
    page.Clear();
    page.set_next(free_head_);
    page.modified = true;
    free_head_ = page.number();
  }
  uint32_t Root(uint32_t slot) const override { return roots_[slot]; }
  void SetRoot(uint32_t slot, uint32_t page) override { roots_[slot] = page; }
  [[noreturn]] void Corrupt() const override {
    throw ETabulaEngineError(kErrIndexPageCorrupt, {"T"});
  }

  uint32_t free_head() const { return free_head_; }
  uint32_t next_page() const { return next_page_; }

 private:
  uint32_t page_size_;
  std::map<uint32_t, std::unique_ptr<TPage>> pages_;
  uint32_t free_head_ = 0;
  uint32_t next_page_ = 1;
  uint32_t roots_[32] = {};
};

// Every page 1..next_page - 1 of a source is either in a tree (tree_pages)
// or on the free chain, once; free pages have no entries.
inline std::string CheckFreeChain(TPageSource& pages, uint32_t free_head, uint32_t next_page,
                                  const std::set<uint32_t>& tree_pages) {
  std::set<uint32_t> seen;
  for (uint32_t n = free_head; n != 0; n = pages.Page(n).next()) {
    if (!seen.insert(n).second) return "free chain loops at " + std::to_string(n);
    if (tree_pages.count(n)) return "free page " + std::to_string(n) + " is in a tree";
    if (pages.Page(n).count() != 0) return "free page " + std::to_string(n) + " has entries";
  }
  if (seen.size() + tree_pages.size() != next_page - 1)
    return "pages lost: " + std::to_string(next_page - 1 - seen.size() - tree_pages.size());
  return "";
}

}  // namespace downsql::storage
