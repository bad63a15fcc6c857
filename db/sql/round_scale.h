// The scale that ROUND and TRUNCATE take: 0 to kMaxRoundScale. The verifier
// checks constant scales, the evaluator every other one, with one message.
#pragma once

namespace downsql::sql {

inline constexpr int kMaxRoundScale = 4;
inline constexpr char kScaleMessage[] =
    "Scale argument must be an integer less than or equal to 4 but greater than or equal to 0";

}  // namespace downsql::sql
