// The seams between expressions and the statements that own them.
//
// SELECT, INSERT, UPDATE and table filters implement TColumnResolver: the
// verifier asks it what a column name means, the evaluator asks it for the
// value of that column on the current row. A statement that runs IN
// sub-queries implements TSubQueryParser and TSubQuery.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "db/sql/value.h"

namespace downsql::sql {

class TExpToken;
class TExpressionParser;

// Where a column reference points, filled by the resolver.
struct TColumnBinding {
  int source = 0;  // source table number, 1-based (0 = the only one)
  int field = 0;   // column number in that table (negative for pseudo-columns)
  uint8_t type = 0;
  uint8_t subtype = 0;
  uint32_t size = 0;  // declared size of strings and bytes
  int scale = 0;      // decimal scale
};

class TColumnResolver {
 public:
  virtual ~TColumnResolver() = default;

  // Looks up column `name` in the source called `correlation` (any source
  // when correlation is empty). Names compare without regard to case.
  // Returns false when no source has the column; the verifier then raises
  // the parsing error. May raise its own engine error (an ambiguous name).
  virtual bool ResolveColumn(std::string_view correlation, std::string_view name,
                             TColumnBinding* binding) = 0;

  // Fills *value with the column's value on the current row (NULL flag and
  // payload as described in value.h). Returns false when there is no row.
  virtual bool ReadColumn(const TColumnBinding& binding, TValue* value) = 0;

  // After grouping, an aggregate node takes its accumulated value from the
  // owner: return true and fill *value. The default (false) makes the
  // evaluator compute the aggregate's argument on the current row, which is
  // what the owner merges into its accumulator.
  virtual bool ReadAggregate(const TExpToken& node, TValue* value) {
    (void)node;
    (void)value;
    return false;
  }

  // True when the column is one of the statement's GROUP BY columns, so it
  // may stand beside aggregates.
  virtual bool IsGroupingColumn(const TColumnBinding& binding) {
    (void)binding;
    return false;
  }
};

// A parsed sub-query of IN ( SELECT ... ).
class TSubQuery {
 public:
  virtual ~TSubQuery() = default;
  virtual int ColumnCount() const = 0;
  virtual uint8_t ColumnType() const = 0;
  // Runs the sub-query filtered by value; true when it yields a row.
  virtual bool Contains(const TValue& value) = 0;
};

class TSubQueryParser {
 public:
  virtual ~TSubQueryParser() = default;
  // Called with the parser on the word SELECT after "IN (". Parses the
  // sub-query up to, not including, the closing parenthesis.
  virtual std::unique_ptr<TSubQuery> ParseSubQuery(TExpressionParser& parser) = 0;
};

}  // namespace downsql::sql
