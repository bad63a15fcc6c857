// Sequential appends and reads of records through a data file's buffer pool.
//
// Each run creates a table of a few typical columns (INTEGER, DATE, VARCHAR,
// FLOAT), appends range(0) records through InsertSlot and writes them, or
// reads them all back slot by slot. Files live in memory ("mem") or in the
// system's temporary directory ("disk"). The counter "records/s" is the
// figure to compare.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "db/storage/data_file.h"
#include "db/storage/record.h"

namespace downsql::storage {
namespace {

TTableDefinition Definition() {
  TTableDefinition definition;
  const struct {
    const char* name;
    uint8_t type;
    uint16_t size;
  } cols[] = {{"ID", kTypeInteger, 0},
              {"Date", kTypeDate, 0},
              {"Name", kTypeString, 30},
              {"Value", kTypeFloat, 0}};
  for (const auto& c : cols) {
    TFieldDef d;
    d.name = c.name;
    d.type = c.type;
    d.size = c.size;
    definition.fields.push_back(d);
  }
  return definition;
}

std::string PathFor(bool in_memory, const char* name) {
  if (in_memory) return std::string("MemBench_") + name + ".dat";
  return (std::filesystem::temp_directory_path() / (std::string("downsql_bench_") + name + ".dat"))
      .string();
}

void Fill(TDataFile& table, int64_t count) {
  const TFieldDef& id = *table.FieldByNumber(1);
  const TFieldDef& date = *table.FieldByNumber(2);
  const TFieldDef& name = *table.FieldByNumber(3);
  const TFieldDef& value = *table.FieldByNumber(4);
  TRecordBuffer rec(table.record_size());
  for (int64_t i = 0; i < count; ++i) {
    rec.Clear();
    rec.SetInteger(id, i);
    rec.SetInteger(date, 730000 + i);
    rec.SetString(name, "Losowanie");
    rec.SetFloat(value, double(i) * 0.5);
    rec.set_record_id(table.NextRecordId());
    rec.set_record_hash(ComputeRecordHash(rec.data(), rec.size(), table.fields()));
    TBuffer* b = table.InsertSlot();
    std::memcpy(b->data.data(), rec.data(), rec.size());
    table.Unpin(b);
  }
  table.WriteModified();
  table.WriteHeader();
}

void BM_Append(benchmark::State& state, bool in_memory) {
  EngineSettings settings;
  std::string path = PathFor(in_memory, "append");
  for (auto _ : state) {
    TDataFile table("BENCH", path, in_memory, settings);
    table.Create(Definition());
    Fill(table, state.range(0));
    table.Close();
  }
  state.counters["records/s"] =
      benchmark::Counter(double(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
  TEngineFile(path, in_memory).Delete();
}

void BM_Read(benchmark::State& state, bool in_memory) {
  EngineSettings settings;
  std::string path = PathFor(in_memory, "read");
  {
    TDataFile table("BENCH", path, in_memory, settings);
    table.Create(Definition());
    Fill(table, state.range(0));
  }
  int64_t sum = 0;
  for (auto _ : state) {
    TDataFile table("BENCH", path, in_memory, settings);
    table.Open(true);
    const TFieldDef& id = *table.FieldByNumber(1);
    TRecordBuffer rec(table.record_size());
    for (uint32_t n = 1; n < table.next_slot(); ++n) {
      TBuffer* b = table.GetBlock(n);
      std::memcpy(rec.data(), b->data.data(), rec.size());
      table.Unpin(b);
      sum += *rec.GetInteger(id);
    }
  }
  benchmark::DoNotOptimize(sum);
  state.counters["records/s"] =
      benchmark::Counter(double(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
  TEngineFile(path, in_memory).Delete();
}

BENCHMARK_CAPTURE(BM_Append, mem, true)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Append, disk, false)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read, mem, true)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read, disk, false)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace downsql::storage

BENCHMARK_MAIN();
