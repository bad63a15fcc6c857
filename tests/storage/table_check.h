// A structural check of an open table for tests that damage tables on
// purpose: the header's record count against the live slots, the free
// chain, every index tree (order, links, counts) with one entry per live
// record under its current key, and every BLOB value readable.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"

namespace downsql::storage {

// "" when the table is sound, else what is wrong.
inline std::string CheckTableStructure(const std::shared_ptr<TDataTable>& t) {
  try {
    const uint32_t slots = t->slot_count();
    std::vector<bool> live(slots + 1, false);
    uint32_t live_count = 0;
    TRecordBuffer record(t->record_size());
    for (uint32_t slot = 1; slot <= slots; ++slot) {
      if (!t->ReadRecord(slot, record)) continue;
      live[slot] = true;
      ++live_count;
    }
    if (t->record_count() != live_count) {
      return "record count " + std::to_string(t->record_count()) + ", live " +
             std::to_string(live_count);
    }
    std::set<uint32_t> free;
    for (uint32_t slot = t->data().free_chain_head(); slot != 0;) {
      if (slot > slots || live[slot] || !free.insert(slot).second)
        return "free chain broken at slot " + std::to_string(slot);
      t->ReadRecord(slot, record);
      slot = uint32_t(record.link());
    }
    if (free.size() != slots - live_count) return "free slots off the chain";
    for (const TTableIndex& index : t->indexes()) {
      auto tree = t->Tree(index);
      std::set<uint32_t> pages;
      const std::string fault = tree->Check(&pages);
      if (!fault.empty()) return index.name + ": " + fault;
      if (tree->Total() != live_count) return index.name + ": key count";
      std::set<uint32_t> seen;
      for (auto pos = tree->First(); pos.valid(); pos = tree->Next(pos)) {
        std::string key;
        uint32_t slot = 0;
        tree->Read(pos, &key, &slot);
        if (slot == 0 || slot > slots || !live[slot] || !seen.insert(slot).second)
          return index.name + ": entry for a slot that is not one live record";
        t->ReadRecord(slot, record);
        const std::vector<uint8_t> built = index.compare.BuildKey(record.data());
        if (std::string(built.begin(), built.end()) != key) return index.name + ": stale key";
      }
    }
    TDataCursor cursor(t, TSessionSettings{});
    cursor.First();
    while (cursor.Next()) {
      for (const TFieldDef& f : cursor.fields())
        if (f.IsBlob()) cursor.ReadBlob(f);
    }
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace downsql::storage
