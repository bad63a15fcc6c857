// A one-table column resolver over an in-memory row, for expression tests.
#pragma once

#include <string>
#include <vector>

#include "db/sql/column_resolver.h"
#include "db/sql/date_time_text.h"
#include "db/sql/expression_parser.h"
#include "db/sql/expression_verifier.h"

namespace downsql::sql::testing {

struct TestColumn {
  std::string name;
  TColumnBinding binding;
  TValue value;
};

class TestResolver : public TColumnResolver {
 public:
  // Columns: id INTEGER, name VARCHAR(20), d DATE, t TIME, ts TIMESTAMP,
  // b BOOLEAN, f FLOAT, n INTEGER (NULL), s VARCHAR(10) (NULL), big LARGEINT,
  // nb BOOLEAN (NULL).
  TestResolver() {
    using namespace storage;
    Add("id", kTypeInteger, 0, 0, TValue::Integer(7));
    Add("name", kTypeString, 0, 20, TValue::String("Lotto"));
    Add("d", kTypeDate, 0, 0, TValue::Date(*DayNumberOf(2009, 3, 14)));
    Add("t", kTypeTime, 0, 0, TValue::Time(47100000));
    Add("ts", kTypeTimestamp, 0, 0,
        TValue::Timestamp(*DayNumberOf(2009, 3, 14) * 86400000.0 + 47100000));
    Add("b", kTypeBoolean, 0, 0, TValue::Boolean(true));
    Add("f", kTypeFloat, 0, 0, TValue::Float(2.5));
    Add("n", kTypeInteger, 0, 0, TValue::Null(kTypeInteger));
    Add("s", kTypeString, 0, 10, TValue::Null(kTypeString));
    Add("big", kTypeLargeInt, 0, 0, TValue::Integer(5000000000LL, kTypeLargeInt));
    Add("nb", kTypeBoolean, 0, 0, TValue::Null(kTypeBoolean));
  }

  bool ResolveColumn(std::string_view correlation, std::string_view name,
                     TColumnBinding* binding) override {
    if (!correlation.empty() && correlation != "t1") return false;
    for (const auto& c : columns) {
      if (c.name == name) {
        *binding = c.binding;
        return true;
      }
    }
    return false;
  }

  bool ReadColumn(const TColumnBinding& binding, TValue* value) override {
    if (!has_row) return false;
    *value = columns[binding.field].value;
    return true;
  }

  bool IsGroupingColumn(const TColumnBinding& binding) override {
    return columns[binding.field].name == "id";
  }

  void Set(const std::string& name, TValue v) {
    for (auto& c : columns) {
      if (c.name == name) c.value = std::move(v);
    }
  }

  std::vector<TestColumn> columns;
  bool has_row = true;

 private:
  void Add(std::string name, uint8_t type, uint8_t subtype, uint32_t size, TValue v) {
    TColumnBinding b;
    b.source = 1;
    b.field = static_cast<int>(columns.size());
    b.type = type;
    b.subtype = subtype;
    b.size = size;
    columns.push_back({std::move(name), b, std::move(v)});
  }
};

inline constexpr uint32_t kAllFlags =
    kAllowAggregates | kAllowQualified | kAllowStar | kAllowParameters;

// Parses and verifies sql in the context "SELECT SQL statement".
inline std::unique_ptr<TExpToken> Prepare(const std::string& sql, TColumnResolver& resolver,
                                          TExpressionParser& parser) {
  parser.Load(sql, 1, 1);
  parser.set_context("SELECT SQL statement");
  parser.NextToken();
  auto root = parser.ParseExpression(kAllFlags);
  parser.ExpectKind(kTokEnd, "end of statement");
  TExpressionVerifier verifier;
  verifier.set_context(parser.context());
  verifier.set_resolver(&resolver);
  verifier.Verify(*root);
  return root;
}

}  // namespace downsql::sql::testing
