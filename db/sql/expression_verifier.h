// TExpressionVerifier: resolves the column references of a parsed
// expression and fixes the result type of every node, rejecting ill-typed
// trees with parsing errors that end like the parser's (the same code,
// context text, line and column).
//
// Type rules, in short:
//  - a string constant that stands opposite a date, time or timestamp
//    operand of a binary operator (or in its IN list) becomes that type;
//  - comparisons need comparable operands (numbers with numbers, text with
//    text, date with date or timestamp, time with time, Boolean with
//    Boolean, bytes with bytes) and give Boolean;
//  - NOT, AND and OR need Boolean operands;
//  - arithmetic needs numbers; integers widen to Integer, then LargeInt,
//    Decimal, Float; / always gives Float; + and || on text concatenate;
//    dates and times take day or millisecond offsets (date - date gives
//    days, time - time milliseconds);
//  - an operand of no type (NULL, an unbound parameter) fits anything.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/sql/exp_token.h"
#include "db/storage/engine_error.h"

namespace downsql::sql {

// Kinds of operand a clause may permit (flags for RequireOperandKind).
enum TOperandKind : uint32_t {
  kOperandUnaryOperator = 1,           // NOT, -, +
  kOperandBinaryOperator = 2,          // arithmetic, AND, OR
  kOperandCompareOperator = 4,         // = <> < <= > >=
  kOperandExtendedBinaryOperator = 8,  // LIKE, IN, BETWEEN and their NOT forms
  kOperandColumnName = 16,
  kOperandConstantValue = 32,
  kOperandFunctionName = 64,
};

// The kind of a node as one TOperandKind flag.
uint32_t OperandKindOf(const TExpToken& node);

// The names of the permitted kinds for an Expected message: ", " between
// them and " or " before the last ("column name, constant value or function
// name").
std::string OperandKindNames(uint32_t permitted);

class TExpressionVerifier {
 public:
  void set_resolver(TColumnResolver* resolver) { resolver_ = resolver; }
  void set_context(std::string_view context) { context_.assign(context.data(), context.size()); }
  const std::string& context() const { return context_; }
  void set_error_code(uint32_t code) { error_code_ = code; }
  void set_database_name(std::string_view name) { database_name_.assign(name.data(), name.size()); }

  // Resolves and types every node of the tree. Raises ETabulaEngineError
  // (the parsing code) on an unknown column, on operands of the wrong type,
  // on invalid constant arguments and on an aggregate inside an aggregate.
  void Verify(TExpToken& root);

  // Rejects a column reference outside any aggregate when the tree holds an
  // aggregate ("Invalid use of non-aggregated column in expression"), unless
  // grouped and the column is a GROUP BY column of the resolver.
  void CheckAggregateUse(const TExpToken& root, bool grouped);

  // Turns a string constant node into a constant of type (date, time or
  // timestamp). Returns false when the node is a string constant whose text
  // is not such a value; other nodes are left alone (true).
  bool ConvertConstant(TExpToken& node, uint8_t type);

  // Raises the Expected error naming the permitted kinds unless the node is
  // one of them.
  void RequireOperandKind(const TExpToken& node, uint32_t permitted) const;

  // Raises the verifier's error with message at the node's place.
  [[noreturn]] void Error(const TExpToken& node, std::string_view message) const;
  // "Expected <what> but instead found <node text> in <context>".
  [[noreturn]] void ExpectedError(const TExpToken& node, std::string_view what) const;

 private:
  void VerifyNode(TExpToken& node, int aggregate_depth);
  void VerifyColumn(TExpToken& node);
  void VerifyUnary(TExpToken& node);
  void VerifyBinary(TExpToken& node);
  void VerifyFunction(TExpToken& node);
  void Comparable(TExpToken& left, TExpToken& right);
  void ConvertOpposite(TExpToken& a, TExpToken& b);
  void RequireBoolean(const TExpToken& node);
  void RequireNumber(const TExpToken& node);
  void RequireText(const TExpToken& node);
  uint8_t Unify(const TExpToken& a, const TExpToken& b, uint32_t* size);
  void ConstantRange(const TExpToken& node, int low, int high, std::string_view message);

  TColumnResolver* resolver_ = nullptr;
  std::string context_ = "SQL statement";
  uint32_t error_code_ = storage::kErrSqlParsing;
  std::string database_name_;
};

}  // namespace downsql::sql
