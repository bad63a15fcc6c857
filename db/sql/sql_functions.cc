// The table of built-in SQL functions.
#include "db/sql/sql_functions.h"

#include <cmath>
#include <cstring>

namespace downsql::sql {
namespace {

constexpr double kNoValue = NAN;

// Shorthands for the rows below.
constexpr TSqlFunction Aggregate(uint8_t code, const char* name, const char* kinds,
                                 TFunctionResult result) {
  return {code, name, nullptr, kSyntaxAggregate, 1, 1, {"", ""}, nullptr, kinds, result, nullptr};
}
constexpr TSqlFunction Call(uint8_t code, const char* name, const char* alias, uint8_t min_args,
                            uint8_t max_args, const char* first_separator,
                            const char* second_separator, const char* kinds, TFunctionResult result,
                            double (*numeric)(double, double) = nullptr) {
  return {code,
          name,
          alias,
          kSyntaxArguments,
          min_args,
          max_args,
          {first_separator, second_separator},
          nullptr,
          kinds,
          result,
          numeric};
}
constexpr TSqlFunction Form(uint8_t code, const char* name, TFunctionSyntax syntax,
                            TFunctionResult result = kResultOwn) {
  return {code, name, nullptr, syntax, 0, 0, {"", ""}, nullptr, "", result, nullptr};
}
// A function of one number with a floating-point result.
constexpr TSqlFunction Numeric(uint8_t code, const char* name, const char* alias,
                               double (*numeric)(double, double)) {
  return Call(code, name, alias, 1, 1, "", "", "N", kResultFloat, numeric);
}

constexpr TSqlFunction kFunctions[] = {
    Aggregate(kFnSum, "SUM", "", kResultOwn),
    Aggregate(kFnRunSum, "RUNSUM", "", kResultOwn),
    Aggregate(kFnAvg, "AVG", "", kResultOwn),
    Aggregate(kFnStdDev, "STDDEV", "N", kResultFloat),
    Aggregate(kFnMin, "MIN", "", kResultOwn),
    Aggregate(kFnMax, "MAX", "", kResultOwn),
    Aggregate(kFnCount, "COUNT", "", kResultInteger),
    Call(kFnLower, "LOWER", "LCASE", 1, 1, "", "", "", kResultOwn),
    Call(kFnUpper, "UPPER", "UCASE", 1, 1, "", "", "", kResultOwn),
    Call(kFnLeft, "LEFT", nullptr, 2, 2, "FOR", "", "", kResultOwn),
    Call(kFnRight, "RIGHT", nullptr, 2, 2, "FOR", "", "", kResultOwn),
    Call(kFnRepeat, "REPEAT", nullptr, 2, 2, "WITH", "", "", kResultOwn),
    Call(kFnConcat, "CONCAT", nullptr, 2, 2, "WITH", "", "", kResultOwn),
    Call(kFnLength, "LENGTH", nullptr, 1, 1, "", "", "T", kResultInteger),
    Call(kFnSubstring, "SUBSTRING", nullptr, 2, 3, "FROM", "FOR", "", kResultOwn),
    Call(kFnReplace, "REPLACE", nullptr, 3, 3, "WITH", "IN", "", kResultOwn),
    Call(kFnPosition, "POSITION", "POS", 2, 2, "IN", "", "TT", kResultInteger),
    Call(kFnOccurs, "OCCURS", nullptr, 2, 2, "IN", "", "TT", kResultInteger),
    Form(kFnCast, "CAST", kSyntaxCast),
    Form(kFnTrim, "TRIM", kSyntaxTrim),
    Call(kFnAllTrim, "ALLTRIM", nullptr, 1, 1, "", "", "", kResultOwn),
    Call(kFnLTrim, "LTRIM", nullptr, 1, 1, "", "", "", kResultOwn),
    Call(kFnRTrim, "RTRIM", nullptr, 1, 1, "", "", "", kResultOwn),
    Form(kFnExtract, "EXTRACT", kSyntaxExtract),
    Call(kFnYearsFromMsecs, "YEARSFROMMSECS", nullptr, 1, 1, "", "", "N", kResultInteger),
    Call(kFnDaysFromMsecs, "DAYSFROMMSECS", nullptr, 1, 1, "", "", "N", kResultInteger),
    Call(kFnHoursFromMsecs, "HOURSFROMMSECS", nullptr, 1, 1, "", "", "N", kResultInteger),
    Call(kFnMinsFromMsecs, "MINSFROMMSECS", nullptr, 1, 1, "", "", "N", kResultInteger),
    Call(kFnSecsFromMsecs, "SECSFROMMSECS", nullptr, 1, 1, "", "", "N", kResultInteger),
    Call(kFnMsecsFromMsecs, "MSECSFROMMSECS", nullptr, 1, 1, "", "", "N", kResultInteger),
    Call(kFnAbs, "ABS", nullptr, 1, 1, "", "", "", kResultOwn),
    Call(kFnRound, "ROUND", nullptr, 1, 2, "TO", "", "", kResultOwn),
    Numeric(kFnAcos, "ACOS", nullptr, [](double a, double) { return std::acos(a); }),
    Numeric(kFnAsin, "ASIN", nullptr, [](double a, double) { return std::asin(a); }),
    Numeric(kFnAtan, "ATAN", nullptr, [](double a, double) { return std::atan(a); }),
    Call(kFnAtan2, "ATAN2", nullptr, 2, 2, "", "", "NN", kResultFloat,
         [](double a, double b) { return std::atan2(a, b); }),
    Numeric(kFnCeiling, "CEILING", "CEIL", [](double a, double) { return std::ceil(a); }),
    Numeric(kFnCos, "COS", nullptr, [](double a, double) { return std::cos(a); }),
    Numeric(kFnCot, "COT", nullptr, [](double a, double) { return 1.0 / std::tan(a); }),
    Numeric(kFnDegrees, "DEGREES", nullptr, [](double a, double) { return a * 180.0 / kPi; }),
    Numeric(kFnExp, "EXP", nullptr, [](double a, double) { return std::exp(a); }),
    Numeric(kFnFloor, "FLOOR", nullptr, [](double a, double) { return std::floor(a); }),
    Numeric(kFnLog, "LOG", nullptr,
            [](double a, double) { return a > 0 ? std::log(a) : kNoValue; }),
    Numeric(kFnLog10, "LOG10", nullptr,
            [](double a, double) { return a > 0 ? std::log10(a) : kNoValue; }),
    Call(kFnPi, "PI", nullptr, 0, 0, "", "", "", kResultFloat),
    Call(kFnPower, "POWER", nullptr, 2, 2, "TO", "", "NN", kResultFloat,
         [](double a, double b) { return std::pow(a, b); }),
    Numeric(kFnRadians, "RADIANS", nullptr, [](double a, double) { return a * kPi / 180.0; }),
    {kFnRand, "RAND", nullptr, kSyntaxArguments, 0, 1, {"", ""}, "RANGE", "", kResultOwn, nullptr},
    Call(kFnSign, "SIGN", nullptr, 1, 1, "", "", "N", kResultInteger),
    Numeric(kFnSin, "SIN", nullptr, [](double a, double) { return std::sin(a); }),
    Numeric(kFnSqrt, "SQRT", nullptr,
            [](double a, double) { return a >= 0 ? std::sqrt(a) : kNoValue; }),
    Numeric(kFnTan, "TAN", nullptr, [](double a, double) { return std::tan(a); }),
    Call(kFnTruncate, "TRUNCATE", "TRUNC", 1, 2, "TO", "", "", kResultOwn),
    Call(kFnIf, "IF", nullptr, 3, 3, "THEN", "ELSE", "", kResultOwn),
    Call(kFnIfNull, "IFNULL", nullptr, 2, 2, "THEN", "", "", kResultOwn),
    Call(kFnNullIf, "NULLIF", nullptr, 2, 2, "", "", "", kResultOwn),
    Form(kFnCoalesce, "COALESCE", kSyntaxList),
    Form(kFnCase, "CASE", kSyntaxCase),
    Call(kFnTextSearch, "TEXTSEARCH", nullptr, 2, 2, "IN", "", "TT", kResultBoolean),
    Call(kFnTextOccurs, "TEXTOCCURS", nullptr, 2, 2, "IN", "", "TT", kResultInteger),
    Call(kFnLastAutoInc, "LASTAUTOINC", "IDENT_CURRENT", 1, 1, "", "", "T", kResultInteger),
    Form(kFnCurrentDate, "CURRENT_DATE", kSyntaxBareWord, kResultDate),
    Form(kFnCurrentTime, "CURRENT_TIME", kSyntaxBareWord, kResultTime),
    Form(kFnCurrentTimestamp, "CURRENT_TIMESTAMP", kSyntaxBareWord, kResultTimestamp),
    Form(kFnCurrentGuid, "CURRENT_GUID", kSyntaxBareWord),
};

constexpr bool InCodeOrder() {
  uint8_t code = kFnSum;
  for (const TSqlFunction& f : kFunctions) {
    if (f.code != code++) return false;
  }
  return true;
}
static_assert(InCodeOrder(), "the rows stand in the order of their codes, from kFnSum up");

bool SameWord(std::string_view a, const char* b) {
  if (b == nullptr || a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != b[i]) return false;
  }
  return true;
}

}  // namespace

std::span<const TSqlFunction> SqlFunctions() { return kFunctions; }

const TSqlFunction& SqlFunction(uint8_t code) { return kFunctions[code - kFnSum]; }

const TSqlFunction* FindSqlFunction(std::string_view name) {
  for (const TSqlFunction& f : kFunctions) {
    if (SameWord(name, f.name) || SameWord(name, f.alias)) return &f;
  }
  return nullptr;
}

}  // namespace downsql::sql
