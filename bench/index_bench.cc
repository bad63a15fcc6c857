// Inserts and lookups per second for 1,000,000 INTEGER keys in a unique
// index at the default index page size (4096), through the index file and
// its buffer pool (memory file, engine default buffer limits).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "base/byte_order.h"
#include "db/storage/column_def.h"
#include "db/storage/column_type.h"
#include "db/storage/engine_settings.h"
#include "db/storage/index_file.h"

namespace downsql::storage {
namespace {

constexpr uint32_t kPageSize = 4096;
constexpr int kKeys = 1000000;

std::vector<TFieldDef> Columns() {
  std::vector<TFieldDef> columns(1);
  columns[0].number = 1;
  columns[0].name = "Id";
  columns[0].type = kTypeInteger;
  AssignRecordLayout(columns);
  return columns;
}

std::vector<int32_t> Values(bool shuffled) {
  std::vector<int32_t> values(kKeys);
  std::iota(values.begin(), values.end(), -kKeys / 2);
  if (shuffled) std::shuffle(values.begin(), values.end(), std::mt19937(42));
  return values;
}

struct Index {
  EngineSettings settings;
  std::vector<TFieldDef> columns = Columns();
  TIndexFile file{"Bench", "memory\\index_bench.idx", true, settings};
  TKeyComparator cmp;
  uint8_t record[32] = {};

  Index() {
    TIndexDefinition primary;
    primary.columns = {1};
    file.Create(kPageSize);
    file.ReplacePrimary(primary, columns);
    cmp = file.Comparator(0, columns, 0);
  }
  ~Index() {
    file.Close();
    file.file().Delete();
  }
  void Key(int32_t v, uint8_t* key) {
    record[columns[0].offset] = 1;
    base::PutLE32(&record[columns[0].offset + 1], static_cast<uint32_t>(v));
    cmp.BuildKey(record, key);
  }
};

void BM_Insert(benchmark::State& state) {
  const std::vector<int32_t> values = Values(state.range(0) != 0);
  for (auto _ : state) {
    Index index;
    uint8_t key[8];
    for (int i = 0; i < kKeys; ++i) {
      index.Key(values[i], key);
      auto tree = index.file.Tree(0, index.cmp);
      if (!tree->Insert(key, static_cast<uint32_t>(i + 1))) state.SkipWithError("duplicate");
    }
    index.file.Flush();
  }
  state.counters["inserts/s"] =
      benchmark::Counter(double(kKeys) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Insert)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("shuffled")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_Lookup(benchmark::State& state) {
  Index index;
  const std::vector<int32_t> values = Values(true);
  uint8_t key[8];
  for (int i = 0; i < kKeys; ++i) {
    index.Key(values[i], key);
    auto tree = index.file.Tree(0, index.cmp);
    tree->Insert(key, static_cast<uint32_t>(i + 1));
  }
  index.file.Flush();
  const std::vector<int32_t> probes = Values(true);
  for (auto _ : state) {
    for (int i = 0; i < kKeys; ++i) {
      index.Key(probes[i], key);
      auto tree = index.file.Tree(0, index.cmp);
      benchmark::DoNotOptimize(tree->Find(key));
    }
  }
  state.counters["lookups/s"] =
      benchmark::Counter(double(kKeys) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Lookup)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace downsql::storage

BENCHMARK_MAIN();
