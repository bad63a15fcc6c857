// The expression grammar of TExpressionParser, lowest precedence first:
//
//   or         := and { OR and }
//   and        := not { AND not }
//   not        := NOT not | comparison
//   comparison := sum [ (= | <> | < | <= | > | >=) sum
//                     | [NOT] BETWEEN sum AND sum
//                     | [NOT] LIKE sum [ESCAPE sum]
//                     | [NOT] IN ( SELECT ... ) | [NOT] IN ( or { , or } )
//                     | IS [NOT] NULL ]
//   sum        := product { (+ | - | ||) product }
//   product    := factor { (* | / | MOD) factor }
//   factor     := + factor | - factor | primary
//   primary    := ( or ) | constant | function | [name .] name | [name .] *
//               | ? | CASE ...
//
// Two-character operators are read as two one-character tokens.
#include <algorithm>
#include <charconv>
#include <limits>

#include "db/sql/expression_parser.h"
#include "db/sql/sql_functions.h"

namespace downsql::sql {
namespace {

using namespace storage;

constexpr size_t kMaxName = 255;

std::string TrimName(std::string s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  s = s.substr(b, s.find_last_not_of(' ') - b + 1);
  if (s.size() > kMaxName) s.resize(kMaxName);
  return s;
}

struct DataTypeName {
  const char* name;
  uint8_t type;
  uint8_t subtype;
  bool sized;  // takes (n)
};

constexpr DataTypeName kDataTypes[] = {
    {"SMALLINT", kTypeSmallInt, 0, false},
    {"WORD", kTypeWord, 0, false},
    {"INTEGER", kTypeInteger, 0, false},
    {"INT", kTypeInteger, 0, false},
    {"IDENTITY", kTypeInteger, kSubtypeAutoInc, false},
    {"AUTOINC", kTypeInteger, kSubtypeAutoInc, false},
    {"LARGEINT", kTypeLargeInt, 0, false},
    {"DECIMAL", kTypeDecimal, 0, false},
    {"NUMERIC", kTypeDecimal, 0, false},
    {"FLOAT", kTypeFloat, 0, false},
    {"MONEY", kTypeFloat, kSubtypeMoney, false},
    {"CHARACTER", kTypeString, kSubtypeFixedChar, true},
    {"CHAR", kTypeString, kSubtypeFixedChar, true},
    {"VARCHAR", kTypeString, 0, true},
    {"WIDECHAR", kTypeString, kSubtypeWideChar, true},
    {"GUID", kTypeString, kSubtypeGuid, false},
    {"BYTES", kTypeBytes, 0, true},
    {"BINARY", kTypeBytes, 0, true},
    {"VARBYTES", kTypeVarBytes, 0, true},
    {"VARBINARY", kTypeVarBytes, 0, true},
    {"DATE", kTypeDate, 0, false},
    {"TIME", kTypeTime, 0, false},
    {"TIMESTAMP", kTypeTimestamp, 0, false},
    {"BOOLEAN", kTypeBoolean, 0, false},
    {"BOOL", kTypeBoolean, 0, false},
    {"BIT", kTypeBoolean, 0, false},
    {"BLOB", kTypeBlob, 0, false},
    {"LONGVARBINARY", kTypeBlob, 0, false},
    {"LONGVARCHAR", kTypeBlob, kSubtypeMemo, false},
    {"MEMO", kTypeBlob, kSubtypeMemo, false},
    {"GRAPHIC", kTypeBlob, kSubtypeGraphic, false},
};

struct ExtractName {
  const char* name;
  uint8_t part;
};

constexpr ExtractName kExtractParts[] = {
    {"YEAR", kExtractYear},           {"MONTH", kExtractMonth},
    {"WEEK", kExtractWeek},           {"DAY", kExtractDay},
    {"DAYOFWEEK", kExtractDayOfWeek}, {"DAYOFYEAR", kExtractDayOfYear},
    {"HOUR", kExtractHour},           {"MINUTE", kExtractMinute},
    {"SECOND", kExtractSecond},       {"MSECOND", kExtractMSecond},
};

bool LookupModulo(const std::string& name) {
  return (name[0] == 'M' || name[0] == 'm') && (name[1] == 'O' || name[1] == 'o') &&
         (name[2] == 'D' || name[2] == 'd');
}

}  // namespace

std::unique_ptr<TExpToken> TExpressionParser::NewNode(uint8_t kind, uint8_t code) const {
  auto node = std::make_unique<TExpToken>(kind, code);
  node->line = line_;
  node->column = column();
  return node;
}

std::unique_ptr<TExpToken> TExpressionParser::Finish(std::unique_ptr<TExpToken> node,
                                                     size_t start) const {
  const size_t end = before_blanks_ > start ? before_blanks_ : start;
  node->text = text_.substr(start, end - start);
  int depth = 0;
  for (const TExpToken* child : {node->left.get(), node->right.get()}) {
    if (child) depth = std::max(depth, child->depth);
  }
  for (const auto& a : node->args) {
    if (a) depth = std::max(depth, a->depth);
  }
  node->depth = depth + 1;
  if (node->depth > kMaxExpressionDepth) InvalidExpressionError();
  return node;
}

std::unique_ptr<TExpToken> TExpressionParser::ParseExpression(uint32_t flags) {
  const uint32_t saved = flags_;
  flags_ = flags;
  auto node = ParseOr();
  flags_ = saved;
  return node;
}

#define DOWNSQL_BINARY_LEVEL(Name, Next, Test)                    \
  std::unique_ptr<TExpToken> TExpressionParser::Name() {          \
    NestingGuard nested(*this);                                   \
    const size_t start = token_start_;                            \
    const uint32_t line = line_, col = column();                  \
    auto left = Next();                                           \
    for (;;) {                                                    \
      uint8_t code = 0;                                           \
      Test;                                                       \
      if (code == 0) return left;                                 \
      auto node = std::make_unique<TExpToken>(kNodeBinary, code); \
      node->line = line;                                          \
      node->column = col;                                         \
      node->left = std::move(left);                               \
      node->right = Next();                                       \
      left = Finish(std::move(node), start);                      \
    }                                                             \
  }

DOWNSQL_BINARY_LEVEL(ParseOr, ParseAnd, if (AcceptKeyword("OR")) code = kOpOr)
DOWNSQL_BINARY_LEVEL(ParseAnd, ParseNot, if (AcceptKeyword("AND")) code = kOpAnd)
DOWNSQL_BINARY_LEVEL(ParseSum, ParseProduct, {
  if (AcceptKind('+')) {
    code = kOpAdd;
  } else if (AcceptKind('-')) {
    code = kOpSubtract;
  } else if (IsKind('|')) {
    NextToken();
    RequireChar('|');
    code = kOpAdd;
  }
})
DOWNSQL_BINARY_LEVEL(ParseProduct, ParseFactor, {
  if (AcceptKind('*')) {
    code = kOpMultiply;
  } else if (AcceptKind('/')) {
    code = kOpDivide;
  } else if (AcceptKeyword("MOD")) {
    code = kOpMod;
  }
})
#undef DOWNSQL_BINARY_LEVEL

std::unique_ptr<TExpToken> TExpressionParser::ParseNot() {
  if (!IsKeyword("NOT")) return ParseComparison();
  NestingGuard nested(*this);
  const size_t start = token_start_;
  auto node = NewNode(kNodeUnary, kOpNot);
  NextToken();
  node->left = ParseNot();
  return Finish(std::move(node), start);
}

std::unique_ptr<TExpToken> TExpressionParser::ParseComparison() {
  const size_t start = token_start_;
  const uint32_t line = line_, col = column();
  auto left = ParseSum();
  uint8_t code = 0;
  bool negated = false;
  if (AcceptKind('=')) {
    code = kOpEqual;
  } else if (AcceptKind('<')) {
    code = AcceptKind('>') ? kOpNotEqual : AcceptKind('=') ? kOpLessEqual : kOpLess;
  } else if (AcceptKind('>')) {
    code = AcceptKind('=') ? kOpGreaterEqual : kOpGreater;
  } else if (IsKeyword("IS")) {
    NextToken();
    if (AcceptKeyword("NOT")) {
      RequireKeyword("NULL");
      code = kOpNotEqual;
    } else if (AcceptKeyword("NULL")) {
      code = kOpEqual;
    } else {
      ExpectedError("NULL or NOT");
    }
    auto node = std::make_unique<TExpToken>(kNodeBinary, code);
    node->line = line;
    node->column = col;
    node->left = std::move(left);
    node->right = std::make_unique<TExpToken>(kNodeConstant, 0);
    node->right->text = "NULL";
    return Finish(std::move(node), start);
  } else {
    if (IsKeyword("NOT")) {
      NextToken();
      negated = true;
      if (!IsKeyword("BETWEEN") && !IsKeyword("LIKE") && !IsKeyword("IN")) {
        ExpectedError("expression");
      }
    }
    if (!IsKeyword("BETWEEN") && !IsKeyword("LIKE") && (!IsKeyword("IN") || no_in_)) {
      if (negated) ExpectedError("expression");
      return left;
    }
  }
  std::unique_ptr<TExpToken> node;
  if (code != 0) {
    node = std::make_unique<TExpToken>(kNodeBinary, code);
    node->left = std::move(left);
    node->right = ParseSum();
  } else if (AcceptKeyword("BETWEEN")) {
    node = std::make_unique<TExpToken>(kNodeBinary, negated ? kOpNotBetween : kOpBetween);
    node->left = std::move(left);
    node->args.push_back(ParseSum());
    RequireKeyword("AND");
    node->args.push_back(ParseSum());
  } else if (AcceptKeyword("LIKE")) {
    node = std::make_unique<TExpToken>(kNodeBinary, negated ? kOpNotLike : kOpLike);
    node->left = std::move(left);
    node->right = ParseSum();
    if (AcceptKeyword("ESCAPE")) node->args.push_back(ParseSum());
  } else {
    RequireKeyword("IN");
    RequireChar('(');
    if (IsKeyword("SELECT")) {
      if (subquery_parser_ == nullptr) InvalidExpressionError();
      node = std::make_unique<TExpToken>(kNodeBinary, negated ? kOpNotInSubQuery : kOpInSubQuery);
      node->left = std::move(left);
      node->subquery = subquery_parser_->ParseSubQuery(*this);
      if (!node->subquery) InvalidExpressionError();
    } else {
      node = std::make_unique<TExpToken>(kNodeBinary, negated ? kOpNotIn : kOpIn);
      node->left = std::move(left);
      do {
        node->args.push_back(ParseOr());
      } while (AcceptKind(','));
    }
    RequireChar(')');
  }
  node->line = line;
  node->column = col;
  return Finish(std::move(node), start);
}

std::unique_ptr<TExpToken> TExpressionParser::ParseFactor() {
  if (!IsKind('+') && !IsKind('-')) return ParsePrimary();
  NestingGuard nested(*this);
  const size_t start = token_start_;
  auto node = NewNode(kNodeUnary, IsKind('+') ? kOpPlus : kOpNegate);
  NextToken();
  node->left = ParseFactor();
  return Finish(std::move(node), start);
}

TValue TExpressionParser::NumberValue() const {
  const char* first = text_.data() + token_start_;
  const char* last = text_.data() + token_end_;
  if (kind_ == kTokInteger) {
    int64_t n = 0;
    const auto r = std::from_chars(first, last, n);
    if (r.ec == std::errc() && r.ptr == last) {
      return n <= std::numeric_limits<int32_t>::max() ? TValue::Integer(n)
                                                      : TValue::Integer(n, kTypeLargeInt);
    }
  }
  double d = 0;
  const auto r = std::from_chars(first, last, d);
  if (r.ec != std::errc() || r.ptr != last) ExpectedError("numeric expression");
  return TValue::Float(d);
}

bool TExpressionParser::FillConstant(TExpToken& node, bool with_text) const {
  uint32_t size = 0;
  if (kind_ == kTokInteger || kind_ == kTokFloat) {
    node.value = NumberValue();
  } else if (kind_ == kTokString) {
    node.value = TValue::String(TokenValue());  // '' is a NULL string
    size = static_cast<uint32_t>(node.value.s.size());
  } else if (IsKeyword("NULL")) {
    node.value = TValue();
  } else if (IsKeyword("TRUE") || IsKeyword("FALSE")) {
    node.value = TValue::Boolean(IsKeyword("TRUE"));
  } else {
    return false;
  }
  node.kind = kNodeConstant;
  node.code = 0;
  node.line = line_;
  node.column = column();
  node.type = node.value.type;
  node.subtype = 0;
  node.size = size;
  node.scale = 0;
  node.param_index = -1;
  if (with_text) node.text.assign(text_, token_start_, token_end_ - token_start_);
  return true;
}

bool TExpressionParser::ParseLoneConstant(TExpToken& node, std::string_view* text) {
  if (!FillConstant(node, false)) return false;
  *text = TokenView();
  return NextEndsLoneConstant();
}

bool TExpressionParser::ParseLoneInteger(int64_t* value) {
  if (kind_ != kTokInteger) return false;
  const char* first = text_.data() + token_start_;
  const char* last = text_.data() + token_end_;
  if (last - first <= 18) {
    // An integer token is digits only; 18 of them cannot overflow.
    int64_t n = 0;
    for (const char* c = first; c != last; ++c) n = n * 10 + (*c - '0');
    *value = n;
  } else {
    const auto r = std::from_chars(first, last, *value);
    if (r.ec != std::errc() || r.ptr != last) return false;
  }
  return NextEndsLoneConstant();
}

bool TExpressionParser::NextEndsLoneConstant() {
  // The usual case, "," or ")" behind plain blanks, read as NextToken
  // would read it.
  size_t next = pos_;
  while (At(next) == ' ') ++next;
  if (At(next) == ',' || At(next) == ')') {
    before_blanks_ = pos_;
    token_start_ = next;
    pos_ = token_end_ = next + 1;
    kind_ = static_cast<uint8_t>(At(next));
    return true;
  }
  const size_t pos = pos_, token_start = token_start_, token_end = token_end_;
  const size_t before_blanks = before_blanks_, line_start = line_start_;
  const uint8_t kind = kind_;
  const uint32_t line = line_, column_base = column_base_;
  NextToken();
  if (kind_ == ',' || kind_ == ')') return true;
  // Part of a larger expression: back to the constant.
  pos_ = pos;
  token_start_ = token_start;
  token_end_ = token_end;
  before_blanks_ = before_blanks;
  line_start_ = line_start;
  kind_ = kind;
  line_ = line;
  column_base_ = column_base;
  return false;
}

std::unique_ptr<TExpToken> TExpressionParser::ParseConstant() {
  auto node = std::make_unique<TExpToken>(kNodeConstant, 0);
  FillConstant(*node, true);
  NextToken();
  return node;
}

std::unique_ptr<TExpToken> TExpressionParser::ParsePrimary() {
  const size_t start = token_start_;
  MarkGuard keep_mark(*this);
  if (AcceptKind('(')) {
    const bool saved_no_in = no_in_;
    no_in_ = false;
    auto inner = ParseOr();
    RequireChar(')');
    no_in_ = saved_no_in;
    return inner;
  }
  if (kind_ == kTokInteger || kind_ == kTokFloat || kind_ == kTokString) return ParseConstant();
  if (kind_ == kTokCharConst) {
    const std::string text = TokenText();
    // The number may carry any count of leading zeros (#00065 is 'A'); the
    // count stops growing once it passes 255.
    int n = text.size() > 1 ? 0 : -1;
    for (size_t i = 1; i < text.size() && n <= 255; ++i) n = n * 10 + (text[i] - '0');
    if (n < 0 || n > 255) ExpectedError("character constant");
    auto node = NewNode(kNodeConstant, 0);
    node->value = TValue::String(std::string(1, static_cast<char>(n)));
    node->type = kTypeString;
    node->size = 1;
    node->text = text;
    NextToken();
    return node;
  }
  if (kind_ == '?') {
    if (!(flags_ & kAllowParameters)) ExpectedError("expression");
    auto node = NewNode(kNodeConstant, 0);
    node->param_index = parameter_count_++;
    node->text = "?";
    NextToken();
    return node;
  }
  if (kind_ == '*') {
    if (!(flags_ & kAllowStar)) ExpectedError("expression");
    auto node = NewNode(kNodeColumn, 0);
    node->star = true;
    node->text = "*";
    NextToken();
    return node;
  }
  if (!IsIdentifier()) ExpectedError("expression");

  if (kind_ == kTokIdent) {
    if (IsKeyword("NULL") || IsKeyword("TRUE") || IsKeyword("FALSE")) return ParseConstant();
    for (const TSqlFunction& f : SqlFunctions()) {
      if (f.syntax == kSyntaxBareWord && IsKeyword(f.name)) {
        auto node = NewNode(kNodeFunction, f.code);
        node->text = TokenText();
        NextToken();
        return node;
      }
    }
    if (IsKeyword("CASE")) {
      Mark();
      auto node = NewNode(kNodeFunction, kFnCase);
      NextToken();
      return Finish(ParseCase(std::move(node)), start);
    }
  }

  Mark();
  auto node = NewNode(kNodeColumn, 0);
  const bool plain = kind_ == kTokIdent;
  std::string name = TokenValue();
  NextToken();
  uint8_t code = 0;
  if (plain && IsKind('(') && LookupFunction(name, &code)) {
    node->kind = kNodeFunction;
    node->code = code;
    return Finish(ParseFunction(std::move(node)), start);
  }
  if (plain && IsKind('(') && TrimName(name).size() == 3 && LookupModulo(name)) {
    // MOD(a, b) is the operator a MOD b.
    NextToken();
    node->kind = kNodeBinary;
    node->code = kOpMod;
    node->left = ParseOr();
    RequireSeparator("");
    node->right = ParseOr();
    RequireChar(')');
    return Finish(std::move(node), start);
  }
  if (IsKind('.')) {
    if (!(flags_ & kAllowQualified)) InvalidExpressionError();
    NextToken();
    node->correlation = TrimName(name);
    if (IsKind('*') && (flags_ & kAllowStar)) {
      node->star = true;
      NextToken();
      return Finish(std::move(node), start);
    }
    if (!IsIdentifier()) ExpectedError("column name");
    name = TokenValue();
    NextToken();
  }
  node->column_name = TrimName(name);
  return Finish(std::move(node), start);
}

void TExpressionParser::RequireSeparator(std::string_view keyword) {
  if (AcceptKind(',')) return;
  if (!keyword.empty() && AcceptKeyword(keyword)) return;
  ExpectedError(keyword.empty() ? std::string(",") : std::string(keyword) + " or ,");
}

std::unique_ptr<TExpToken> TExpressionParser::ParseFunction(std::unique_ptr<TExpToken> node) {
  if (node->IsAggregate() && !(flags_ & kAllowAggregates)) MarkedInvalidExpressionError();
  RequireChar('(');
  const bool saved_no_in = no_in_;
  no_in_ = false;
  auto arg = [this, &node] { node->args.push_back(ParseOr()); };
  const TSqlFunction& f = SqlFunction(node->code);
  switch (f.syntax) {
    case kSyntaxArguments: {
      if (f.max_args == 0 || (f.min_args == 0 && IsKind(')'))) break;
      if (f.lead != nullptr) AcceptKeyword(f.lead);
      for (uint8_t i = 0; i < f.max_args; ++i) {
        if (i > 0) {
          if (i >= f.min_args && IsKind(')')) break;
          RequireSeparator(f.separators[i - 1]);
        }
        // The argument before an IN separator must not take IN as its operator.
        no_in_ = i + 1 < f.max_args && std::string_view(f.separators[i]) == "IN";
        arg();
        no_in_ = false;
      }
      break;
    }
    case kSyntaxAggregate:
      if (node->code == kFnCount && IsKind('*')) {
        node->option = 1;
        NextToken();
      } else {
        arg();
      }
      break;
    case kSyntaxList:
      do {
        arg();
      } while (AcceptKind(','));
      break;
    case kSyntaxCast: {
      arg();
      RequireSeparator("AS");
      const TSqlDataType t = ParseDataType();
      node->type = t.type;
      node->subtype = t.subtype;
      node->size = t.size;
      node->scale = t.scale;
      break;
    }
    case kSyntaxTrim: {
      if (AcceptKeyword("LEADING")) {
        node->option = 1;
      } else if (AcceptKeyword("TRAILING")) {
        node->option = 2;
      } else {
        AcceptKeyword("BOTH");
      }
      if (AcceptKeyword("FROM")) {
        node->args.push_back(nullptr);
        arg();
        break;
      }
      arg();
      if (AcceptKeyword("FROM")) {
        arg();
      } else {
        node->args.insert(node->args.begin(), nullptr);
      }
      break;
    }
    case kSyntaxExtract: {
      bool found = false;
      for (const auto& p : kExtractParts) {
        if (IsKeyword(p.name)) {
          node->option = p.part;
          found = true;
        }
      }
      if (!found) {
        ExpectedError(
            "YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, SECOND, or MSECOND");
      }
      NextToken();
      RequireSeparator("FROM");
      arg();
      break;
    }
    case kSyntaxBareWord:
    case kSyntaxCase:
      // Read in ParsePrimary: they have no parenthesised arguments.
      break;
  }
  RequireChar(')');
  no_in_ = saved_no_in;
  if (node->code == kFnTrim && node->args[0] == nullptr) {
    auto blank = std::make_unique<TExpToken>(kNodeConstant, 0);
    blank->value = TValue::String(" ");
    blank->type = kTypeString;
    blank->size = 1;
    node->args[0] = std::move(blank);
  }
  return node;
}

std::unique_ptr<TExpToken> TExpressionParser::ParseCase(std::unique_ptr<TExpToken> node) {
  if (!IsKeyword("WHEN")) {
    node->option |= 1;
    node->args.push_back(ParseOr());
  }
  RequireKeyword("WHEN");
  do {
    node->args.push_back(ParseOr());
    RequireKeyword("THEN");
    node->args.push_back(ParseOr());
  } while (AcceptKeyword("WHEN"));
  if (AcceptKeyword("ELSE")) {
    node->option |= 2;
    node->args.push_back(ParseOr());
  }
  RequireKeyword("END");
  return node;
}

bool TExpressionParser::IsDataTypeName() const {
  for (const auto& d : kDataTypes) {
    if (IsKeyword(d.name)) return true;
  }
  return false;
}

TSqlDataType TExpressionParser::ParseDataType() {
  TSqlDataType t;
  const DataTypeName* found = nullptr;
  for (const auto& d : kDataTypes) {
    if (IsKeyword(d.name)) found = &d;
  }
  if (found == nullptr) ExpectedError("SQL data type");
  t.type = found->type;
  t.subtype = found->subtype;
  if (t.subtype == kSubtypeGuid) t.size = 38;
  NextToken();
  if (!found->sized && t.type != kTypeDecimal) return t;
  const uint32_t limit = t.subtype == kSubtypeWideChar ? 256 : 512;
  t.size = t.subtype == kSubtypeFixedChar ? 1 : limit;
  if (!AcceptKind('(')) return t;
  ExpectKind(kTokInteger, "Integer");
  const std::string digits = TokenText();
  const uint32_t line = line_, col = column();
  const long long n = digits.size() > 6 ? 1000000 : std::stoll(digits);
  NextToken();
  if (t.type == kTypeDecimal) {
    // DECIMAL(precision[, scale]): the stored size is fixed, the scale counts.
    t.size = 0;
    if (AcceptKind(',')) {
      ExpectKind(kTokInteger, "Integer");
      const std::string s = TokenText();
      t.scale = s.size() > 2 ? 99 : std::stoi(s);
      NextToken();
    }
  } else {
    if (n <= 0 || n > limit) {
      Error("Length argument must be greater than 0 and less than or equal to " +
                std::to_string(limit),
            line, col);
    }
    t.size = static_cast<uint32_t>(n);
  }
  RequireChar(')');
  return t;
}

}  // namespace downsql::sql
