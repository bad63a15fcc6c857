// Statement text through the lexer, the expression parser, the verifier and
// the evaluator: any input either yields values or raises the engine's own
// error; nothing else may escape, and nothing may crash or read out of
// bounds.
//
// Expressions are read one after another, separated by "," or ";". Every
// column name resolves, to a type picked from the name, so the verifier and
// the evaluator see every type.
#include <cstdint>
#include <string>
#include <string_view>

#include "db/sql/expression_evaluator.h"
#include "db/sql/expression_parser.h"
#include "db/sql/expression_verifier.h"
#include "db/storage/engine_error.h"

namespace {

using namespace downsql;
using namespace downsql::sql;

constexpr uint8_t kTypes[] = {
    storage::kTypeString,    storage::kTypeDate,  storage::kTypeBoolean,  storage::kTypeSmallInt,
    storage::kTypeInteger,   storage::kTypeFloat, storage::kTypeDecimal,  storage::kTypeTime,
    storage::kTypeTimestamp, storage::kTypeWord,  storage::kTypeLargeInt, storage::kTypeBlob,
    storage::kTypeBytes,
};

class AnyColumn : public TColumnResolver {
 public:
  bool ResolveColumn(std::string_view correlation, std::string_view name,
                     TColumnBinding* binding) override {
    if (name.empty() || correlation == "none") return false;
    const size_t pick = (static_cast<unsigned char>(name[0]) + name.size()) % std::size(kTypes);
    binding->field = static_cast<int>(pick);
    binding->type = kTypes[pick];
    binding->size = 20;
    return true;
  }

  bool ReadColumn(const TColumnBinding& binding, TValue* value) override {
    const int field = binding.field;
    if (field % 3 == 0) {
      *value = TValue::Null(binding.type);
      return true;
    }
    switch (binding.type) {
      case storage::kTypeString:
      case storage::kTypeBlob:
      case storage::kTypeBytes:
        *value = TValue::String("Ab%_ x");
        value->type = binding.type;
        return true;
      case storage::kTypeDate:
        *value = TValue::Date(733456);
        return true;
      case storage::kTypeTime:
        *value = TValue::Time(47100000);
        return true;
      case storage::kTypeTimestamp:
        *value = TValue::Timestamp(733456.5 * 86400000);
        return true;
      case storage::kTypeFloat:
      case storage::kTypeDecimal:
        *value = TValue::Float(-2.5, binding.type);
        return true;
      case storage::kTypeBoolean:
        *value = TValue::Boolean(true);
        return true;
      default:
        *value = TValue::Integer(field * 1000003LL, binding.type);
        return true;
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  AnyColumn columns;
  TExpressionParser parser;
  TExpressionVerifier verifier;
  verifier.set_resolver(&columns);
  TEvalContext context;
  context.resolver = &columns;
  context.clock = [] { return platform::LocalDateTime{2009, 3, 14, 13, 5, 7, 9}; };
  const std::vector<TValue> parameters = {TValue::String("2009-3-14"), TValue::Integer(-1)};
  context.parameters = &parameters;
  try {
    parser.Load(text, 3, 7);
    parser.NextToken();
    parser.MarkStatementStart();
    parser.MarkKeywordsStart();
    while (!parser.IsKind(kTokEnd)) {
      auto root = parser.ParseExpression(kAllowAggregates | kAllowQualified | kAllowParameters);
      if (!parser.IsKind(kTokEnd) && !parser.AcceptKind(',') && !parser.AcceptKind(';')) {
        parser.ExpectedError("end of statement");
      }
      (void)parser.StatementText();
      (void)ExpressionText(*root);
      verifier.Verify(*root);
      try {
        verifier.CheckAggregateUse(*root, (size & 1) != 0);
      } catch (const storage::ETabulaEngineError&) {
      }
      const TValue v = EvaluateExpression(*root, context);
      (void)ValueText(v);
    }
  } catch (const storage::ETabulaEngineError&) {
    // The engine's own error is the one allowed outcome besides success.
  }
  return 0;
}
