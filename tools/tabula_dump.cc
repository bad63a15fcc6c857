// tabula-dump: prints a table's data file for inspection.
//
//   tabula-dump [--raw] [--password TEXT] TABLE.dat
//
// The header field by field (offset, name, value), the column definitions,
// every record slot (decoded, or as hex with --raw) and the free-slot chain.
// Text is shown as UTF-8. A damaged file is reported with the engine's
// error, after everything that could still be read.
#include <cstdio>
#include <cstring>
#include <exception>
#include <set>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/code_page.h"
#include "db/storage/column_def.h"
#include "db/storage/data_file.h"
#include "db/storage/engine_error.h"
#include "db/storage/engine_file.h"
#include "db/storage/field_text.h"
#include "db/storage/record.h"
#include "tools/tabula_dump_index.h"

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

std::string Utf8(const std::string& cp1250) { return base::Cp1250ToUtf8(cp1250); }

void Field(size_t offset, const char* name, const std::string& value) {
  std::printf("  %5zu  %-26s %s\n", offset, name, value.c_str());
}

void DumpHeader(const uint8_t* h) {
  using base::GetLE16;
  using base::GetLE32;
  std::printf("Header (512 bytes)\n  offset  field                      value\n");
  Field(0, "update count", std::to_string(int32_t(GetLE32(h + 0))));
  Field(4, "reserved", Hex(h + 4, 4));
  Field(8, "format version", std::to_string(h[8]));
  base::Md5Digest sig = base::Md5(kDefaultSignature);
  Field(9, "signature digest",
        Hex(h + 9, 16) + (std::memcmp(h + 9, sig.data(), 16) == 0 ? " (TABULA_SIG)" : ""));
  Field(25, "free-chain head", std::to_string(GetLE32(h + 25)));
  Field(29, "next slot", std::to_string(int32_t(GetLE32(h + 29))));
  Field(33, "last RecordID", std::to_string(GetLE32(h + 33)));
  Field(37, "last AUTOINC", std::to_string(GetLE32(h + 37)));
  Field(41, "record count", std::to_string(GetLE32(h + 41)));
  Field(45, "record size", std::to_string(GetLE16(h + 45)));
  Field(47, "column count", std::to_string(GetLE16(h + 47)));
  Field(49, "BLOB columns", std::to_string(GetLE16(h + 49)));
  Field(51, "BLOB block size", std::to_string(GetLE32(h + 51)));
  Field(55, "last BLOB version", std::to_string(GetLE32(h + 55)));
  Field(59, "index page size", std::to_string(GetLE32(h + 59)));
  double stamp = base::GetLEDouble(h + 63) + 693594.0;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", stamp);
  std::string when = buf;
  if (stamp > -693593.0 && stamp < 2958466.0)
    when += " (" + FormatTimestampText(TimestampFromHost(stamp)) + ")";
  Field(63, "last updated", when);
  Field(71, "description", "\"" + Utf8(GetShortString(h + 71, 100)) + "\"");
  Field(172, "encrypted", std::to_string(h[172]));
  Field(173, "password check", Hex(h + 173, 16));
  Field(189, "locale", std::to_string(GetLE32(h + 189)));
  Field(193, "user major version", std::to_string(GetLE16(h + 193)));
  Field(195, "user minor version", std::to_string(GetLE16(h + 195)));
  Field(197, "header modified", std::to_string(h[197]));
  bool zero = true;
  for (size_t i = 198; i < 512; ++i) zero = zero && h[i] == 0;
  Field(198, "reserved", zero ? "(zero)" : "(not zero)");
}

void DumpColumns(const TDataFile& table) {
  std::printf("\nColumns (%u)\n", table.column_count());
  std::printf("  %4s  %-20s %-16s %6s %6s %4s %4s  %s\n", "no", "name", "type", "stored", "offset",
              "req", "case", "min / max / default / compression / description");
  for (const TFieldDef& f : table.fields()) {
    std::printf("  %4d  %-20s %-16s %6u %6u %4d %4d  \"%s\" / \"%s\" / \"%s\" / %u / \"%s\"\n",
                f.number, Utf8(f.name).c_str(), TypeName(f).c_str(), f.stored_size, f.offset,
                f.required ? 1 : 0, f.char_case, Utf8(f.min_value).c_str(),
                Utf8(f.max_value).c_str(), Utf8(f.default_value).c_str(), f.compression,
                Utf8(f.description).c_str());
  }
}

void DumpRecords(TDataFile& table, bool raw) {
  uint32_t slots = table.next_slot() - 1;
  std::printf("\nRecords (%u slots, %u live)\n", slots, table.record_count());
  for (uint32_t n = 1; n <= slots; ++n) {
    TBuffer* b = table.GetBlock(n);
    TRecordBuffer rec(table.record_size());
    std::memcpy(rec.data(), b->data.data(), rec.size());
    table.Unpin(b);
    if (raw) {
      std::printf("  slot %u: %s\n", n, Hex(rec.data(), rec.size()).c_str());
      continue;
    }
    if (rec.status() == kSlotDeleted) {
      std::printf("  slot %u: deleted, next free %d\n", n, rec.link());
      continue;
    }
    base::Md5Digest hash = rec.record_hash();
    std::printf("  slot %u: RecordID=%d RecordHash=%s", n, rec.record_id(),
                Hex(hash.data(), 16).c_str());
    for (const TFieldDef& f : table.fields()) {
      if (f.computed) continue;
      std::string v = rec.IsNull(f) ? "NULL" : ColumnToText(rec, f);
      if (f.type == kTypeString && !rec.IsNull(f) && f.subtype != kSubtypeWideChar)
        v = "\"" + Utf8(v) + "\"";
      std::printf(" %s=%s", Utf8(f.name).c_str(), v.c_str());
    }
    std::printf("\n");
  }
}

void DumpFreeChain(TDataFile& table) {
  uint32_t slots = table.next_slot() - 1;
  std::printf("\nFree-slot chain:");
  std::set<uint32_t> seen;
  for (uint32_t n = table.free_chain_head(); n != 0;) {
    std::printf(" %u ->", n);
    // A link outside the file or back into the chain is damage, not a loop.
    if (n > slots || !seen.insert(n).second) {
      std::printf(" (broken)\n");
      throw ETabulaEngineError(kErrRecordBuffersCorrupt, {table.table_name()});
    }
    TBuffer* b = table.GetBlock(n);
    uint8_t status = b->data[0];
    uint32_t next = base::GetLE32(&b->data[1]);
    table.Unpin(b);
    if (status != kSlotDeleted) {
      std::printf(" (slot %u is not deleted)\n", n);
      throw ETabulaEngineError(kErrRecordBuffersCorrupt, {table.table_name()});
    }
    n = next;
  }
  std::printf(" end\n");
}

std::string TableNameOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

int Run(int argc, char** argv) {
  bool raw = false;
  std::string password, path;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--raw") {
      raw = true;
    } else if (a == "--password" && i + 1 < argc) {
      password = base::Utf8ToCp1250(argv[++i]);
    } else if (path.empty() && !a.empty() && a[0] != '-') {
      path = a;
    } else {
      path.clear();
      break;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "usage: tabula-dump [--raw] [--password TEXT] TABLE.dat\n");
    return 2;
  }
  EngineSettings settings;
  try {
    {
      TEngineFile file(path, false);
      file.Open(true);
      uint8_t header[kTableHeaderSize];
      file.Read(0, header, sizeof header);
      std::printf("Data file %s, %llu bytes\n", path.c_str(), (unsigned long long)file.Size());
      DumpHeader(header);
    }
    TDataFile table(TableNameOf(path), path, false, settings);
    TPasswordSource source;
    source.known = [&] { return std::vector<std::string>{password}; };
    table.Open(true, false, source);
    DumpColumns(table);
    DumpRecords(table, raw);
    DumpFreeChain(table);
    DumpIndexAndBlobFiles(path, table, password, settings);
    table.Verify();
    std::printf("\nVerified: no damage found\n");
    return 0;
  } catch (const ETabulaEngineError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
}

}  // namespace
}  // namespace downsql::storage

int main(int argc, char** argv) { return downsql::storage::Run(argc, argv); }
