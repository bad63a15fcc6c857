// The built-in SQL functions, one row each: names, how the arguments are
// written, what the arguments must be and what the result is. The grammar
// reads the argument syntax from the row, the verifier the argument kinds
// and the result, the evaluator the row's numeric function where it has
// one. Functions whose typing or evaluation needs more than a row says
// (aggregates, CASE, IF, COALESCE, the text functions that size their
// result) keep a case of their own in the verifier and the evaluator, keyed
// by the row's code.
//
// Adding a function: a code in TExpFunction (exp_token.h), a row here in
// code order, and its case where the row cannot say everything.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "db/sql/exp_token.h"

namespace downsql::sql {

// How the arguments stand between the parentheses.
enum TFunctionSyntax : uint8_t {
  // min_args to max_args arguments; before argument i (from 1) the keyword
  // separators[i - 1] or a comma. An argument followed by the separator IN
  // is read without IN as its own operator. lead, when set, is a keyword
  // that may stand before the first argument.
  kSyntaxArguments,
  kSyntaxList,       // one or more arguments separated by commas
  kSyntaxAggregate,  // one argument; COUNT also takes *
  kSyntaxCast,       // CAST(a AS type)
  kSyntaxTrim,       // TRIM([LEADING | TRAILING | BOTH] [characters] FROM a)
  kSyntaxExtract,    // EXTRACT(part FROM a)
  kSyntaxBareWord,   // the name alone, no parentheses (CURRENT_DATE)
  kSyntaxCase,       // CASE [value] WHEN ... THEN ... [ELSE ...] END
};

// What the verifier requires of one argument.
enum TArgumentKind : char {
  kArgNumber = 'N',
  kArgText = 'T',
};

// The result type the verifier gives a call; kResultOwn: the function's own
// case decides (and checks the arguments itself).
enum TFunctionResult : uint8_t {
  kResultOwn,
  kResultInteger,
  kResultFloat,
  kResultBoolean,
  kResultDate,
  kResultTime,
  kResultTimestamp,
};

struct TSqlFunction {
  uint8_t code;       // TExpFunction
  const char* name;   // the SQL name, upper case
  const char* alias;  // another name for it, or nullptr
  TFunctionSyntax syntax;
  uint8_t min_args;
  uint8_t max_args;
  const char* separators[2];   // keywords between the arguments; "" a comma only
  const char* lead;            // optional keyword before the first argument
  const char* argument_kinds;  // one TArgumentKind per argument checked
  TFunctionResult result;
  // The value for numeric arguments (a, b; b is 0 for one argument), NaN
  // or infinity where there is none; nullptr: the evaluator's own case.
  double (*numeric)(double a, double b);
};

inline constexpr double kPi = 3.14159265358979323846;

// Every row, in code order.
std::span<const TSqlFunction> SqlFunctions();

// The row of a function code.
const TSqlFunction& SqlFunction(uint8_t code);

// The function called name (any letter case, or its alias); nullptr when
// there is none.
const TSqlFunction* FindSqlFunction(std::string_view name);

}  // namespace downsql::sql
