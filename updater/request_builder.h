// The request to the results service: one address whose single query
// parameter "data" lists, per game, the key, table, last stored draw date,
// draw size and last stored id:
//
//   http://HOST/dtools/down_all_232.php?data={"dl":["LOTTO","2013-05-04",6,5432],...}
//
// Game 0 is always the first member, present or not; games 1 to 12 follow in
// catalogue order only when present. Nothing is escaped here (no value holds
// a quote); the sender encodes the address before it goes on the wire.
#pragma once

#include <string>
#include <string_view>

#include "updater/update_state.h"

namespace downsql::updater {

inline constexpr std::string_view kRequestPath = "/dtools/down_all_232.php?";
inline constexpr std::string_view kRequestParameter = "data=";

// The unencoded request address for host ("host" or "host:port") from the
// state as it is now. Raises std::out_of_range for a date outside the years
// 1 to 9999.
std::string BuildRequestAddress(const UpdateState& state, std::string_view host);

// The value of "data": "{" members "}", no blanks except inside dates.
std::string BuildRequestPayload(const UpdateState& state);

}  // namespace downsql::updater
