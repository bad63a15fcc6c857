// The results service's reading of the updater's request: the `data`
// parameter of GET /dtools/down_all_232.php, already URL-decoded.
//
// The payload is one JSON object whose members are games, in the order the
// updater sent them:
//
//   {"dl":["LOTTO","2013-05-04",6,5432],
//    "multi_multi":["multi_multi","2013-05-04 21:40:00",20,98765]}
//
//   member name  the game's request key
//   [0]          the game's table name (text)
//   [1]          the date of the last stored draw: "yyyy-mm-dd" or
//                "yyyy-mm-dd hh:nn:ss"
//   [2]          the draw size (whole number)
//   [3]          the id of the last stored draw (whole number, 32 bits)
//
// Keys the service does not know are the caller's to skip; the shape is
// checked for every member all the same.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace downsql::draws {

// A payload that is not the expected shape; what() is one line saying why.
class EBadPayload : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TPayloadMember {
  std::string key;
  std::string table;
  // The last stored draw: its date as a table timestamp (day number *
  // 86400000 + milliseconds since midnight) and its id.
  double last_date = 0;
  int64_t draw_size = 0;
  int32_t last_id = 0;
};

// Parses the payload; raises EBadPayload for anything but an object of
// members of the shape above (invalid JSON, a member that is not a
// four-element array, a value of the wrong type, a date that is not a real
// date in either form, an id out of the 32-bit range, the same key twice).
std::vector<TPayloadMember> ParseDrawPayload(std::string_view payload);

// "yyyy-mm-dd" or "yyyy-mm-dd hh:nn:ss" as a table timestamp, or nullopt
// for anything else (also for a day that does not exist).
std::optional<double> ParseDrawDate(std::string_view text);

// The date of an empty payload member: 30 December 1899, the updater's day 0.
double PayloadDayZero();

}  // namespace downsql::draws
