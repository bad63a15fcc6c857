// The whole road: a service database and a host database that lags behind
// it, draws-service running, and "downsql update --yes" importing what the
// host misses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/date_time.h"
#include "db/storage/column_type.h"
#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"
#include "tests/platform/temp_dir.h"
#include "tests/tools/service_process.h"
#include "tools/draws/draw_history.h"

namespace downsql::draws {
namespace {

using platform::TempDir;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::TServiceProcess;

// Every record of a table in id order, each as its column bytes.
std::vector<std::string> Rows(const std::string& dir, std::string_view table) {
  storage::EngineSettings settings;
  storage::TTableOpenOptions options;
  options.directory = dir;
  options.name = std::string(table);
  options.settings = &settings;
  storage::TDataCursor cursor(storage::TDataTable::Open(options), storage::TSessionSettings{});
  cursor.SetCurrentIndex(0);
  std::vector<std::string> rows;
  while (cursor.Next()) {
    const storage::TRecordBuffer& r = cursor.current();
    std::string row;
    for (const storage::TFieldDef& f : cursor.fields()) {
      row += std::to_string(r.GetInteger(f).value_or(0));
      if (f.type == storage::kTypeTimestamp) row += ":" + std::to_string(*r.GetFloat(f));
      row += ",";
    }
    rows.push_back(row);
  }
  return rows;
}

struct TRun {
  int status;
  std::string out;
};

TRun Update(const std::string& host, const std::string& service) {
  std::string command = std::string(DOWNSQL_CLI_PATH) + " update '" + host + "' --service " +
                        service + " --yes </dev/null 2>&1";
  TRun run{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(UpdateEndToEndTest, ImportsExactlyTheMissingDrawsOfThePresentGames) {
  TempDir dir;
  const std::string service_dir = dir.path() + "/service/", host_dir = dir.path() + "/host/";
  std::filesystem::create_directories(service_dir);
  std::filesystem::create_directories(host_dir);
  storage::EngineSettings settings;
  THistoryOptions options;
  options.seed = 11;
  options.first_day = base::DayNumber(2025, 11, 1);
  options.last_day = base::DayNumber(2025, 12, 31);
  options.host_last_day = base::DayNumber(2025, 12, 10);
  options.service_directory = service_dir;
  options.host_directory = host_dir;
  GenerateHistory(options, settings);
  // KENO DE has no table at the host: it must not be asked for.
  for (const char* ext : {".dat", ".idx"}) std::filesystem::remove(host_dir + "keno_de" + ext);
  int64_t missing = 0;
  for (const TDrawGame& game : kDrawGames) {
    if (game.table_name == "keno_de") continue;
    missing +=
        int64_t(Rows(service_dir, game.table_name).size() - Rows(host_dir, game.table_name).size());
  }

  TServiceProcess service(DRAWS_SERVICE_PATH, service_dir, dir.path() + "/service.log");
  TRun first = Update(host_dir, service.address());
  ASSERT_EQ(first.status, 0) << first.out;
  EXPECT_THAT(first.out, HasSubstr("KENO DE gra nie jest aktywna"));
  EXPECT_THAT(first.out, HasSubstr("GOTOWE mo\xC5\xBCna wprowadzi\xC4\x87 losowania do bazy"));
  for (const TDrawGame& game : kDrawGames) {
    if (game.table_name == "keno_de") continue;
    SCOPED_TRACE(game.table_name);
    EXPECT_EQ(Rows(host_dir, game.table_name), Rows(service_dir, game.table_name));
  }
  EXPECT_FALSE(std::filesystem::exists(host_dir + "keno_de.dat"));
  // The summary after the import shows the service's last days.
  EXPECT_THAT(first.out, HasSubstr("SZYBKIE600 nast\xC4\x99pne po dniu 31-12-2025"));

  TRun second = Update(host_dir, service.address());
  ASSERT_EQ(second.status, 0) << second.out;
  EXPECT_THAT(second.out, HasSubstr("GOTOWE \xC5\xBC"
                                    "adnych nowych losowa\xC5\x84 nie znaleziono, "
                                    "spr\xC3\xB3"
                                    "buj p\xC3\xB3\xC5\xBAniej ..."));
  EXPECT_THAT(second.out, Not(HasSubstr("Do baz gier wprowadzono")));

  service.Stop();
  // Twelve games asked for each time (KENO DE not among them); all the new
  // draws the first time, none the second.
  std::string log = service.Log();
  EXPECT_THAT(log, HasSubstr(" 200 games=12 draws=" + std::to_string(missing) + " "));
  EXPECT_THAT(log, HasSubstr(" 200 games=12 draws=0 "));
}

}  // namespace
}  // namespace downsql::draws
