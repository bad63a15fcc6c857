// Column resolution and the type rules of expressions.
#include "db/sql/expression_verifier.h"

#include <algorithm>

#include "db/sql/date_time_text.h"
#include "db/sql/round_scale.h"
#include "db/sql/sql_functions.h"
#include "db/storage/engine_error.h"

namespace downsql::sql {
namespace {

using namespace storage;

constexpr uint32_t kMaxStringSize = 512;

bool IsUntyped(const TExpToken& n) { return n.type == 0; }

bool IsStringConstant(const TExpToken& n) {
  return n.kind == kNodeConstant && n.param_index < 0 && n.type == kTypeString;
}

// The class an operand belongs to for comparisons and results.
enum Class { kNone, kNumber, kText, kDay, kClock, kBool, kRaw };

Class ClassOf(uint8_t type) {
  if (type == 0) return kNone;
  if (IsNumericType(type)) return kNumber;
  if (IsTextType(type)) return kText;
  if (type == kTypeDate || type == kTypeTimestamp) return kDay;
  if (type == kTypeTime) return kClock;
  if (type == kTypeBoolean) return kBool;
  return kRaw;
}

const char* ClassWords(Class c) {
  switch (c) {
    case kNumber:
      return "numeric expression";
    case kText:
      return "string expression";
    case kDay:
      return "date or timestamp expression";
    case kClock:
      return "time expression";
    case kBool:
      return "boolean expression";
    default:
      return "bytes expression";
  }
}

uint8_t WiderNumber(uint8_t a, uint8_t b) {
  if (a == kTypeFloat || b == kTypeFloat) return kTypeFloat;
  if (a == kTypeDecimal || b == kTypeDecimal) return kTypeDecimal;
  if (a == kTypeLargeInt || b == kTypeLargeInt) return kTypeLargeInt;
  return kTypeInteger;
}

// The type of a result a function's row states.
uint8_t ResultType(TFunctionResult result) {
  switch (result) {
    case kResultInteger:
      return kTypeInteger;
    case kResultBoolean:
      return kTypeBoolean;
    case kResultDate:
      return kTypeDate;
    case kResultTime:
      return kTypeTime;
    case kResultTimestamp:
      return kTypeTimestamp;
    default:
      return kTypeFloat;
  }
}

void SetType(TExpToken& n, uint8_t type, uint8_t subtype = 0, uint32_t size = 0) {
  n.type = type;
  n.subtype = subtype;
  n.size = size;
}

}  // namespace

uint32_t OperandKindOf(const TExpToken& node) {
  switch (node.kind) {
    case kNodeUnary:
      return kOperandUnaryOperator;
    case kNodeColumn:
      return kOperandColumnName;
    case kNodeConstant:
      return kOperandConstantValue;
    case kNodeFunction:
    case kNodeList:
      return kOperandFunctionName;
    default:
      if (node.code >= kOpEqual && node.code <= kOpLessEqual) return kOperandCompareOperator;
      if (node.code >= kOpLike && node.code <= kOpNotInSubQuery) {
        return kOperandExtendedBinaryOperator;
      }
      return kOperandBinaryOperator;
  }
}

std::string OperandKindNames(uint32_t permitted) {
  static const char* const kNames[] = {
      "unary operator", "binary operator", "compare operator", "extended binary operator",
      "column name",    "constant value",  "function name"};
  std::vector<std::string> names;
  for (int i = 0; i < 7; ++i) {
    if (permitted & (1u << i)) names.push_back(kNames[i]);
  }
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? " or " : ", ";
    out += names[i];
  }
  return out;
}

void TExpressionVerifier::RequireOperandKind(const TExpToken& node, uint32_t permitted) const {
  if (!(OperandKindOf(node) & permitted)) ExpectedError(node, OperandKindNames(permitted));
}

void TExpressionVerifier::Error(const TExpToken& node, std::string_view message) const {
  std::string text(message);
  if (text.size() > 255) text.resize(255);
  std::vector<std::string> names;
  if (error_code_ != kErrSqlParsing) names.push_back(database_name_);
  names.push_back(text);
  names.push_back(std::to_string(node.line));
  names.push_back(std::to_string(node.column));
  throw ETabulaEngineError(error_code_, std::move(names));
}

void TExpressionVerifier::ExpectedError(const TExpToken& node, std::string_view what) const {
  Error(node, "Expected " + std::string(what) + " but instead found " + ExpressionText(node) +
                  " in " + context_);
}

void TExpressionVerifier::Verify(TExpToken& root) { VerifyNode(root, 0); }

void TExpressionVerifier::VerifyNode(TExpToken& node, int aggregate_depth) {
  const bool aggregate = node.IsAggregate();
  if (aggregate && aggregate_depth > 0) Error(node, "Invalid nesting of aggregate functions");
  const int depth = aggregate_depth + (aggregate ? 1 : 0);
  if (node.left) VerifyNode(*node.left, depth);
  if (node.right) VerifyNode(*node.right, depth);
  for (auto& a : node.args) VerifyNode(*a, depth);
  switch (node.kind) {
    case kNodeColumn:
      VerifyColumn(node);
      break;
    case kNodeUnary:
      VerifyUnary(node);
      break;
    case kNodeBinary:
      VerifyBinary(node);
      break;
    case kNodeFunction:
      VerifyFunction(node);
      break;
    default:
      break;  // constants carry their type from the parser
  }
}

void TExpressionVerifier::VerifyColumn(TExpToken& node) {
  if (node.star) return;  // the statement expands * itself
  TColumnBinding b;
  if (resolver_ == nullptr || !resolver_->ResolveColumn(node.correlation, node.column_name, &b)) {
    ExpectedError(node, "column name");
  }
  node.binding = b;
  node.resolved = true;
  node.type = b.type;
  node.subtype = b.subtype;
  node.size = b.size;
  node.scale = b.scale;
}

void TExpressionVerifier::RequireBoolean(const TExpToken& n) {
  if (!IsUntyped(n) && n.type != kTypeBoolean) ExpectedError(n, ClassWords(kBool));
}

void TExpressionVerifier::RequireNumber(const TExpToken& n) {
  if (!IsUntyped(n) && !IsNumericType(n.type)) ExpectedError(n, ClassWords(kNumber));
}

void TExpressionVerifier::RequireText(const TExpToken& n) {
  if (!IsUntyped(n) && !IsTextType(n.type)) ExpectedError(n, ClassWords(kText));
}

bool TExpressionVerifier::ConvertConstant(TExpToken& node, uint8_t type) {
  if (!IsStringConstant(node) || !IsDateTimeType(type)) return true;
  if (node.value.null) {
    SetType(node, type);
    node.value = TValue::Null(type);
    return true;
  }
  TValue v;
  if (type == kTypeDate) {
    const auto d = ParseDateText(node.value.s);
    if (!d) return false;
    v = TValue::Date(*d);
  } else if (type == kTypeTime) {
    const auto t = ParseTimeText(node.value.s);
    if (!t) return false;
    v = TValue::Time(*t);
  } else {
    const auto t = ParseTimestampText(node.value.s);
    if (!t) return false;
    v = TValue::Timestamp(*t);
  }
  node.value = v;
  SetType(node, type);
  return true;
}

void TExpressionVerifier::ConvertOpposite(TExpToken& a, TExpToken& b) {
  // A string constant opposite a date, time or timestamp takes that type.
  for (auto [c, other] : {std::pair<TExpToken*, TExpToken*>{&a, &b}, {&b, &a}}) {
    if (IsStringConstant(*c) && IsDateTimeType(other->type) && !ConvertConstant(*c, other->type)) {
      const std::string& text = c->value.s;
      Error(*c, other->type == kTypeDate   ? InvalidDateMessage(text)
                : other->type == kTypeTime ? InvalidTimeMessage(text)
                                           : InvalidTimestampMessage(text));
    }
  }
}

void TExpressionVerifier::Comparable(TExpToken& left, TExpToken& right) {
  ConvertOpposite(left, right);
  const Class a = ClassOf(left.type), b = ClassOf(right.type);
  if (a == kNone || b == kNone || a == b) {
    // A parameter takes the type of what it is compared with.
    if (a == kNone && right.type != 0 && left.param_index >= 0) SetType(left, right.type);
    if (b == kNone && left.type != 0 && right.param_index >= 0) SetType(right, left.type);
    return;
  }
  ExpectedError(right, ClassWords(a));
}

uint8_t TExpressionVerifier::Unify(const TExpToken& a, const TExpToken& b, uint32_t* size) {
  *size = std::max(a.size, b.size);
  if (IsUntyped(a)) return b.type;
  if (IsUntyped(b)) return a.type;
  const Class ca = ClassOf(a.type), cb = ClassOf(b.type);
  if (ca != cb) ExpectedError(b, ClassWords(ca));
  if (ca == kNumber) return a.type == b.type ? a.type : WiderNumber(a.type, b.type);
  if (ca == kText) return a.type == kTypeBlob || b.type == kTypeBlob ? kTypeBlob : kTypeString;
  if (ca == kDay && a.type != b.type) return kTypeTimestamp;
  return a.type;
}

void TExpressionVerifier::VerifyUnary(TExpToken& node) {
  TExpToken& x = *node.left;
  if (node.code == kOpNot) {
    RequireBoolean(x);
    SetType(node, kTypeBoolean);
    return;
  }
  RequireNumber(x);
  const bool small = x.type == kTypeSmallInt || x.type == kTypeWord;
  SetType(node, small ? uint8_t{kTypeInteger} : x.type,
          x.subtype == kSubtypeMoney ? kSubtypeMoney : 0);
  node.scale = x.scale;
}

void TExpressionVerifier::VerifyBinary(TExpToken& node) {
  TExpToken& l = *node.left;
  switch (node.code) {
    case kOpAnd:
    case kOpOr:
      RequireBoolean(l);
      RequireBoolean(*node.right);
      SetType(node, kTypeBoolean);
      return;
    case kOpEqual:
    case kOpNotEqual:
    case kOpGreater:
    case kOpLess:
    case kOpGreaterEqual:
    case kOpLessEqual:
      Comparable(l, *node.right);
      SetType(node, kTypeBoolean);
      return;
    case kOpBetween:
    case kOpNotBetween:
    case kOpIn:
    case kOpNotIn:
      for (auto& a : node.args) Comparable(l, *a);
      SetType(node, kTypeBoolean);
      return;
    case kOpInSubQuery:
    case kOpNotInSubQuery:
      if (node.subquery->ColumnCount() != 1) {
        Error(node, "The number of columns in an IN sub-query cannot be more than 1");
      }
      SetType(node, kTypeBoolean);
      return;
    case kOpLike:
    case kOpNotLike:
      RequireText(l);
      RequireText(*node.right);
      for (auto& a : node.args) RequireText(*a);
      SetType(node, kTypeBoolean);
      return;
    default:
      break;
  }
  TExpToken& r = *node.right;
  ConvertOpposite(l, r);
  // An unbound parameter takes the type of the other operand (an offset
  // opposite a date or time is a number).
  for (auto [p, other] : {std::pair<TExpToken*, TExpToken*>{&l, &r}, {&r, &l}}) {
    if (p->param_index >= 0 && IsUntyped(*p) && !IsUntyped(*other)) {
      const bool offset = IsDateTimeType(other->type) && (node.code == kOpAdd || p == &r);
      SetType(*p, offset ? uint8_t{kTypeFloat} : other->type, 0, other->size);
    }
  }
  const uint8_t a = l.type, b = r.type;
  if (node.code == kOpAdd && (IsTextType(a) || IsTextType(b))) {
    if (!IsUntyped(l)) RequireText(l);
    if (!IsUntyped(r)) RequireText(r);
    // The sum, also above the 512 a column holds: a SELECT refuses such a
    // result column rather than cutting its values.
    SetType(node, a == kTypeBlob || b == kTypeBlob ? kTypeBlob : kTypeString, 0, l.size + r.size);
    return;
  }
  if ((node.code == kOpAdd || node.code == kOpSubtract) &&
      (IsDateTimeType(a) || IsDateTimeType(b))) {
    // Offsets: date +/- days, time and timestamp +/- milliseconds; the
    // difference of two values of one type is a number.
    const TExpToken& when = IsDateTimeType(a) ? l : r;
    const TExpToken& other = IsDateTimeType(a) ? r : l;
    if (IsDateTimeType(a) && IsDateTimeType(b) && node.code == kOpSubtract) {
      if (a != b) ExpectedError(r, ClassWords(ClassOf(a)));
      SetType(node, a == kTypeTimestamp ? kTypeFloat
                    : a == kTypeDate    ? kTypeInteger
                                        : kTypeInteger);
      return;
    }
    if (&when == &r && node.code == kOpSubtract) ExpectedError(r, ClassWords(kNumber));
    RequireNumber(other);
    SetType(node, when.type);
    return;
  }
  RequireNumber(l);
  RequireNumber(r);
  if (node.code == kOpDivide) {
    SetType(node, kTypeFloat);
  } else if (node.code == kOpMod) {
    SetType(node, IsIntegerType(a) && IsIntegerType(b) ? WiderNumber(a, b) : uint8_t{kTypeFloat});
  } else if (IsUntyped(l) && IsUntyped(r)) {
    SetType(node, 0);
  } else {
    SetType(node, WiderNumber(IsUntyped(l) ? b : a, IsUntyped(r) ? a : b));
    node.scale = std::max(l.scale, r.scale);
  }
}

void TExpressionVerifier::ConstantRange(const TExpToken& node, int low, int high,
                                        std::string_view message) {
  // A constant behind signs ("-1") is a constant too.
  const TExpToken* k = &node;
  bool negative = false;
  while (k->kind == kNodeUnary && (k->code == kOpNegate || k->code == kOpPlus) && k->left) {
    if (k->code == kOpNegate) negative = !negative;
    k = k->left.get();
  }
  if (k->kind != kNodeConstant || k->param_index >= 0) return;
  const int64_t value = negative ? -k->value.i : k->value.i;
  if (!IsIntegerType(k->type) || k->value.null || value < low || value > high) {
    Error(node, message);
  }
}

void TExpressionVerifier::VerifyFunction(TExpToken& node) {
  auto& args = node.args;
  auto arg_size = [&](size_t i) { return i < args.size() ? args[i]->size : 0; };
  const TSqlFunction& f = SqlFunction(node.code);
  if (f.result != kResultOwn) {
    for (size_t i = 0; i < args.size() && f.argument_kinds[i] != '\0'; ++i) {
      if (f.argument_kinds[i] == kArgNumber) {
        RequireNumber(*args[i]);
      } else {
        RequireText(*args[i]);
      }
    }
    SetType(node, ResultType(f.result));
    return;
  }
  switch (node.code) {
    case kFnMin:
    case kFnMax: {
      const TExpToken& x = *args[0];
      if (IsUntyped(x)) {
        SetType(node, kTypeFloat);
      } else {
        SetType(node, x.type, x.subtype == kSubtypeAutoInc ? 0 : x.subtype, x.size);
        node.scale = x.scale;
      }
      return;
    }
    case kFnSum:
    case kFnRunSum:
    case kFnAvg: {
      const TExpToken& x = *args[0];
      RequireNumber(x);
      uint8_t t = x.type;
      if (t == 0) t = kTypeFloat;
      if (t == kTypeSmallInt || t == kTypeWord)
        t = kTypeInteger;
      else if (t == kTypeInteger)
        t = kTypeLargeInt;
      SetType(node, t, x.subtype == kSubtypeMoney ? kSubtypeMoney : 0);
      node.scale = x.scale;
      return;
    }
    case kFnLower:
    case kFnUpper:
    case kFnAllTrim:
    case kFnLTrim:
    case kFnRTrim:
      RequireText(*args[0]);
      SetType(node, args[0]->type == kTypeBlob ? kTypeBlob : kTypeString, 0, arg_size(0));
      return;
    case kFnTrim:
      RequireText(*args[0]);
      RequireText(*args[1]);
      SetType(node, kTypeString, 0, arg_size(1));
      return;
    case kFnLeft:
    case kFnRight:
    case kFnRepeat: {
      RequireText(*args[0]);
      RequireNumber(*args[1]);
      const TExpToken& n = *args[1];
      const uint32_t base = arg_size(0) == 0 ? kMaxStringSize : arg_size(0);
      uint32_t size = node.code == kFnRepeat ? kMaxStringSize : base;
      if (n.kind == kNodeConstant && IsIntegerType(n.type) && !n.value.null) {
        const int64_t count = n.value.i;
        if (count <= 0 || count > kMaxStringSize) {
          Error(n, "Length argument must be greater than 0 and less than or equal to " +
                       std::to_string(kMaxStringSize));
        }
        const int64_t wanted =
            node.code == kFnRepeat ? count * base : std::min<int64_t>(count, base);
        size = static_cast<uint32_t>(std::min<int64_t>(kMaxStringSize, wanted));
      }
      SetType(node, kTypeString, 0, size == 0 ? kMaxStringSize : size);
      return;
    }
    case kFnConcat:
      RequireText(*args[0]);
      RequireText(*args[1]);
      SetType(node, kTypeString, 0, std::min(kMaxStringSize, arg_size(0) + arg_size(1)));
      return;
    case kFnSubstring:
      RequireText(*args[0]);
      for (size_t i = 1; i < args.size(); ++i) RequireNumber(*args[i]);
      SetType(node, kTypeString, 0, arg_size(0) == 0 ? kMaxStringSize : arg_size(0));
      return;
    case kFnReplace:
      for (auto& a : args) RequireText(*a);
      SetType(node, kTypeString, 0, kMaxStringSize);
      return;
    case kFnCast:
      return;  // the parser set the target type
    case kFnExtract: {
      TExpToken& x = *args[0];
      if (IsStringConstant(x) && !x.value.null) {
        if (!ConvertConstant(x, kTypeDate) && !ConvertConstant(x, kTypeTime) &&
            !ConvertConstant(x, kTypeTimestamp)) {
          Error(x, InvalidTimestampMessage(x.value.s));
        }
      }
      if (!IsUntyped(x) && !IsDateTimeType(x.type)) {
        ExpectedError(x, "date, time or timestamp expression");
      }
      SetType(node, kTypeInteger);
      return;
    }
    case kFnAbs:
      RequireNumber(*args[0]);
      SetType(node, args[0]->type == 0 ? uint8_t{kTypeFloat} : args[0]->type, args[0]->subtype);
      if (node.type == kTypeSmallInt || node.type == kTypeWord) node.type = kTypeInteger;
      if (node.subtype == kSubtypeAutoInc) node.subtype = 0;
      node.scale = args[0]->scale;
      return;
    case kFnRound:
    case kFnTruncate:
      RequireNumber(*args[0]);
      if (args.size() > 1) {
        ConstantRange(*args[1], 0, kMaxRoundScale, kScaleMessage);
        RequireNumber(*args[1]);
      }
      SetType(node, args[0]->type == 0 ? uint8_t{kTypeFloat} : args[0]->type,
              args[0]->subtype == kSubtypeMoney ? kSubtypeMoney : 0);
      if (node.type == kTypeSmallInt || node.type == kTypeWord) node.type = kTypeInteger;
      node.scale = args[0]->scale;
      return;
    case kFnRand:
      if (!args.empty()) {
        RequireNumber(*args[0]);
        SetType(node, kTypeInteger);
      } else {
        SetType(node, kTypeFloat);
      }
      return;
    case kFnIf: {
      RequireBoolean(*args[0]);
      ConvertOpposite(*args[1], *args[2]);
      uint32_t size = 0;
      const uint8_t t = Unify(*args[1], *args[2], &size);
      SetType(node, t, 0, size);
      return;
    }
    case kFnIfNull:
    case kFnCoalesce: {
      const bool all_null = std::all_of(args.begin(), args.end(), [](const auto& a) {
        return a->kind == kNodeConstant && a->param_index < 0 && a->value.null;
      });
      if (all_null) {
        Error(node, std::string("At least one of the ") + FunctionName(node.code) +
                        " expression arguments must be a non-NULL value");
      }
      uint32_t size = args[0]->size;
      uint8_t t = args[0]->type;
      for (size_t i = 1; i < args.size(); ++i) {
        ConvertOpposite(*args[0], *args[i]);
        uint32_t s = 0;
        TExpToken typed(kNodeConstant, 0);
        typed.type = t;
        typed.size = size;
        typed.line = args[0]->line;
        typed.column = args[0]->column;
        typed.text = args[0]->text;
        t = Unify(typed, *args[i], &s);
        size = s;
      }
      SetType(node, t, args[0]->subtype, size);
      return;
    }
    case kFnNullIf:
      Comparable(*args[0], *args[1]);
      SetType(node, args[0]->type, args[0]->subtype, args[0]->size);
      return;
    case kFnCase: {
      const bool has_value = node.option & 1;
      const bool has_else = node.option & 2;
      const size_t first = has_value ? 1 : 0;
      const size_t pairs_end = args.size() - (has_else ? 1 : 0);
      TExpToken* result = nullptr;
      uint8_t t = 0;
      uint32_t size = 0;
      auto take = [&](TExpToken& r) {
        if (result != nullptr) {
          ConvertOpposite(*result, r);
          TExpToken typed(kNodeConstant, 0);
          typed.type = t;
          typed.size = size;
          typed.text = result->text;
          typed.line = result->line;
          typed.column = result->column;
          uint32_t s = 0;
          t = Unify(typed, r, &s);
          size = s;
        } else {
          t = r.type;
          size = r.size;
        }
        if (r.type != 0) result = &r;
      };
      for (size_t i = first; i + 1 < pairs_end; i += 2) {
        if (has_value) {
          Comparable(*args[0], *args[i]);
        } else {
          RequireBoolean(*args[i]);
        }
        take(*args[i + 1]);
      }
      if (has_else) take(*args.back());
      SetType(node, t, 0, size);
      return;
    }
    case kFnCurrentGuid:
      SetType(node, kTypeString, kSubtypeGuid, 38);
      return;
    default:
      // Every other function is typed by its row above.
      return;
  }
}

void TExpressionVerifier::CheckAggregateUse(const TExpToken& root, bool grouped) {
  if (!root.ContainsAggregate()) return;
  // Walk outside the aggregates only.
  std::vector<const TExpToken*> stack{&root};
  while (!stack.empty()) {
    const TExpToken* n = stack.back();
    stack.pop_back();
    if (n->IsAggregate()) continue;
    if (n->kind == kNodeColumn && !n->star) {
      const bool allowed =
          grouped && resolver_ != nullptr && n->resolved && resolver_->IsGroupingColumn(n->binding);
      if (!allowed) Error(*n, "Invalid use of non-aggregated column in expression");
    }
    if (n->left) stack.push_back(n->left.get());
    if (n->right) stack.push_back(n->right.get());
    for (const auto& a : n->args) stack.push_back(a.get());
  }
}

}  // namespace downsql::sql
