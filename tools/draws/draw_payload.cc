// Reading the request payload with nlohmann-json; every fault becomes one
// EBadPayload line that the service sends back with status 400.
#include "tools/draws/draw_payload.h"

#include <nlohmann/json.hpp>

#include <limits>
#include <optional>

#include "base/date_time.h"

namespace downsql::draws {

namespace {

using Json = nlohmann::ordered_json;

// Digits at text[pos, pos + n) as a number, or -1.
int Digits(std::string_view text, size_t pos, size_t n) {
  int value = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::optional<double> ParseDrawDate(std::string_view text) {
  if (text.size() != 10 && text.size() != 19) return std::nullopt;
  if (text[4] != '-' || text[7] != '-') return std::nullopt;
  int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  if (year < 1 || month < 0 || day < 0 || !base::IsValidDate(year, month, day)) return std::nullopt;
  int32_t ms = 0;
  if (text.size() == 19) {
    if (text[10] != ' ' || text[13] != ':' || text[16] != ':') return std::nullopt;
    int hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
      return std::nullopt;
    }
    ms = base::TimeMs(hour, minute, second, 0);
  }
  return double(base::DayNumber(year, month, day)) * double(base::kMsPerDay) + ms;
}

namespace {

// Payload text quoted in a reason: at most 40 characters, anything outside
// printable ASCII as '?', so that the reason stays one line.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size() && i < 40; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    out += (c >= 0x20 && c < 0x7F) ? char(c) : '?';
  }
  if (text.size() > 40) out += "...";
  return out + "\"";
}

TPayloadMember ReadMember(const std::string& key, const Json& value) {
  const std::string where = "member " + Quoted(key);
  if (!value.is_array() || value.size() != 4) {
    throw EBadPayload(where + " is not an array of four values");
  }
  TPayloadMember member;
  member.key = key;
  if (!value[0].is_string()) throw EBadPayload(where + ": the table name is not a text");
  member.table = value[0].get<std::string>();
  if (!value[1].is_string()) throw EBadPayload(where + ": the date is not a text");
  const std::string& date = value[1].get_ref<const std::string&>();
  std::optional<double> stamp = ParseDrawDate(date);
  if (!stamp) throw EBadPayload(where + ": " + Quoted(date) + " is not a date");
  member.last_date = *stamp;
  if (!value[2].is_number_integer())
    throw EBadPayload(where + ": the draw size is not a whole number");
  member.draw_size = value[2].get<int64_t>();
  if (!value[3].is_number_integer()) throw EBadPayload(where + ": the id is not a whole number");
  // An unsigned beyond the signed range reads as negative; test the kind first.
  if (value[3].is_number_unsigned() &&
      value[3].get<uint64_t>() > uint64_t(std::numeric_limits<int32_t>::max())) {
    throw EBadPayload(where + ": the id is out of range");
  }
  int64_t id = value[3].get<int64_t>();
  if (id < std::numeric_limits<int32_t>::min() || id > std::numeric_limits<int32_t>::max()) {
    throw EBadPayload(where + ": the id is out of range");
  }
  member.last_id = int32_t(id);
  return member;
}

}  // namespace

std::vector<TPayloadMember> ParseDrawPayload(std::string_view payload) {
  Json root;
  try {
    root = Json::parse(payload.begin(), payload.end());
  } catch (const Json::parse_error& e) {
    throw EBadPayload("the payload is not JSON (at byte " + std::to_string(e.byte) + ")");
  } catch (const Json::exception&) {
    throw EBadPayload("the payload is not JSON");
  }
  if (!root.is_object()) throw EBadPayload("the payload is not an object of games");
  std::vector<TPayloadMember> members;
  for (const auto& [key, value] : root.items()) members.push_back(ReadMember(key, value));
  return members;
}

double PayloadDayZero() { return double(base::kHostEpochDayNumber) * double(base::kMsPerDay); }

}  // namespace downsql::draws
