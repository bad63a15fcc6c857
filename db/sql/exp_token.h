// TExpToken: one node of an expression tree.
//
// Trees come from TExpressionParser, get their types from
// TExpressionVerifier and are evaluated by EvaluateExpression. A node owns
// its children. Which members a node uses depends on its kind:
//
//   kind            members
//   1 unary         code (NOT, negation, plus), left
//   2 binary        code, left, right; BETWEEN: left, args = {low, high};
//                   LIKE: left, right = pattern, args = {escape} or empty;
//                   IN list: left, args = values; IN sub-query: left, subquery
//   4 function      code (TExpFunction), args; option as listed below
//   5 column        correlation, column_name, star; binding once resolved
//   6 constant      value; param_index >= 0 for a parameter "?"
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/sql/column_resolver.h"
#include "db/sql/value.h"

namespace downsql::sql {

enum TExpNodeKind : uint8_t {
  kNodeUnary = 1,
  kNodeBinary = 2,
  kNodeFunction = 4,
  kNodeList = 8,
  kNodeColumn = 5,
  kNodeConstant = 6,
};

enum TExpOperator : uint8_t {
  kOpEqual = 3,
  kOpNotEqual = 4,
  kOpGreater = 5,
  kOpLess = 6,
  kOpGreaterEqual = 7,
  kOpLessEqual = 8,
  kOpNot = 9,
  kOpAnd = 10,
  kOpOr = 11,
  kOpNegate = 15,
  kOpPlus = 16,
  kOpAdd = 17,  // also || (concatenation)
  kOpSubtract = 18,
  kOpMultiply = 19,
  kOpDivide = 20,
  kOpLike = 28,
  kOpIn = 29,
  kOpInSubQuery = 30,
  kOpBetween = 33,
  kOpNotBetween = 34,
  kOpNotLike = 35,
  kOpNotIn = 36,
  kOpNotInSubQuery = 37,
  kOpMod = 72,
};

// Codes of built-in functions (node kind 4); each has one row in the
// function table (sql_functions.h) with its names, argument syntax and
// types, in this order. Aliases share a code (LCASE = LOWER, CEIL =
// CEILING, POS = POSITION, TRUNC = TRUNCATE, IDENT_CURRENT = LASTAUTOINC).
// MOD(a, b) is the binary operator MOD.
enum TExpFunction : uint8_t {
  kFnSum = 100,
  kFnRunSum,
  kFnAvg,
  kFnStdDev,
  kFnMin,
  kFnMax,
  kFnCount,  // option 1: COUNT(*)
  kFnLower,
  kFnUpper,
  kFnLeft,
  kFnRight,
  kFnRepeat,
  kFnConcat,
  kFnLength,
  kFnSubstring,
  kFnReplace,
  kFnPosition,
  kFnOccurs,
  kFnCast,  // target type in type/subtype/size/scale
  kFnTrim,  // option: 0 BOTH, 1 LEADING, 2 TRAILING; args {characters, string}
  kFnAllTrim,
  kFnLTrim,
  kFnRTrim,
  kFnExtract,  // option: TExtractPart
  kFnYearsFromMsecs,
  kFnDaysFromMsecs,
  kFnHoursFromMsecs,
  kFnMinsFromMsecs,
  kFnSecsFromMsecs,
  kFnMsecsFromMsecs,
  kFnAbs,
  kFnRound,
  kFnAcos,
  kFnAsin,
  kFnAtan,
  kFnAtan2,
  kFnCeiling,
  kFnCos,
  kFnCot,
  kFnDegrees,
  kFnExp,
  kFnFloor,
  kFnLog,
  kFnLog10,
  kFnPi,
  kFnPower,
  kFnRadians,
  kFnRand,
  kFnSign,
  kFnSin,
  kFnSqrt,
  kFnTan,
  kFnTruncate,
  kFnIf,
  kFnIfNull,
  kFnNullIf,
  kFnCoalesce,
  kFnCase,  // option bit 1: a value follows CASE (args[0]); bit 2: ELSE is last
  kFnTextSearch,
  kFnTextOccurs,
  kFnLastAutoInc,
  kFnCurrentDate,
  kFnCurrentTime,
  kFnCurrentTimestamp,
  kFnCurrentGuid,
};

enum TExtractPart : uint8_t {
  kExtractYear,
  kExtractMonth,
  kExtractWeek,
  kExtractDay,
  kExtractDayOfWeek,
  kExtractDayOfYear,
  kExtractHour,
  kExtractMinute,
  kExtractSecond,
  kExtractMSecond,
};

// Aggregate codes of result columns: 0 none.
enum TAggregate : uint8_t {
  kAggNone = 0,
  kAggSum = 1,
  kAggRunSum = 2,
  kAggMin = 3,
  kAggMax = 4,
  kAggAvg = 5,
  kAggStdDev = 6,
  kAggCount = 8,
};

class TExpToken {
 public:
  TExpToken(uint8_t kind, uint8_t code) : kind(kind), code(code) {}

  uint8_t kind;
  uint8_t code;
  std::unique_ptr<TExpToken> left;
  std::unique_ptr<TExpToken> right;
  std::vector<std::unique_ptr<TExpToken>> args;

  std::string text;  // as written, for messages and the plan
  uint32_t line = 0;
  uint32_t column = 0;

  // Column references.
  std::string correlation;
  std::string column_name;
  bool star = false;  // "*" or "table.*"
  bool resolved = false;
  TColumnBinding binding;

  // Result type, fixed by the verifier (by the parser for constants and
  // CAST). Type 0 means no type: the NULL constant or an unbound parameter.
  uint8_t type = 0;
  uint8_t subtype = 0;
  uint32_t size = 0;
  int scale = 0;

  int depth = 1;  // levels of the tree below and including this node

  TValue value;  // constants
  int param_index = -1;
  int option = 0;
  std::unique_ptr<TSubQuery> subquery;

  // The aggregate code of a function node (kAggNone for everything else).
  uint8_t AggregateCode() const;
  bool IsAggregate() const { return AggregateCode() != kAggNone; }
  // True when this node or a node below it is an aggregate.
  bool ContainsAggregate() const;
};

// The built-in function called name (any letter case); false when there is
// none. Aliases map to one code.
bool LookupFunction(std::string_view name, uint8_t* code);

// The SQL name of a function code, in upper case.
const char* FunctionName(uint8_t code);

// The expression written back as SQL text (the plan shows it).
std::string ExpressionText(const TExpToken& node);

}  // namespace downsql::sql
