// draws-history: writes a reproducible sample history of the thirteen games
// into a results service's database and, up to a chosen day, into a host
// database (see tools/draws/draw_history.h and README.md for the tables).
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "base/date_time.h"
#include "db/storage/engine_settings.h"
#include "platform/file.h"
#include "tools/draws/draw_answer.h"
#include "tools/draws/draw_history.h"
#include "tools/draws/draw_payload.h"
#include "ui/progress_bar.h"

namespace {

using namespace downsql;

void PrintHelp() {
  std::cout << "usage: draws-history [options] --db DIR\n"
               "\n"
               "Writes a sample draw history of the lottery games, the same for the same\n"
               "seed, into the results service's database DIR and, with --host-db, into a\n"
               "host database that ends some days earlier. The directories are created\n"
               "when missing; their game tables must not exist yet.\n"
               "\n"
               "options:\n"
               "  --db DIR               the service's database (every draw)\n"
               "  --host-db DIR          also a host database, with the draws up to --host-until\n"
               "  --host-until DAY       last day of the host's draws (default: 28 days\n"
               "                         before --to)\n"
               "  --from DAY             first day (default 2025-01-01)\n"
               "  --to DAY               last day (default 2025-12-31)\n"
               "  --seed N               the generator's seed (default 1)\n"
               "  --games KEY,KEY...     only these games, by request key (default: all):\n"
               "                         ";
  for (const draws::TDrawGame& game : draws::kDrawGames) std::cout << game.request_key << ' ';
  std::cout << "\n"
               "  --help                 this text\n"
               "\n"
               "DAY is written yyyy-mm-dd. A progress bar is drawn when standard error\n"
               "is a terminal.\n";
}

int Usage(const std::string& problem) {
  std::cerr << "draws-history: " << problem << "\n(draws-history --help explains the options)\n";
  return 2;
}

std::optional<int32_t> Day(const std::string& text) {
  if (text.size() != 10) return std::nullopt;
  std::optional<double> stamp = draws::ParseDrawDate(text);
  if (!stamp) return std::nullopt;
  return int32_t(*stamp / double(base::kMsPerDay));
}

std::string Directory(std::string dir) {
  std::filesystem::create_directories(dir);
  if (dir.back() != '/' && dir.back() != '\\') dir += platform::PathSeparator();
  return dir;
}

}  // namespace

int main(int argc, char** argv) {
  draws::THistoryOptions options;
  options.first_day = base::DayNumber(2025, 1, 1);
  options.last_day = base::DayNumber(2025, 12, 31);
  std::optional<int32_t> host_until;
  std::string service_dir, host_dir;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      PrintHelp();
      return 0;
    }
    if (i + 1 >= args.size()) return Usage("unknown option or missing value: " + a);
    const std::string& v = args[++i];
    if (a == "--db") {
      service_dir = v;
    } else if (a == "--host-db") {
      host_dir = v;
    } else if (a == "--from" || a == "--to" || a == "--host-until") {
      std::optional<int32_t> day = Day(v);
      if (!day) return Usage("not a day (yyyy-mm-dd): " + v);
      (a == "--from" ? options.first_day
       : a == "--to" ? options.last_day
                     : host_until.emplace()) = *day;
    } else if (a == "--seed") {
      char* end = nullptr;
      options.seed = std::strtoull(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0') return Usage("not a seed: " + v);
    } else if (a == "--games") {
      size_t start = 0;
      while (start <= v.size()) {
        size_t comma = v.find(',', start);
        std::string key =
            v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const draws::TDrawGame* game = draws::FindDrawGameByKey(key);
        if (game == nullptr) return Usage("unknown game key: " + key);
        options.games.push_back(game);
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    } else {
      return Usage("unknown option: " + a);
    }
  }
  if (service_dir.empty()) return Usage("--db DIR is missing");
  if (options.last_day < options.first_day) return Usage("--to is before --from");
  options.host_last_day = host_until.value_or(options.last_day - 28);

  try {
    options.service_directory = Directory(service_dir);
    if (!host_dir.empty()) options.host_directory = Directory(host_dir);
    ui::TProgressBar bar("writing draws");
    options.progress = [&bar](int64_t done, int64_t total) { bar.Update(done, total); };
    storage::EngineSettings settings;
    draws::THistoryCounts counts = draws::GenerateHistory(options, settings);
    bar.Finish();
    size_t games = options.games.empty() ? draws::kDrawGames.size() : options.games.size();
    std::cout << "draws-history: " << counts.service_draws << " draws of " << games
              << " games from " << draws::DrawDayText(options.first_day) << " to "
              << draws::DrawDayText(options.last_day) << " in " << options.service_directory
              << "\n";
    if (!host_dir.empty()) {
      std::cout << "draws-history: " << counts.host_draws << " of them, up to "
                << draws::DrawDayText(options.host_last_day) << ", in " << options.host_directory
                << "\n";
    }
  } catch (const std::exception& e) {
    std::cerr << "draws-history: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
