// Evaluation of verified expression trees against the current row.
//
// The rules that matter for NULLs:
//  1. a column takes its value from the resolver; with no row that is the
//     execution error "Internal error: Column "x" specified illegally";
//  2. AND and OR evaluate their right operand first and the left one only
//     when the right one does not decide; a NULL Boolean counts as false;
//  3. = is true for two NULLs and false for one; <> is its exact opposite
//     (this is how IS NULL and IS NOT NULL work);
//  4. <, <=, >, >= compare text with a NULL as the empty text; for other
//     types a NULL makes the comparison false;
//  5. BETWEEN is >= low, then <= high;
//  6. LIKE with a NULL operand is false (so NOT LIKE is true); % matches
//     any run, _ one character, the ESCAPE character makes the next one
//     literal;
//  7. IN compares by rule 3 and stops at the first match;
//  8. arithmetic with a NULL gives NULL; / always gives a floating-point
//     value and NULL for a zero divisor (MOD too); + and || join text.
// Functions give NULL for a NULL argument, except IFNULL, NULLIF, COALESCE,
// CASE and IF (whose condition counts as false when NULL).
// Conditions and comparisons give Booleans that are never NULL.
#pragma once

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "db/sql/exp_token.h"
#include "platform/clock.h"
#include "platform/locale.h"

namespace downsql::sql {

// A seed for a context's random numbers. Contexts are made for every
// statement, so only the first call asks the system's random device.
uint64_t NewRandomSeed();

// What an expression may use while it runs; owned by the statement.
struct TEvalContext {
  TColumnResolver* resolver = nullptr;
  // Values of the parameters "?" in order of appearance.
  const std::vector<TValue>* parameters = nullptr;
  // Text order and case mapping; locale 0 when not set.
  const platform::Collation* collation = nullptr;
  // The local date and time for CURRENT_DATE, CURRENT_TIME and
  // CURRENT_TIMESTAMP; platform::LocalNow when not set.
  std::function<platform::LocalDateTime()> clock;
  // The last AUTOINC value handed out for a table (LASTAUTOINC).
  std::function<std::optional<int64_t>(const std::string& table)> last_autoinc;
  // RAND and CURRENT_GUID.
  std::mt19937_64 random{NewRandomSeed()};
};

// The value of node on the current row. Raises storage::ETabulaEngineError
// 11950 for a column without a row, for failed conversions and for integer
// overflow.
TValue EvaluateExpression(const TExpToken& node, TEvalContext& context);

// The expression as a condition: true only for a non-NULL true value.
bool EvaluateCondition(const TExpToken& node, TEvalContext& context);

// Compares two non-NULL values of comparable types (<0, 0, >0); text by the
// context's collation. Used by the statements for ordering and grouping.
int CompareValues(const TValue& a, const TValue& b, const TEvalContext& context);

// SQL LIKE: % any run, _ one character, escape (-1 for none) quotes the next
// pattern character.
bool MatchLike(std::string_view text, std::string_view pattern, int escape);

}  // namespace downsql::sql
