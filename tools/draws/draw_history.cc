// Generating the sample history into the game tables.
#include "tools/draws/draw_history.h"

#include <memory>
#include <numeric>
#include <random>

#include "base/date_time.h"
#include "db/storage/column_type.h"
#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"

namespace downsql::draws {

namespace {

// A uniform draw from 0..n-1 without the bias of a plain modulo; written out
// because the standard distributions may differ between libraries, and the
// history must not.
uint32_t Uniform(std::mt19937_64& rng, uint32_t n) {
  const uint64_t limit = UINT64_MAX - UINT64_MAX % n;
  uint64_t x;
  do {
    x = rng();
  } while (x >= limit);
  return uint32_t(x % n);
}

// Numbers without repetition from each pool, pool by pool.
void DrawNumbers(const TDrawGame& game, std::mt19937_64& rng, std::vector<int>& out) {
  out.clear();
  std::vector<int> pool;
  for (const TNumberPool& p : game.pools) {
    if (p.count == 0) continue;
    pool.resize(size_t(p.high - p.low + 1));
    std::iota(pool.begin(), pool.end(), p.low);
    for (int i = 0; i < p.count; ++i) {
      uint32_t j = uint32_t(i) + Uniform(rng, uint32_t(pool.size()) - uint32_t(i));
      std::swap(pool[size_t(i)], pool[j]);
      out.push_back(pool[size_t(i)]);
    }
  }
}

// One game table being written: held exclusively, so nothing reaches the
// files before the table is closed or its buffers are evicted.
class TTableWriter {
 public:
  TTableWriter(const std::string& directory, const TDrawGame& game,
               const storage::EngineSettings& settings) {
    CreateDrawTable(directory, game, settings);
    storage::TTableOpenOptions options;
    options.directory = directory;
    options.name = std::string(game.table_name);
    options.settings = &settings;
    options.exclusive = true;
    cursor_ = std::make_unique<storage::TDataCursor>(storage::TDataTable::Open(options),
                                                     storage::TSessionSettings{});
  }

  void Write(int32_t id, int32_t day, int minute, bool with_time, const std::vector<int>& numbers) {
    const std::vector<storage::TFieldDef>& f = cursor_->fields();
    storage::TRecordBuffer r = cursor_->NewRecord();
    r.SetInteger(f[0], id);
    if (with_time) {
      r.SetFloat(f[1], double(day) * double(base::kMsPerDay) + double(minute) * 60000.0);
    } else {
      r.SetInteger(f[1], day);
    }
    for (size_t i = 0; i < numbers.size(); ++i) r.SetInteger(f[2 + i], numbers[i]);
    cursor_->Insert(r);
  }

 private:
  std::unique_ptr<storage::TDataCursor> cursor_;
};

int64_t CountDraws(const TDrawGame& game, int32_t first_day, int32_t last_day) {
  int64_t per_weekday[7];
  for (int w = 0; w < 7; ++w) per_weekday[w] = int64_t(DrawMinutes(game, w).size());
  int64_t total = 0;
  for (int32_t day = first_day; day <= last_day; ++day) total += per_weekday[WeekdayOf(day)];
  return total;
}

}  // namespace

int WeekdayOf(int32_t day_number) { return int((day_number - 1) % 7); }

std::vector<int> DrawMinutes(const TDrawGame& game, int weekday) {
  std::vector<int> minutes;
  const TDrawRhythm& r = game.rhythm;
  if ((r.weekdays & (1 << weekday)) == 0) return minutes;
  for (int m = r.first_minute; m <= r.last_minute; m += r.every_minutes) {
    minutes.push_back(m);
    if (r.every_minutes == 0) break;
  }
  return minutes;
}

THistoryCounts GenerateHistory(const THistoryOptions& options,
                               const storage::EngineSettings& settings) {
  std::vector<const TDrawGame*> games = options.games;
  if (games.empty()) {
    for (const TDrawGame& game : kDrawGames) games.push_back(&game);
  }
  int64_t total = 0;
  for (const TDrawGame* game : games)
    total += CountDraws(*game, options.first_day, options.last_day);

  THistoryCounts counts;
  int64_t done = 0;
  std::vector<int> numbers;
  for (const TDrawGame* game : games) {
    std::seed_seq seq{uint32_t(options.seed), uint32_t(options.seed >> 32),
                      uint32_t(game - kDrawGames.data())};
    std::mt19937_64 rng(seq);
    TTableWriter service(options.service_directory, *game, settings);
    std::unique_ptr<TTableWriter> host;
    if (!options.host_directory.empty()) {
      host = std::make_unique<TTableWriter>(options.host_directory, *game, settings);
    }
    int32_t id = 0;
    for (int32_t day = options.first_day; day <= options.last_day; ++day) {
      for (int minute : DrawMinutes(*game, WeekdayOf(day))) {
        DrawNumbers(*game, rng, numbers);
        ++id;
        service.Write(id, day, minute, game->with_time, numbers);
        ++counts.service_draws;
        if (host && day <= options.host_last_day) {
          host->Write(id, day, minute, game->with_time, numbers);
          ++counts.host_draws;
        }
        if (options.progress && ++done % 4096 == 0) options.progress(done, total);
      }
    }
  }
  if (options.progress) options.progress(total, total);
  return counts;
}

}  // namespace downsql::draws
