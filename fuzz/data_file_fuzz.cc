// Opens arbitrary bytes as a table data file (in memory), reads every slot
// and column, walks the free chain and verifies the file: a damaged file may
// only raise the engine's error. The version byte and signature are put
// right unless byte 8 is 0xFF, so that the fuzzer reaches past them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "db/storage/data_file.h"
#include "db/storage/engine_error.h"
#include "db/storage/field_text.h"
#include "db/storage/record.h"

using namespace downsql::storage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const EngineSettings settings;
  static const char kName[] = "MemFuzz.dat";
  std::vector<uint8_t> bytes(data, data + size);
  if (bytes.size() > 24 && bytes[8] != 0xFF) {
    bytes[8] = kTableFormatVersion;
    std::memcpy(&bytes[9], settings.signature_digest().data(), 16);
  }
  {
    TEngineFile file(kName, true);
    file.Create();
    file.Write(0, bytes.data(), bytes.size());
  }
  try {
    TDataFile table("FUZZ", kName, true, settings);
    TPasswordSource passwords;
    passwords.known = [] { return std::vector<std::string>{"x"}; };
    table.Open(true, false, passwords);
    uint32_t slots = table.next_slot() - 1;
    TRecordBuffer rec(table.record_size());
    for (uint32_t n = 1; n <= slots && n <= 256; ++n) {
      TBuffer* b = table.GetBlock(n);
      std::memcpy(rec.data(), b->data.data(), rec.size());
      table.Unpin(b);
      ComputeRecordHash(rec.data(), rec.size(), table.fields());
      for (const TFieldDef& f : table.fields()) {
        ColumnToText(rec, f);
        rec.GetInteger(f);
        rec.GetFloat(f);
      }
    }
    std::set<uint32_t> seen;
    for (uint32_t n = table.free_chain_head(); n != 0 && n <= slots && seen.insert(n).second;) {
      TBuffer* b = table.GetBlock(n);
      uint32_t next;
      std::memcpy(&next, &b->data[1], 4);
      table.Unpin(b);
      n = next;
    }
    table.Verify();
  } catch (const ETabulaEngineError&) {
  }
  TEngineFile(kName, true).Delete();
  return 0;
}
