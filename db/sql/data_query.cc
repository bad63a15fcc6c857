// TDataQuery: the SELECT grammar and the preparation of a query (sources,
// verification, result columns and strategy). Execution is in
// data_query_run.cc.
#include "db/sql/data_query.h"

#include <algorithm>

#include "db/sql/statement_kinds.h"
#include "db/storage/engine_error.h"
#include "platform/locale.h"

namespace downsql::sql {

using namespace storage;

namespace {

constexpr uint32_t kExpressionFlags = kAllowQualified | kAllowParameters;
constexpr uint32_t kSelectItemFlags =
    kAllowAggregates | kAllowQualified | kAllowStar | kAllowParameters;

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && platform::SameTextNoCase(a, b);
}

// Words that end a source instead of naming its correlation.
constexpr const char* kNotCorrelation[] = {"EXCLUSIVE", "LEFT",
                                           "RIGHT",     "INNER",
                                           "JOIN",      "WHERE",
                                           "ORDER",     "GROUP",
                                           "HAVING",    "TOP",
                                           "RANGE",     "ENCRYPTED",
                                           "LOCALE",    "NOJOINOPTIMIZE",
                                           "UNION",     "INTERSECT",
                                           "EXCEPT",    "COMMIT",
                                           "ON",        "FULL",
                                           "OUTER",     "JOINOPTIMIZECOSTS"};

const char* AggregatePrefix(uint8_t code) {
  switch (code) {
    case kAggSum:
      return "Sum Of ";
    case kAggRunSum:
      return "Running Sum Of ";
    case kAggMin:
      return "Min Of ";
    case kAggMax:
      return "Max Of ";
    case kAggAvg:
      return "Average Of ";
    case kAggStdDev:
      return "StdDev Of ";
    default:
      return "Count Of ";
  }
}

std::string LimitMessage(const char* what, int limit) {
  return std::string("Maximum number of ") + what + " (" + std::to_string(limit) + ") exceeded";
}

// The subquery adapter: runs its query once and keeps the values.
class TInSubQuery : public TSubQuery {
 public:
  explicit TInSubQuery(std::unique_ptr<TDataQuery> query) : query_(std::move(query)) {}
  TDataQuery& query() { return *query_; }
  int ColumnCount() const override { return static_cast<int>(query_->ResultColumns().size()); }
  uint8_t ColumnType() const override {
    return query_->ResultColumns().empty() ? 0 : query_->ResultColumns()[0].type;
  }
  bool Contains(const TValue& value) override;
  void SetContext(const TEvalContext* context) { context_ = context; }

 private:
  std::unique_ptr<TDataQuery> query_;
  const TEvalContext* context_ = nullptr;
  bool loaded_ = false;
  std::vector<TValue> values_;
  bool has_null_ = false;
};

bool TInSubQuery::Contains(const TValue& value) {
  if (!loaded_) {
    TQueryRun run;
    run.parameters = context_->parameters;
    query_->ForEachRow(run, [this](const TResultRow& row) {
      if (row[0].null) {
        has_null_ = true;
      } else {
        values_.push_back(row[0]);
      }
    });
    // Sorted once, so that a value of the column's kind is found by a
    // binary search.
    std::stable_sort(values_.begin(), values_.end(), [this](const TValue& a, const TValue& b) {
      return CompareValues(a, b, *context_) < 0;
    });
    loaded_ = true;
  }
  // Equality as the = operator has it: NULL matches NULL.
  if (value.null) return has_null_;
  if (values_.empty()) return false;
  const uint8_t type = values_.front().type;
  const bool same_kind = value.type == type || (IsNumericType(value.type) && IsNumericType(type)) ||
                         (IsTextType(value.type) && IsTextType(type));
  if (same_kind) {
    auto it = std::lower_bound(
        values_.begin(), values_.end(), value,
        [this](const TValue& v, const TValue& x) { return CompareValues(v, x, *context_) < 0; });
    return it != values_.end() && CompareValues(value, *it, *context_) == 0;
  }
  for (const TValue& v : values_) {
    if (CompareValues(value, v, *context_) == 0) return true;
  }
  return false;
}

}  // namespace

TDataQuery::TDataQuery(TStatementDatabase& database, TExpressionParser& parser,
                       TExpressionVerifier& verifier, TDataQuery* outer)
    : database_(database), parser_(parser), verifier_(verifier), outer_(outer) {
  eval_.resolver = this;
  eval_.collation = &platform::CollationFor(0);
  eval_.last_autoinc = [this](const std::string& table) -> std::optional<int64_t> {
    return database_.LastAutoInc(table);
  };
}

TDataQuery::~TDataQuery() = default;

const std::string& TDataQuery::TableName() const {
  static const std::string kNone;
  return sources_.empty() ? kNone : sources_[0]->name;
}

void TDataQuery::ParseError(std::string_view message, uint32_t line, uint32_t column) const {
  parser_.Error(message, line, column);
}

void TDataQuery::NodeError(const TExpToken& node, std::string_view message) const {
  verifier_.Error(node, message);
}

// --- parsing -------------------------------------------------------------

void TDataQuery::Parse(bool parenthesised) {
  parenthesised_ = parenthesised;
  parser_.set_subquery_parser(this);
  ParseBody();
  while (parser_.IsKeyword("UNION") || parser_.IsKeyword("INTERSECT") ||
         parser_.IsKeyword("EXCEPT")) {
    TSetPart part;
    part.op = parser_.IsKeyword("UNION")       ? kSetUnion
              : parser_.IsKeyword("INTERSECT") ? kSetIntersect
                                               : kSetExcept;
    parser_.NextToken();
    if (parser_.AcceptKeyword("ALL")) {
      part.all = true;
    } else {
      parser_.AcceptKeyword("DISTINCT");
    }
    part.query = std::make_unique<TDataQuery>(database_, parser_, verifier_, outer_);
    part.query->eval_.collation = eval_.collation;
    parser_.RequireKeyword("SELECT");
    part.query->ParseBody();
    parser_.set_subquery_parser(this);
    set_parts_.push_back(std::move(part));
  }
  if (parser_.IsKeyword("ORDER")) {
    parser_.NextToken();
    parser_.RequireKeyword("BY");
    do {
      if (static_cast<int>(order_by_.size()) >= kMaxOrderByColumns) {
        ParseError(LimitMessage("ORDER BY columns", kMaxOrderByColumns), parser_.line(),
                   parser_.column());
      }
      TOrderByField item;
      ParseColumnReference(item.column, item.name, item.line, item.col);
      if (parser_.AcceptKeyword("DESC") || parser_.AcceptKeyword("DESCENDING")) {
        item.descending = true;
      } else if (!parser_.AcceptKeyword("ASC")) {
        parser_.AcceptKeyword("ASCENDING");
      }
      order_by_.push_back(std::move(item));
    } while (parser_.AcceptKind(','));
    if (parser_.AcceptKeyword("NOCASE")) order_nocase_ = true;
    if (parser_.IsKeyword("UNION") || parser_.IsKeyword("INTERSECT") ||
        parser_.IsKeyword("EXCEPT")) {
      parser_.InvalidExpressionError();
    }
  }
  ParseTrailing();
  if (parenthesised_) {
    statement_text_ = parser_.StatementText();
    parser_.RequireChar(')');
  } else {
    statement_text_ = parser_.StatementText();
  }
}

void TDataQuery::ParseColumnReference(int& column, std::string& name, uint32_t& line,
                                      uint32_t& col) {
  line = parser_.line();
  col = parser_.column();
  if (parser_.IsKind(kTokInteger)) {
    column = std::atoi(parser_.TokenText().c_str());
    parser_.NextToken();
  } else if (parser_.IsIdentifier()) {
    name = parser_.TokenValue();
    parser_.NextToken();
    if (parser_.AcceptKind('.')) {
      if (!parser_.IsIdentifier()) parser_.ExpectedError("column name");
      name = parser_.TokenValue();
      parser_.NextToken();
    }
  } else {
    parser_.ExpectedError("column name");
  }
}

void TDataQuery::ParseBody() {
  parser_.set_subquery_parser(this);
  if (parser_.IsKind('@')) {
    parser_.NextToken();
    parser_.RequireChar('@');
    parser_.RequireKeyword("IDENTITY");
    identity_ = true;
    TResultField f;
    f.name = "IDENTITY";
    f.type = kTypeInteger;
    fields_.push_back(std::move(f));
    return;
  }
  parser_.AcceptKeyword("ALL");
  if (parser_.AcceptKeyword("DISTINCT")) distinct_ = true;
  do {
    ParseSelectItem();
  } while (parser_.AcceptKind(','));
  if (parser_.AcceptKeyword("INTO")) {
    TSourceTable into;
    ParseTableName(into);
    into_ = into.name;
  }
  parser_.RequireKeyword("FROM");
  ParseSources();
  if (parser_.AcceptKeyword("WHERE")) where_ = parser_.ParseExpression(kExpressionFlags);
  if (parser_.IsKeyword("GROUP")) {
    parser_.NextToken();
    parser_.RequireKeyword("BY");
    do {
      if (static_cast<int>(group_by_.size()) >= kMaxGroupByColumns) {
        ParseError(LimitMessage("GROUP BY columns", kMaxGroupByColumns), parser_.line(),
                   parser_.column());
      }
      TGroupByField item;
      ParseColumnReference(item.column, item.name, item.line, item.col);
      group_by_.push_back(std::move(item));
    } while (parser_.AcceptKind(','));
  }
  if (parser_.IsKeyword("HAVING")) {
    if (group_by_.empty()) {
      ParseError("A GROUP BY clause must exist in order to use the HAVING clause", parser_.line(),
                 parser_.column());
    }
    having_line_ = parser_.line();
    having_column_ = parser_.column();
    parser_.NextToken();
    having_ = parser_.ParseExpression(kExpressionFlags | kAllowAggregates);
  }
  ParseTrailing();
}

void TDataQuery::ParseSelectItem() {
  if (static_cast<int>(fields_.size()) >= kMaxResultColumns) {
    ParseError(LimitMessage("columns", kMaxResultColumns), parser_.line(), parser_.column());
  }
  TResultField f;
  f.expression = parser_.ParseExpression(kSelectItemFlags);
  if (!f.expression->star) {
    if (parser_.AcceptKeyword("AS")) {
      if (!parser_.IsIdentifier()) parser_.ExpectedError("column name");
      f.name = parser_.TokenValue();
      f.named = true;
      parser_.NextToken();
    } else if (parser_.IsIdentifier() &&
               !(parser_.IsKind(kTokIdent) &&
                 (parser_.IsKeyword("FROM") || parser_.IsKeyword("INTO")))) {
      f.name = parser_.TokenValue();
      f.named = true;
      parser_.NextToken();
    }
  }
  fields_.push_back(std::move(f));
}

bool TDataQuery::IsExcludedWord() const {
  if (!parser_.IsKind(kTokIdent)) return false;
  for (const char* w : kNotCorrelation) {
    if (parser_.IsKeyword(w)) return true;
  }
  return false;
}

void TDataQuery::ParseTableName(TSourceTable& source) {
  if (!parser_.IsIdentifier()) parser_.ExpectedError("table name");
  source.line = parser_.line();
  source.column = parser_.column();
  source.name = parser_.TokenValue();
  parser_.NextToken();
  if (parser_.AcceptKind('\\')) {
    if (!parser_.IsIdentifier()) parser_.ExpectedError("table name");
    source.name += "\\" + parser_.TokenValue();
    parser_.NextToken();
  }
}

void TDataQuery::ParseSource(TJoinKind kind) {
  auto source = std::make_unique<TSourceTable>();
  source->join.kind = kind;
  ParseTableName(*source);
  if (parser_.AcceptKeyword("AS")) {
    if (!parser_.IsIdentifier()) parser_.ExpectedError("correlation name");
    source->correlation = parser_.TokenValue();
    parser_.NextToken();
  } else if (parser_.IsIdentifier() && !IsExcludedWord()) {
    source->correlation = parser_.TokenValue();
    parser_.NextToken();
  }
  if (source->correlation.empty()) {
    // The correlation of an unnamed source is its table name (without a
    // database part).
    const size_t slash = source->name.rfind('\\');
    source->correlation =
        slash == std::string::npos ? source->name : source->name.substr(slash + 1);
  }
  if (parser_.AcceptKeyword("EXCLUSIVE")) source->exclusive = true;
  for (const auto& other : sources_) {
    if (SameName(other->correlation, source->correlation)) {
      ParseError("Duplicate table or table correlation name " + source->correlation, source->line,
                 source->column);
    }
  }
  sources_.push_back(std::move(source));
}

void TDataQuery::ParseSources() {
  int open = 0;
  bool first = true;
  do {
    while (parser_.AcceptKind('(')) ++open;
    ParseSource(first ? kJoinInner : kJoinComma);
    first = false;
    for (;;) {
      while (open > 0 && parser_.AcceptKind(')')) --open;
      TJoinKind kind;
      if (parser_.AcceptKeyword("JOIN")) {
        kind = kJoinInner;
      } else if (parser_.AcceptKeyword("INNER")) {
        parser_.RequireKeyword("JOIN");
        kind = kJoinInner;
      } else if (parser_.AcceptKeyword("LEFT")) {
        parser_.AcceptKeyword("OUTER");
        parser_.RequireKeyword("JOIN");
        kind = kJoinLeft;
      } else if (parser_.AcceptKeyword("RIGHT")) {
        parser_.AcceptKeyword("OUTER");
        parser_.RequireKeyword("JOIN");
        kind = kJoinRight;
      } else if (parser_.IsKeyword("FULL")) {
        parser_.InvalidExpressionError();
      } else {
        break;
      }
      while (parser_.AcceptKind('(')) ++open;
      ParseSource(kind);
      parser_.RequireKeyword("ON");
      sources_.back()->join.condition = parser_.ParseExpression(kExpressionFlags);
    }
  } while (parser_.AcceptKind(','));
  while (open > 0) {
    parser_.RequireChar(')');
    --open;
  }
}

void TDataQuery::ParseTrailing() {
  if (parser_.AcceptKeyword("TOP")) {
    if (!parser_.IsKind(kTokInteger)) parser_.ExpectedError("Integer");
    top_ = static_cast<int32_t>(
        std::min<long long>(std::atoll(parser_.TokenText().c_str()), INT32_MAX));
    parser_.NextToken();
  }
  if (parser_.AcceptKeyword("LOCALE")) {
    if (parser_.AcceptKeyword("CODE")) {
      if (!parser_.IsKind(kTokInteger)) parser_.ExpectedError("locale code");
      locale_ = static_cast<uint32_t>(std::atoll(parser_.TokenText().c_str()));
      parser_.NextToken();
    } else {
      if (!parser_.IsKind(kTokString)) parser_.ExpectedError("locale constant");
      const std::optional<uint32_t> locale = LocaleOfName(parser_.TokenValue());
      if (!locale) parser_.ExpectedError("locale constant");
      locale_ = *locale;
      parser_.NextToken();
    }
    eval_.collation = &platform::CollationFor(locale_);
  }
  if (parser_.AcceptKeyword("ENCRYPTED")) {
    parser_.RequireKeyword("WITH");
    if (!parser_.IsKind(kTokString)) parser_.ExpectedError("String");
    password_ = parser_.TokenValue();
    parser_.NextToken();
  }
  if (parser_.AcceptKeyword("NOJOINOPTIMIZE")) no_join_optimize_ = true;
  if (parser_.AcceptKeyword("JOINOPTIMIZECOSTS")) join_optimize_costs_ = true;
}

std::unique_ptr<TSubQuery> TDataQuery::ParseSubQuery(TExpressionParser& parser) {
  (void)parser;
  has_subquery_ = true;
  auto query = std::make_unique<TDataQuery>(database_, parser_, verifier_, this);
  query->eval_.collation = eval_.collation;
  parser_.RequireKeyword("SELECT");
  query->ParseBody();
  parser_.set_subquery_parser(this);
  auto sub = std::make_unique<TInSubQuery>(std::move(query));
  sub->SetContext(&eval_);
  // The sub-query must be ready before the verifier asks for its columns.
  sub->query().Prepare();
  if (sub->ColumnCount() != 1) {
    ParseError("The number of columns in an IN sub-query cannot be more than 1", parser_.line(),
               parser_.column());
  }
  return sub;
}

// --- preparing -----------------------------------------------------------

TSourceTable* TDataQuery::FindSource(std::string_view correlation) {
  for (auto& s : sources_) {
    if (SameName(s->correlation, correlation)) return s.get();
  }
  for (auto& s : sources_) {
    if (SameName(s->name, correlation)) return s.get();
  }
  return nullptr;
}

bool TDataQuery::ResolveColumn(std::string_view correlation, std::string_view name,
                               TColumnBinding* binding) {
  for (size_t i = 0; i < sources_.size(); ++i) {
    TSourceTable& s = *sources_[i];
    if (!correlation.empty() && FindSource(correlation) != &s) continue;
    const TFieldDef* def = nullptr;
    for (const TFieldDef& f : s.cursor->fields()) {
      if (SameName(f.name, name)) {
        def = &f;
        break;
      }
    }
    if (def == nullptr && SameName(name, kRecordIdName)) def = &RecordIdField();
    if (def == nullptr && SameName(name, kRecordHashName)) def = &RecordHashField();
    if (def == nullptr) continue;
    binding->source = static_cast<int>(i + 1);
    binding->field = def->number;
    binding->type = def->type;
    binding->subtype = def->subtype;
    binding->size = def->size;
    binding->scale = def->scale;
    return true;
  }
  return false;
}

bool TDataQuery::IsGroupingColumn(const TColumnBinding& binding) {
  for (const TGroupByField& g : group_by_) {
    if (g.column < 1 || g.column > static_cast<int>(fields_.size())) continue;
    const TExpToken& e = *fields_[g.column - 1].expression;
    if (e.kind == kNodeColumn && e.binding.source == binding.source &&
        e.binding.field == binding.field) {
      return true;
    }
  }
  return false;
}

void TDataQuery::Prepare(bool request_live) {
  for (auto& part : set_parts_) part.query->PrepareSelf();
  PrepareSelf();
  if (!set_parts_.empty()) {
    for (auto& part : set_parts_) {
      if (part.query->fields_.size() != fields_.size()) {
        ParseError(
            "The number of columns in queries involved in a UNION, INTERSECT, or EXCEPT operation "
            "must match",
            part.query->sources_.empty() ? 1 : part.query->sources_[0]->line,
            part.query->sources_.empty() ? 1 : part.query->sources_[0]->column);
      }
      if (!part.all) {
        for (const TResultField& f : fields_) {
          if (f.type == kTypeBlob) {
            ParseError(
                "You cannot perform a UNION, INTERSECT, or EXCEPT operation without the ALL "
                "clause on queries containing BLOB columns",
                f.expression ? f.expression->line : 1, f.expression ? f.expression->column : 1);
          }
        }
      }
    }
  }
  ResolveOrderBy();
  CheckLive(request_live);
}

void TDataQuery::PrepareSelf() {
  if (identity_) {
    result_defs_.clear();
    TFieldDef def;
    def.name = "IDENTITY";
    def.type = kTypeInteger;
    result_defs_.push_back(def);
    return;
  }
  for (auto& s : sources_) {
    if (!s->cursor) s->cursor = database_.OpenTable(s->name, s->exclusive);
  }
  verifier_.set_resolver(this);
  ExpandStars();
  ResolveGroupBy();
  VerifyColumns();
  VerifyWhereAndJoins();
  if (having_) {
    verifier_.Verify(*having_);
    // Outside its aggregates HAVING sees the grouped rows only: a column
    // must be one they are grouped by.
    std::vector<const TExpToken*> stack{having_.get()};
    while (!stack.empty()) {
      const TExpToken* n = stack.back();
      stack.pop_back();
      if (n->IsAggregate()) continue;
      if (n->kind == kNodeColumn && !IsGroupingColumn(n->binding)) {
        NodeError(*n, "Expression in HAVING clause not found in source columns");
      }
      if (n->left) stack.push_back(n->left.get());
      if (n->right) stack.push_back(n->right.get());
      for (const auto& a : n->args) stack.push_back(a.get());
    }
    verifier_.CheckAggregateUse(*having_, true);
    CollectAggregates(*having_);
  }
  NameColumns();
  TypeColumns();
  direct_.assign(aggregates_.size(), nullptr);
  direct_source_.assign(aggregates_.size(), 0);
  for (size_t k = 0; k < aggregates_.size(); ++k) {
    const TExpToken& node = *aggregates_[k];
    if (node.args.empty()) continue;
    const TExpToken& arg = *node.args[0];
    if (arg.kind != kNodeColumn || arg.binding.field < 1 || arg.binding.source < 1) continue;
    const uint8_t t = arg.type;
    const bool whole = IsIntegerType(t) || t == kTypeDate || t == kTypeTime;
    const bool real = t == kTypeFloat || t == kTypeTimestamp;
    if (!whole && !real) continue;
    // MIN and MAX keep the column's type; the sums widen integers only.
    if ((node.code == kFnMin || node.code == kFnMax) && node.type != t) continue;
    if (real && IsIntegerType(node.type)) continue;
    direct_[k] = &sources_[arg.binding.source - 1]->cursor->fields()[arg.binding.field - 1];
    direct_source_[k] = arg.binding.source;
  }
  aggregate_codes_.clear();
  raw_merge_ = sources_.size() == 1 && !has_subquery_;
  for (size_t k = 0; k < aggregates_.size(); ++k) {
    const TExpToken& node = *aggregates_[k];
    aggregate_codes_.push_back(node.AggregateCode());
    const bool count_all = aggregate_codes_.back() == kAggCount && node.option == 1;
    if (!count_all && (direct_[k] == nullptr || direct_[k]->computed)) raw_merge_ = false;
  }
  if (distinct_) {
    if (static_cast<int>(fields_.size()) > kMaxDistinctColumns) {
      ParseError(LimitMessage("DISTINCT columns", kMaxDistinctColumns), 1, 1);
    }
    for (const TResultField& f : fields_) {
      if (f.type == kTypeBlob) NodeError(*f.expression, "Invalid DISTINCT BLOB column");
    }
  }
  CheckShortcut();
}

void TDataQuery::VerifyWhereAndJoins() {
  if (where_) {
    verifier_.Verify(*where_);
    if (where_->type != kTypeBoolean && where_->type != 0) {
      verifier_.ExpectedError(*where_, "Boolean expression");
    }
  }
  for (auto& s : sources_) {
    if (s->join.condition) verifier_.Verify(*s->join.condition);
  }
}

void TDataQuery::ParseSourcesAndWhere() {
  parser_.set_subquery_parser(this);
  ParseSources();
  if (parser_.AcceptKeyword("WHERE")) where_ = parser_.ParseExpression(kExpressionFlags);
}

void TDataQuery::PrepareSources() {
  for (auto& s : sources_) {
    if (!s->cursor) s->cursor = database_.OpenTable(s->name, s->exclusive);
  }
  verifier_.set_resolver(this);
  VerifyWhereAndJoins();
}

void TDataQuery::ExpandStars() {
  std::vector<TResultField> expanded;
  for (TResultField& f : fields_) {
    if (!f.expression->star) {
      expanded.push_back(std::move(f));
      continue;
    }
    const TExpToken& star = *f.expression;
    std::vector<TSourceTable*> from;
    if (star.correlation.empty()) {
      for (auto& s : sources_) from.push_back(s.get());
    } else {
      TSourceTable* s = FindSource(star.correlation);
      if (s == nullptr) {
        NodeError(star, "Invalid use of column correlation name " + star.correlation);
      }
      from.push_back(s);
    }
    for (TSourceTable* s : from) {
      for (const TFieldDef& def : s->cursor->fields()) {
        TResultField c;
        c.expression = std::make_unique<TExpToken>(kNodeColumn, 0);
        c.expression->correlation = s->correlation;
        c.expression->column_name = def.name;
        c.expression->text = s->correlation + "." + def.name;
        c.expression->line = star.line;
        c.expression->column = star.column;
        expanded.push_back(std::move(c));
      }
    }
  }
  if (static_cast<int>(expanded.size()) > kMaxResultColumns) {
    ParseError(LimitMessage("columns", kMaxResultColumns), 1, 1);
  }
  fields_ = std::move(expanded);
}

void TDataQuery::ResolveGroupBy() {
  for (TGroupByField& g : group_by_) {
    if (g.name.empty()) {
      if (g.column < 1 || g.column > static_cast<int>(fields_.size())) {
        ParseError("Invalid GROUP BY column number", g.line, g.col);
      }
      continue;
    }
    g.column = 0;
    for (size_t i = 0; i < fields_.size() && g.column == 0; ++i) {
      const TResultField& f = fields_[i];
      if (f.named ? SameName(f.name, g.name)
                  : (f.expression->kind == kNodeColumn &&
                     SameName(f.expression->column_name, g.name))) {
        g.column = static_cast<int>(i + 1);
      }
    }
    if (g.column == 0) {
      // A plain column of the select list named by its source name.
      for (size_t i = 0; i < fields_.size() && g.column == 0; ++i) {
        const TExpToken& e = *fields_[i].expression;
        if (e.kind == kNodeColumn && SameName(e.column_name, g.name)) {
          g.column = static_cast<int>(i + 1);
        }
      }
    }
    if (g.column == 0) {
      parser_.Error("Expected column name but instead found " + g.name + " in " + parser_.context(),
                    g.line, g.col);
    }
  }
}

void TDataQuery::CollectAggregates(TExpToken& node) {
  if (node.IsAggregate()) {
    aggregates_.push_back(&node);
    return;
  }
  if (node.left) CollectAggregates(*node.left);
  if (node.right) CollectAggregates(*node.right);
  for (auto& a : node.args) CollectAggregates(*a);
}

void TDataQuery::VerifyColumns() {
  for (TResultField& f : fields_) verifier_.Verify(*f.expression);
  bool any_aggregate = having_ != nullptr;
  for (TResultField& f : fields_) {
    if (f.expression->ContainsAggregate()) any_aggregate = true;
  }
  grouped_ = any_aggregate || !group_by_.empty();
  one_grouped_row_ = grouped_ && group_by_.empty();
  for (size_t i = 0; i < fields_.size(); ++i) {
    TResultField& f = fields_[i];
    TExpToken& e = *f.expression;
    f.aggregate = e.AggregateCode();
    f.computed = e.kind != kNodeColumn;
    f.over_aggregates = e.ContainsAggregate() && !e.IsAggregate();
    if (!grouped_) continue;
    if (e.ContainsAggregate()) {
      verifier_.CheckAggregateUse(e, !group_by_.empty());
      CollectAggregates(e);
    } else if (one_grouped_row_) {
      // A column beside aggregates needs a GROUP BY, unless it is constant.
      std::vector<const TExpToken*> stack{&e};
      while (!stack.empty()) {
        const TExpToken* n = stack.back();
        stack.pop_back();
        if (n->kind == kNodeColumn) {
          NodeError(e,
                    "Invalid use of aggregate function(s), the necessary GROUP BY clause is "
                    "missing");
        }
        if (n->left) stack.push_back(n->left.get());
        if (n->right) stack.push_back(n->right.get());
        for (const auto& a : n->args) stack.push_back(a.get());
      }
    } else if (std::none_of(group_by_.begin(), group_by_.end(), [i](const TGroupByField& g) {
                 return g.column == static_cast<int>(i + 1);
               })) {
      // A grouped row's plain column must be one it is grouped by.
      std::vector<const TExpToken*> stack{&e};
      while (!stack.empty()) {
        const TExpToken* n = stack.back();
        stack.pop_back();
        if (n->kind == kNodeColumn && !IsGroupingColumn(n->binding)) {
          NodeError(*n, "Invalid use of non-aggregated column in expression");
        }
        if (n->left) stack.push_back(n->left.get());
        if (n->right) stack.push_back(n->right.get());
        for (const auto& a : n->args) stack.push_back(a.get());
      }
    }
  }
  for (const TGroupByField& g : group_by_) {
    if (fields_[g.column - 1].expression->type == kTypeBlob) {
      ParseError(g.name.empty() ? "Invalid GROUP BY BLOB column number"
                                : "Invalid GROUP BY BLOB column name",
                 g.line, g.col);
    }
    if (fields_[g.column - 1].expression->ContainsAggregate()) {
      ParseError("Invalid GROUP BY column", g.line, g.col);
    }
  }
}

void TDataQuery::NameColumns() {
  std::vector<std::string> names;
  for (TResultField& f : fields_) {
    const TExpToken& e = *f.expression;
    std::string base;
    if (f.named) {
      base = f.name;
    } else if (e.kind == kNodeColumn) {
      base = e.column_name;
      if (e.binding.source >= 1) {
        TSourceTable& s = *sources_[e.binding.source - 1];
        if (e.binding.field > 0) base = s.cursor->fields()[e.binding.field - 1].name;
      }
    } else if (e.IsAggregate()) {
      const TExpToken* arg = e.args.empty() ? nullptr : e.args[0].get();
      base = AggregatePrefix(e.AggregateCode());
      if (arg != nullptr && arg->kind == kNodeColumn) {
        base += arg->column_name;
      } else {
        base += "Expr";
      }
    } else {
      base = "Expression";
    }
    if (base.size() > kMaxResultNameLength) base.resize(kMaxResultNameLength);
    auto taken = [&](const std::string& n) {
      if (SameName(n, kRecordIdName) || SameName(n, kRecordHashName)) return true;
      for (const auto& other : names) {
        if (SameName(other, n)) return true;
      }
      return false;
    };
    std::string name = base;
    for (int n = 1; taken(name); ++n) {
      const std::string suffix = "_" + std::to_string(n);
      name = base.substr(0, std::min(base.size(), kMaxResultNameLength - suffix.size())) + suffix;
    }
    f.name = name;
    names.push_back(name);
  }
}

void TDataQuery::TypeColumns() {
  result_defs_.clear();
  int number = 1;
  for (TResultField& f : fields_) {
    const TExpToken& e = *f.expression;
    f.type = e.type;
    f.subtype = e.subtype;
    f.size = e.size;
    f.scale = e.scale;
    if (f.type == 0) f.type = kTypeFloat;
    if (f.subtype == kSubtypeAutoInc) {
      // A column that an outer join can leave NULL must not take AUTOINC
      // values in the result.
      const int source = e.kind == kNodeColumn ? e.binding.source : 0;
      bool nullable = source < 1;
      for (size_t i = 0; i < sources_.size() && !nullable; ++i) {
        const TJoinKind k = sources_[i]->join.kind;
        if ((k == kJoinLeft && static_cast<int>(i + 1) == source) ||
            (k == kJoinRight && static_cast<int>(i + 1) > source)) {
          nullable = true;
        }
      }
      if (nullable) f.subtype = 0;
    }
    if (f.type == kTypeString || IsBytesType(f.type)) {
      if (f.subtype == kSubtypeGuid) {
        f.size = 38;
      } else if (f.size == 0) {
        f.size = kMaxResultFieldSize;
      } else if (f.size > kMaxResultFieldSize) {
        NodeError(e, "Maximum field size (" + std::to_string(kMaxResultFieldSize) +
                         ") exceeded for column expression " + f.name);
      }
      if (f.subtype == kSubtypeWideChar && f.size > 256) f.size = 256;
      if (f.subtype == kSubtypeRecordHash) f.subtype = 0;
    } else {
      f.size = 0;
    }
    if (f.type != kTypeDecimal) f.scale = 0;
    f.field = number++;
    TFieldDef def;
    def.name = f.name;
    def.type = f.type;
    def.subtype = f.subtype;
    def.size = static_cast<uint16_t>(f.size);
    def.scale = static_cast<uint8_t>(f.scale);
    result_defs_.push_back(def);
  }
}

void TDataQuery::ResolveOrderBy() {
  for (TOrderByField& o : order_by_) {
    if (o.name.empty()) {
      if (o.column < 1 || o.column > static_cast<int>(fields_.size())) {
        ParseError("Invalid ORDER BY column number", o.line, o.col);
      }
    } else {
      o.column = 0;
      for (size_t i = 0; i < fields_.size() && o.column == 0; ++i) {
        if (SameName(fields_[i].name, o.name)) o.column = static_cast<int>(i + 1);
      }
      for (size_t i = 0; i < fields_.size() && o.column == 0; ++i) {
        const TExpToken& e = *fields_[i].expression;
        if (e.kind == kNodeColumn && SameName(e.column_name, o.name)) {
          o.column = static_cast<int>(i + 1);
        }
      }
      if (o.column == 0) {
        parser_.Error(
            "Expected column name but instead found " + o.name + " in " + parser_.context(), o.line,
            o.col);
      }
    }
    if (fields_[o.column - 1].type == kTypeBlob) {
      ParseError(o.name.empty() ? "Invalid ORDER BY BLOB column number"
                                : "Invalid ORDER BY BLOB column name",
                 o.line, o.col);
    }
  }
}

namespace {

// Whether an expression reads a BLOB column or another table's counter:
// neither can be evaluated on a bare record by a live result's filter.
bool NeedsMoreThanTheRecord(const TExpToken& node) {
  if (node.kind == kNodeColumn && node.type == kTypeBlob) return true;
  if (node.kind == kNodeFunction && node.code == kFnLastAutoInc) return true;
  if (node.subquery) return true;
  for (const TExpToken* c : {node.left.get(), node.right.get()}) {
    if (c != nullptr && NeedsMoreThanTheRecord(*c)) return true;
  }
  for (const auto& a : node.args) {
    if (NeedsMoreThanTheRecord(*a)) return true;
  }
  return false;
}

}  // namespace

void TDataQuery::CheckLive(bool request_live) {
  live_ = false;
  live_index_ = kNaturalOrder;
  if (!request_live || identity_ || sources_.size() != 1 || !into_.empty() || distinct_ ||
      grouped_ || having_ || top_ >= 0 || !set_parts_.empty() || has_subquery_) {
    return;
  }
  if (where_ && NeedsMoreThanTheRecord(*where_)) return;
  // The result shows table columns as the table has them: each at most once,
  // in table order, under its own name (the others are hidden).
  TDataCursor& cursor = *sources_[0]->cursor;
  int last = 0;
  for (const TResultField& f : fields_) {
    const TExpToken& e = *f.expression;
    if (e.kind != kNodeColumn || e.binding.field <= last) return;
    if (f.name != cursor.fields()[e.binding.field - 1].name) return;
    last = e.binding.field;
  }
  if (!order_by_.empty()) {
    TDataTable& table = cursor.table();
    bool text = false;
    for (const TOrderByField& o : order_by_) {
      if (fields_[o.column - 1].type == kTypeString) text = true;
    }
    if (text && locale_ != table.locale()) return;
    const TTableIndex* served = nullptr;
    for (const TTableIndex& index : table.indexes()) {
      const auto& keys = index.compare.fields();
      if (keys.size() != order_by_.size()) continue;
      if (text && index.compare.case_insensitive() != order_nocase_) continue;
      bool same = true;
      for (size_t i = 0; i < keys.size() && same; ++i) {
        const TOrderByField& o = order_by_[i];
        same = keys[i].column == fields_[o.column - 1].expression->binding.field &&
               keys[i].descending == o.descending;
      }
      if (same) {
        served = &index;
        break;
      }
    }
    if (served == nullptr) return;
    live_index_ = served->slot;
  }
  live_ = true;
}

void TDataQuery::CheckShortcut() {
  shortcut_ = 0;
  if (sources_.size() != 1 || where_ || !group_by_.empty() || having_ || has_subquery_ ||
      fields_.size() != 1 || !set_parts_.empty()) {
    return;
  }
  const TExpToken& e = *fields_[0].expression;
  if (e.kind != kNodeFunction && e.kind != kNodeList) return;
  if (e.code == kFnCount && e.option == 1) {
    shortcut_ = 2;
    return;
  }
  if (e.code != kFnMin && e.code != kFnMax) return;
  const TExpToken& arg = *e.args[0];
  if (arg.kind != kNodeColumn || arg.binding.field < 1) return;
  // Decimal keys are rounded and string keys may fold case: their index
  // order is not the order MIN and MAX compare by.
  if (arg.type == kTypeDecimal || arg.type == kTypeBlob || arg.type == kTypeString) return;
  TDataTable& table = sources_[0]->cursor->table();
  for (const TTableIndex& index : table.indexes()) {
    const auto& keys = index.compare.fields();
    if (keys.empty() || keys[0].column != arg.binding.field) continue;
    const bool descending = keys[0].descending;
    shortcut_ = 1;
    shortcut_index_ = index.slot;
    // MIN reads from the low end of an ascending index, MAX from the high.
    shortcut_from_end_ = (e.code == kFnMax) != descending;
    return;
  }
}

}  // namespace downsql::sql
