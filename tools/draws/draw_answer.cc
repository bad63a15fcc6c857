// Writing the answer from the service's game tables.
#include "tools/draws/draw_answer.h"

#include <cmath>
#include <cstdio>

#include "base/date_time.h"
#include "platform/file.h"

namespace downsql::draws {

namespace {

// The updater always sends its first game, LOTTO, and sends it with the
// values it starts with when the host has no LOTTO table; every other game
// it sends only when its table exists.
bool IsAbsentMark(const TPayloadMember& member) {
  return member.key == kDrawGames[0].request_key && member.last_id == 1 &&
         member.last_date == PayloadDayZero();
}

}  // namespace

std::string DrawDayText(int32_t day_number) {
  base::Date d = base::DateFromDayNumber(day_number);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

std::string DrawTimestampText(double timestamp_ms) {
  int64_t ms = int64_t(std::floor(timestamp_ms));
  int64_t day = ms / base::kMsPerDay;
  base::TimeOfDay t = base::TimeFromMs(int32_t(ms % base::kMsPerDay));
  char buf[16];
  std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", t.hour, t.minute, t.second);
  return DrawDayText(int32_t(day)) + buf;
}

TDrawAnswer::TDrawAnswer(std::string directory, const std::vector<TPayloadMember>& members,
                         const storage::EngineSettings& settings)
    : directory_(std::move(directory)), settings_(settings) {
  for (const TPayloadMember& member : members) {
    const TDrawGame* game = FindDrawGameByKey(member.key);
    if (game == nullptr || IsAbsentMark(member)) continue;
    std::string data_file = directory_ + std::string(game->table_name) +
                            settings_.extension(storage::EngineSettings::kData);
    if (!platform::FileExists(data_file)) continue;
    games_.push_back({game, member.last_id, member.last_date});
  }
}

TDrawAnswer::~TDrawAnswer() = default;

void TDrawAnswer::OpenNextGame() {
  current_ = &games_[next_game_++];
  storage::TTableOpenOptions options;
  options.directory = directory_;
  options.name = std::string(current_->game->table_name);
  options.settings = &settings_;
  options.read_only = true;
  table_ = storage::TDataTable::Open(options);
  cursor_ = std::make_unique<storage::TDataCursor>(table_, storage::TSessionSettings{});
  cursor_->SetCurrentIndex(0);
  storage::TRecordBuffer key = cursor_->NewRecord();
  key.SetInteger(cursor_->fields()[0], current_->last_id);
  // On the last id itself or just before the next greater one: Next() steps
  // onto the first newer draw either way.
  cursor_->FindKey(key);
  prefix_ = "INSERT INTO " + std::string(current_->game->table_name) + " (" +
            DrawColumnList(*current_->game) + ") VALUES (";
}

void TDrawAnswer::AppendInsert(std::string& out) {
  const storage::TRecordBuffer& r = cursor_->current();
  const std::vector<storage::TFieldDef>& fields = cursor_->fields();
  out += prefix_;
  out += std::to_string(r.GetInteger(fields[0]).value_or(0));
  out += ',';
  if (r.IsNull(fields[1])) {
    out += "NULL";
  } else if (fields[1].type == storage::kTypeTimestamp) {
    out += '\'' + DrawTimestampText(*r.GetFloat(fields[1])) + '\'';
  } else {
    out += '\'' + DrawDayText(int32_t(*r.GetInteger(fields[1]))) + '\'';
  }
  for (int n = 1; n <= current_->game->draw_size; ++n) {
    out += ',';
    std::optional<int64_t> number;
    if (size_t(n + 1) < fields.size()) number = r.GetInteger(fields[size_t(n + 1)]);
    out += number ? std::to_string(*number) : "NULL";
  }
  out += ");\r\n";
  ++draws_;
}

bool TDrawAnswer::Next(std::string& out, size_t budget) {
  const size_t start = out.size();
  while (out.size() - start < budget) {
    if (current_ == nullptr) {
      if (next_game_ == games_.size()) break;
      OpenNextGame();
    }
    if (!cursor_->Next()) {
      cursor_.reset();
      table_.reset();
      current_ = nullptr;
      continue;
    }
    const storage::TRecordBuffer& r = cursor_->current();
    const storage::TFieldDef& date = cursor_->fields()[1];
    double stamp = 0;
    if (!r.IsNull(date)) {
      stamp = date.type == storage::kTypeTimestamp
                  ? *r.GetFloat(date)
                  : double(*r.GetInteger(date)) * double(base::kMsPerDay);
    }
    if (stamp <= current_->last_date) continue;
    AppendInsert(out);
  }
  return out.size() > start;
}

}  // namespace downsql::draws
