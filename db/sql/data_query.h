// TDataQuery: one SELECT (or one part of a UNION, INTERSECT or EXCEPT
// chain, or an IN sub-query): its grammar, its verification and its
// execution into a result table.
//
// The life of a query:
//   Parse    the parser stands behind the word SELECT; reads the select
//            list, FROM with its joins, WHERE, GROUP BY, HAVING, the set
//            operations and the trailing clauses, up to the end of the
//            statement (which it leaves current).
//   Prepare  opens the source tables, expands * and t.*, verifies every
//            expression, names and types the result columns and picks the
//            strategy (plain rows, one grouped row, grouped rows, the index
//            shortcut for a lone MIN/MAX/COUNT(*)).
//            A live result is chosen when the caller asks for one and the
//            query is a filter over one table: its columns in table order,
//            no aggregates, grouping, DISTINCT, TOP, INTO, set operations or
//            sub-queries, and an ORDER BY only when an index gives exactly
//            that order.
//   Execute  a live query hands out a cursor of its table with WHERE as the
//            cursor's filter and the ordering index (or natural order) as
//            its order; the other queries
//            run the sources (joins in the declared order, an equality of
//            a joined column through an index or a hash of that table's
//            rows) and write their rows into canned tables created through
//            the statement's database, whose temporary indexes do the rest:
//            grouped rows are merged in the result table through an index
//            on the GROUP BY columns (accumulators without a column of
//            their own in hidden columns after the result's) and finished
//            in that order with HAVING; DISTINCT and the set operations
//            find equal rows through an index on every column; ORDER BY
//            is an index on the ordering columns, TOP deletes from its end,
//            and a named INTO table receives the rows in that order. Where
//            a key does not fit an index, or an index would not compare the
//            values exactly, those rows are compared in memory instead.
//
// Rows are evaluated through the TColumnResolver this class implements:
// while a joined row is current, every source has its record (or none, the
// NULL row of an outer join).
//
// For other statements (INSERT ... SELECT, UPDATE and DELETE over joins) the
// query also hands out its rows without a result table (ForEachRow) and its
// FROM/WHERE machinery (ForEachSourceRow).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/sql/column_resolver.h"
#include "db/sql/exp_token.h"
#include "db/sql/expression_evaluator.h"
#include "db/sql/expression_parser.h"
#include "db/sql/expression_verifier.h"
#include "db/sql/statement_database.h"
#include "db/storage/column_def.h"
#include "db/storage/data_cursor.h"

namespace downsql::sql {

// Limits of one SELECT.
inline constexpr int kMaxResultColumns = 1024;
inline constexpr int kMaxOrderByColumns = 1024;
inline constexpr int kMaxGroupByColumns = 1024;
inline constexpr int kMaxDistinctColumns = 1024;
inline constexpr uint32_t kMaxResultFieldSize = 512;
inline constexpr size_t kMaxResultNameLength = 60;
// The temporary indexes of a canned result and of the tables that group,
// de-duplicate and combine its rows.
inline constexpr const char* kOrderIndexName = "Sys__Order";
inline constexpr const char* kGroupIndexName = "Sys__Group";
inline constexpr const char* kDistinctIndexName = "Sys__Distinct";
// Grouping by one whole-number column read in place keeps up to this many
// groups in memory (by default) before it moves them to the temporary index.
inline constexpr size_t kMemoryGroups = 4096;

// One column of the select list.
struct TResultField {
  std::unique_ptr<TExpToken> expression;
  std::string name;              // output name
  bool named = false;            // the name was given with AS or after the expression
  uint8_t aggregate = kAggNone;  // the aggregate code when the column is one aggregate
  bool computed = false;         // an expression rather than a plain column
  bool over_aggregates = false;  // computed from aggregates after grouping (MAX(x)+1)
  int field = 0;                 // 1-based column of the result table
  uint8_t type = 0;
  uint8_t subtype = 0;
  uint32_t size = 0;
  int scale = 0;
};

enum TJoinKind : uint8_t { kJoinComma, kJoinInner, kJoinLeft, kJoinRight };

// How a source joins the sources before it (none for the first).
struct TJoin {
  TJoinKind kind = kJoinComma;
  std::unique_ptr<TExpToken> condition;  // ON; null for a comma join
};

struct TSourceTable {
  std::string name;         // as written; "db\table" keeps both parts
  std::string correlation;  // the correlation name, or the table name
  bool exclusive = false;
  uint32_t line = 0;
  uint32_t column = 0;
  TJoin join;
  std::unique_ptr<storage::TDataCursor> cursor;
  // The record of the joined row being evaluated (nullptr: the NULL row).
  const storage::TRecordBuffer* row = nullptr;
};

struct TGroupByField {
  int column = 0;    // 1-based result column, once resolved
  std::string name;  // as written (empty when given by number)
  uint32_t line = 0;
  uint32_t col = 0;
};

struct TOrderByField {
  int column = 0;  // 1-based result column, once resolved
  std::string name;
  bool descending = false;
  uint32_t line = 0;
  uint32_t col = 0;
};

enum TSetOperation : uint8_t { kSetUnion, kSetIntersect, kSetExcept };

// Everything a query needs while it runs.
struct TQueryRun {
  const std::vector<TValue>* parameters = nullptr;
  std::function<void(uint16_t percent, bool& abort)> progress;
  int32_t max_row_count = -1;
  uint32_t progress_step = 5;
  size_t memory_groups = kMemoryGroups;
  bool plan_wanted = false;
  std::vector<std::string>* plan = nullptr;
};

using TResultRow = std::vector<TValue>;

class TDataQuery : public TColumnResolver, public TSubQueryParser {
 public:
  TDataQuery(TStatementDatabase& database, TExpressionParser& parser, TExpressionVerifier& verifier,
             TDataQuery* outer = nullptr);
  ~TDataQuery() override;
  TDataQuery(const TDataQuery&) = delete;
  TDataQuery& operator=(const TDataQuery&) = delete;

  // Parses from the current token (after the word SELECT) up to the end of the statement, or, for a
  // sub-query or a statement opened by "(", up to the closing parenthesis (left current).
  void Parse(bool parenthesised = false);
  // Opens the sources, verifies and types everything, picks the strategy.
  void Prepare(bool request_live = false);
  // Runs the query and returns its result table, positioned before the
  // first row. rows_affected receives the row count.
  std::unique_ptr<TResultTable> Execute(TQueryRun& run, uint32_t* rows_affected);

  // Runs the query and hands each result row to sink, in result order,
  // without a result table. Returns false when the progress hook aborted.
  bool ForEachRow(TQueryRun& run, const std::function<void(const TResultRow&)>& sink);

  // Runs FROM and WHERE only: for every joined source row that passes WHERE
  // the sources are positioned (source(i).row, source(i).cursor) and visit
  // is called. Returns false when the progress hook aborted.
  bool ForEachSourceRow(TQueryRun& run, const std::function<void()>& visit);

  // For UPDATE and DELETE over joins, instead of Parse and Prepare: parses
  // the sources of FROM (the parser on the first one) and an optional WHERE,
  // leaving the token after them current.
  void ParseSourcesAndWhere();
  // Opens the sources that have no cursor yet (the caller may hand one in
  // through source(i).cursor first) and verifies the join conditions and
  // WHERE; afterwards the query resolves column names over its sources.
  void PrepareSources();

  // Plan lines of the sources, for this query's plan and for the plans of
  // the statements that change rows: one "Tables Involved" line per source
  // (the caller writes the section's title), and the sections on WHERE and
  // the joins.
  void AddTablesPlan(std::vector<std::string>* plan) const;
  void AddWhereAndJoinPlan(std::vector<std::string>* plan) const;
  // The "Result Set Generation" section (after Prepare).
  void AddResultPlan(std::vector<std::string>* plan) const;

  // After Prepare: the result columns (name, type, subtype, size, scale).
  const std::vector<storage::TFieldDef>& ResultColumns() const { return result_defs_; }
  const std::vector<TResultField>& result_fields() const { return fields_; }
  size_t source_count() const { return sources_.size(); }
  TSourceTable& source(size_t i) { return *sources_[i]; }
  // The first table of FROM ("" for SELECT @@IDENTITY).
  const std::string& TableName() const;
  bool live() const { return live_; }
  bool one_grouped_row() const { return one_grouped_row_; }
  bool distinct() const { return distinct_; }
  int32_t top() const { return top_; }
  const std::string& into() const { return into_; }

  // TColumnResolver.
  bool ResolveColumn(std::string_view correlation, std::string_view name,
                     TColumnBinding* binding) override;
  bool ReadColumn(const TColumnBinding& binding, TValue* value) override;
  bool ReadAggregate(const TExpToken& node, TValue* value) override;
  bool IsGroupingColumn(const TColumnBinding& binding) override;

  // TSubQueryParser.
  std::unique_ptr<TSubQuery> ParseSubQuery(TExpressionParser& parser) override;

 private:
  struct TSetPart {
    TSetOperation op = kSetUnion;
    bool all = false;
    std::unique_ptr<TDataQuery> query;
  };
  struct TAccumulator;
  struct TGroup;
  class TRowSource;

  // Parsing.
  void ParseBody();
  // A result column named in ORDER BY or GROUP BY: its number or its
  // (optionally qualified) name, with where it was written.
  void ParseColumnReference(int& column, std::string& name, uint32_t& line, uint32_t& col);
  void ParseSelectItem();
  void ParseSources();
  void ParseSource(TJoinKind kind);
  void ParseTableName(TSourceTable& source);
  void ParseTrailing();
  bool IsExcludedWord() const;

  // Preparing.
  void PrepareSelf();
  void ExpandStars();
  void VerifyColumns();
  void NameColumns();
  void ResolveGroupBy();
  void ResolveOrderBy();
  void TypeColumns();
  void CheckShortcut();
  void CheckLive(bool request_live);
  std::unique_ptr<TResultTable> ExecuteLive(TQueryRun& run, uint32_t* rows_affected);
  void VerifyWhereAndJoins();
  void CollectAggregates(TExpToken& node);
  TSourceTable* FindSource(std::string_view correlation);
  [[noreturn]] void ParseError(std::string_view message, uint32_t line, uint32_t column) const;
  [[noreturn]] void NodeError(const TExpToken& node, std::string_view message) const;

  // Executing.
  // The rows of the whole query (its own, DISTINCT, the set operations; not
  // ORDER BY or TOP) in a table, in the order of the table's cursor; null
  // when the progress hook aborted. order: the ORDER BY index, given to the
  // table when the own rows go straight into it.
  std::unique_ptr<TResultTable> ComputeTable(TQueryRun& run,
                                             const storage::TIndexDefinition* order);
  // This query's own rows into a table. order: a temporary index added to
  // that table when it is the result (ORDER BY), or null.
  std::unique_ptr<TResultTable> ComputeOwnTable(TQueryRun& run,
                                                const storage::TIndexDefinition* order);
  bool ComputeOwnRows(TQueryRun& run, std::vector<TResultRow>* rows);
  // Calls visit for every joined row that passes WHERE. With raw, a lone
  // source's record is not copied for visit: raw_row_ holds its bytes and
  // visit calls MaterializeRow before anything reads the source's row.
  bool ScanSources(TQueryRun& run, const std::function<bool()>& visit, bool raw = false);
  void MaterializeRow();
  bool RunShortcut(TQueryRun& run, std::vector<TResultRow>* rows);
  void StartGroup(TGroup& group);
  void MergeGroup(TGroup& group);
  // Merges the current row into a group when every aggregate reads a column
  // straight from the record (or is COUNT(*)): from the bytes alone.
  void MergeRaw(TGroup& group, const uint8_t* record);
  void MergeDirect(const TExpToken& node, uint8_t code, const storage::TFieldDef& def,
                   const uint8_t* record, TAccumulator& a);
  // Finishes one group (running holds the RUNSUM totals of the groups
  // before it); false when HAVING rejects it, else row gets its values.
  bool FinishGroup(TGroup& group, std::vector<TValue>& running, TResultRow* row);
  void FinishGroups(std::vector<TGroup*>& ordered, std::vector<TResultRow>* rows);
  TResultRow EvaluateRow();
  // Grouped rows: merged in the group table through its temporary index on
  // the GROUP BY columns (or, when that key does not fit an index, in
  // memory), then finished in grouping order.
  std::unique_ptr<TResultTable> ComputeGroupTable(TQueryRun& run);
  void LayOutGroupTable();
  void ReadGroup(const storage::TRecordBuffer& record, TGroup& group) const;
  void WriteGroup(const TGroup& group, storage::TRecordBuffer& record) const;
  void InsertGroup(storage::TDataCursor& c, const TGroup& group) const;
  // A table of the result's columns (extra ones after them, hidden), under
  // a generated name or, with into, the INTO name, with the given temporary
  // indexes; null when an index cannot hold its key (too long, too many
  // columns).
  std::unique_ptr<TResultTable> NewRowTable(const std::vector<storage::TIndexDefinition>& indexes,
                                            const std::vector<storage::TFieldDef>& extra = {},
                                            bool into = false);
  // The index on every result column that finds equal rows; null when a
  // column's values may be equal with different keys (the rows are then
  // compared in memory).
  std::optional<storage::TIndexDefinition> DistinctIndex() const;
  bool KeyedExactly(const TResultField& f) const;
  std::unique_ptr<TResultTable> RemoveDuplicateRows(std::unique_ptr<TResultTable> rows);
  std::unique_ptr<TResultTable> ApplySetPart(const TSetPart& part,
                                             std::unique_ptr<TResultTable> rows,
                                             TResultTable& other);
  // A plan line on a temporary index used, once.
  void NoteIndexPlan(const std::string& line);
  void SortRows(std::vector<TResultRow>* rows) const;
  int CompareRows(const TResultRow& a, const TResultRow& b) const;
  // The final result: ORDER BY through a temporary index (or, for a key
  // too long for one, sorted here), TOP, the INTO table.
  // into: the rows are copied into the INTO table in that order.
  std::unique_ptr<TResultTable> FinishResult(std::unique_ptr<TResultTable> rows, bool into);
  // The temporary index of ORDER BY.
  storage::TIndexDefinition OrderIndex() const;
  void StartPlan(TQueryRun& run);
  void EndPlan(TQueryRun& run, uint32_t rows, double seconds);

  TStatementDatabase& database_;
  TExpressionParser& parser_;
  TExpressionVerifier& verifier_;
  TDataQuery* outer_;
  TEvalContext eval_;

  bool identity_ = false;  // SELECT @@IDENTITY
  bool distinct_ = false;
  bool parenthesised_ = false;
  std::vector<TResultField> fields_;
  std::string into_;
  std::vector<std::unique_ptr<TSourceTable>> sources_;
  // Shared with the filter of a live result, which may outlive the query.
  std::shared_ptr<TExpToken> where_;
  std::vector<TGroupByField> group_by_;
  std::unique_ptr<TExpToken> having_;
  uint32_t having_line_ = 0, having_column_ = 0;
  std::vector<TSetPart> set_parts_;
  std::vector<TOrderByField> order_by_;
  bool order_nocase_ = false;
  int32_t top_ = -1;
  uint32_t locale_ = 0;
  std::string password_;
  bool no_join_optimize_ = false;
  bool join_optimize_costs_ = false;
  std::string statement_text_;

  // Prepared state.
  std::vector<storage::TFieldDef> result_defs_;
  std::vector<TExpToken*> aggregates_;  // every aggregate node of the columns and HAVING
  // For each aggregate over a plain numeric, date or time column: that
  // column, read straight from the record while merging (nullptr: evaluate).
  std::vector<const storage::TFieldDef*> direct_;
  std::vector<int> direct_source_;
  std::vector<uint8_t> aggregate_codes_;
  // One source, and every aggregate is direct or COUNT(*): MergeRaw serves.
  bool raw_merge_ = false;
  // While a lone source is scanned: the record's bytes (in the table's
  // read window, or the copy once it is materialized) and the copy.
  const uint8_t* raw_row_ = nullptr;
  uint32_t raw_slot_ = 0;
  storage::TRecordBuffer* scan_record_ = nullptr;
  bool grouped_ = false;
  bool one_grouped_row_ = false;
  bool live_ = false;
  uint8_t live_index_ = storage::kNaturalOrder;  // the order of a live result
  // The index shortcut: 0 none, 1 MIN/MAX from an index, 2 COUNT(*).
  int shortcut_ = 0;
  uint8_t shortcut_index_ = 0;
  bool shortcut_from_end_ = false;
  // While finishing groups: the accumulators of the group being finished.
  const TGroup* finishing_ = nullptr;
  bool has_subquery_ = false;
  // The last result was ordered through its index; the plan line saying how
  // the result is ordered (0: none).
  bool ordered_by_index_ = false;
  size_t order_plan_line_ = 0;
  // Plan lines of the temporary indexes the last execution used, and where
  // they go (after the result section).
  std::vector<std::string> index_plan_;
  size_t index_plan_at_ = 0;
  // The group table: per aggregate, the column (0-based) of its value, of
  // its count (AVG, STDDEV) and of its sum (STDDEV); -1 for none. Columns
  // after the result's hold the accumulators without a column of their own.
  std::vector<int> acc_value_, acc_count_, acc_sum_;
  std::vector<storage::TFieldDef> group_extra_;
  std::vector<storage::TFieldDef> record_defs_;  // the group table's columns
  bool scanning_ = false;
};

}  // namespace downsql::sql
