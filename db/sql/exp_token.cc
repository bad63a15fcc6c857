// Aggregate codes of function nodes and the SQL text of expression trees.
#include "db/sql/exp_token.h"

#include "db/sql/sql_functions.h"

namespace downsql::sql {
namespace {

const char* OperatorText(uint8_t code) {
  switch (code) {
    case kOpEqual:
      return "=";
    case kOpNotEqual:
      return "<>";
    case kOpGreater:
      return ">";
    case kOpLess:
      return "<";
    case kOpGreaterEqual:
      return ">=";
    case kOpLessEqual:
      return "<=";
    case kOpNot:
      return "NOT";
    case kOpAnd:
      return "AND";
    case kOpOr:
      return "OR";
    case kOpNegate:
      return "-";
    case kOpPlus:
      return "+";
    case kOpAdd:
      return "+";
    case kOpSubtract:
      return "-";
    case kOpMultiply:
      return "*";
    case kOpDivide:
      return "/";
    case kOpLike:
      return "LIKE";
    case kOpNotLike:
      return "NOT LIKE";
    case kOpIn:
    case kOpInSubQuery:
      return "IN";
    case kOpNotIn:
    case kOpNotInSubQuery:
      return "NOT IN";
    case kOpBetween:
      return "BETWEEN";
    case kOpNotBetween:
      return "NOT BETWEEN";
    case kOpMod:
      return "MOD";
    default:
      return "?";
  }
}

}  // namespace

uint8_t TExpToken::AggregateCode() const {
  if (kind != kNodeFunction) return kAggNone;
  switch (code) {
    case kFnSum:
      return kAggSum;
    case kFnRunSum:
      return kAggRunSum;
    case kFnMin:
      return kAggMin;
    case kFnMax:
      return kAggMax;
    case kFnAvg:
      return kAggAvg;
    case kFnStdDev:
      return kAggStdDev;
    case kFnCount:
      return kAggCount;
    default:
      return kAggNone;
  }
}

bool TExpToken::ContainsAggregate() const {
  if (IsAggregate()) return true;
  if (left && left->ContainsAggregate()) return true;
  if (right && right->ContainsAggregate()) return true;
  for (const auto& a : args) {
    if (a->ContainsAggregate()) return true;
  }
  return false;
}

bool LookupFunction(std::string_view name, uint8_t* code) {
  const TSqlFunction* f = FindSqlFunction(name);
  if (f != nullptr) *code = f->code;
  return f != nullptr;
}

const char* FunctionName(uint8_t code) {
  return code >= kFnSum && code <= kFnCurrentGuid ? SqlFunction(code).name : "?";
}

std::string ExpressionText(const TExpToken& node) {
  // The text as written when the parser made the node; built otherwise.
  if (!node.text.empty()) return node.text;
  switch (node.kind) {
    case kNodeConstant:
      if (node.param_index >= 0) return "?";
      if (node.value.null) return "NULL";
      if (node.value.type == storage::kTypeString) return "'" + node.value.s + "'";
      if (node.value.type == storage::kTypeFloat) return std::to_string(node.value.f);
      return std::to_string(node.value.i);
    case kNodeColumn: {
      std::string name = node.star ? "*" : node.column_name;
      return node.correlation.empty() ? name : node.correlation + "." + name;
    }
    case kNodeUnary:
      return std::string(OperatorText(node.code)) + (node.code == kOpNot ? " " : "") +
             ExpressionText(*node.left);
    case kNodeBinary: {
      std::string s = ExpressionText(*node.left) + " " + OperatorText(node.code) + " ";
      if (node.code == kOpBetween || node.code == kOpNotBetween) {
        return s + ExpressionText(*node.args[0]) + " AND " + ExpressionText(*node.args[1]);
      }
      if (node.code == kOpIn || node.code == kOpNotIn) {
        s += "(";
        for (size_t i = 0; i < node.args.size(); ++i) {
          s += (i ? "," : "") + ExpressionText(*node.args[i]);
        }
        return s + ")";
      }
      if (node.right) s += ExpressionText(*node.right);
      if (!node.args.empty()) s += " ESCAPE " + ExpressionText(*node.args[0]);
      return s;
    }
    default: {
      std::string s = std::string(FunctionName(node.code)) + "(";
      if (node.code == kFnCount && node.option == 1) s += "*";
      for (size_t i = 0; i < node.args.size(); ++i) {
        s += (i ? "," : "") + ExpressionText(*node.args[i]);
      }
      return s + ")";
    }
  }
}

}  // namespace downsql::sql
