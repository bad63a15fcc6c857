// TDataQuery execution: the source scan with joins, aggregation into
// grouped rows, DISTINCT, the set operations, ORDER BY and TOP, through
// canned tables and their temporary indexes.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <numeric>
#include <optional>
#include <set>
#include <unordered_map>

#include "base/byte_order.h"
#include "db/sql/data_query.h"
#include "db/sql/record_values.h"
#include "db/sql/statement_kinds.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"

namespace downsql::sql {

using namespace storage;

namespace {
const char* const kOrderPlanLine = "Result set will be ordered by the ORDER BY columns";
}  // namespace

struct TDataQuery::TAccumulator {
  TValue value;
  int64_t count = 0;
  double sum = 0;
  double squares = 0;
};

struct TDataQuery::TGroup {
  std::vector<TAccumulator> acc;
  TResultRow first;  // the non-aggregate columns, from the group's first row
  std::vector<TValue> finished;
};

namespace {

// Progress over n of total source records: reported when it has grown by
// at least one step since the last report, and 100 at the end.
class TProgress {
 public:
  TProgress(TQueryRun& run, uint32_t total) : run_(run), total_(total) {}

  // False when the hook asked to abort.
  bool Visit(uint64_t n) {
    if (!run_.progress || total_ == 0) return true;
    const uint32_t percent = static_cast<uint32_t>(std::min<uint64_t>(n * 100 / total_, 100));
    if (percent >= last_ + run_.progress_step && percent > last_) return Report(percent);
    return true;
  }
  bool Finish() { return last_ == 100 || !run_.progress ? true : Report(100); }
  uint32_t reports() const { return reports_; }

 private:
  bool Report(uint32_t percent) {
    bool abort = false;
    run_.progress(static_cast<uint16_t>(percent), abort);
    ++reports_;
    last_ = percent;
    return !abort;
  }

  TQueryRun& run_;
  uint32_t total_;
  uint32_t last_ = 0;
  uint32_t reports_ = 0;
};

// Ordering of values for sorting, grouping and duplicate removal: NULL
// before every value, two NULLs equal.
int CompareNullsFirst(const TValue& a, const TValue& b, const TEvalContext& context, bool nocase) {
  if (a.null || b.null) return a.null == b.null ? 0 : (a.null ? -1 : 1);
  if (nocase && IsTextType(a.type) && IsTextType(b.type)) {
    return context.collation->Compare(a.s, b.s, true);
  }
  return CompareValues(a, b, context);
}

TValue ConvertTo(const TValue& v, const TResultField& f) {
  if (v.null) return TValue::Null(f.type, f.subtype);
  if (v.type == f.type) {
    if (v.type != kTypeString || v.s.size() <= f.size) return v;
  }
  return ConvertValue(v, f.type, f.subtype, f.size, f.scale);
}

// The class in which two sides of "=" can be matched through a hash of
// their values; 0 when they cannot.
enum THashClass { kHashNone, kHashNumber, kHashText, kHashSame };

THashClass HashClassOf(uint8_t a, uint8_t b) {
  if ((IsNumericType(a) || a == 0) && (IsNumericType(b) || b == 0)) return kHashNumber;
  if (IsTextType(a) && IsTextType(b)) return kHashText;
  if (a == b && (a == kTypeDate || a == kTypeTime || a == kTypeTimestamp || a == kTypeBoolean ||
                 IsBytesType(a))) {
    return kHashSame;
  }
  return kHashNone;
}

std::string HashKey(const TValue& v, THashClass cls) {
  if (v.null) return std::string(1, '\0');
  std::string key(1, '\1');
  if (cls == kHashText || IsBytesType(v.type)) return key + v.s;
  double d = NumberOf(v);
  if (d == 0) d = 0;  // -0 and 0 are one key
  key.append(reinterpret_cast<const char*>(&d), sizeof d);
  return key;
}

void Conjuncts(TExpToken* node, std::vector<TExpToken*>* out) {
  if (node == nullptr) return;
  if (node->kind == kNodeBinary && node->code == kOpAnd) {
    Conjuncts(node->left.get(), out);
    Conjuncts(node->right.get(), out);
  } else {
    out->push_back(node);
  }
}

// The sources an expression reads (bit i-1 for source i); nullopt when it
// holds something that is not a plain function of the row (a sub-query,
// an aggregate, a random value).
std::optional<uint64_t> SourcesOf(const TExpToken& node) {
  if (node.subquery || node.IsAggregate()) return std::nullopt;
  if (node.kind == kNodeFunction &&
      (node.code == kFnRand || node.code == kFnCurrentGuid || node.code == kFnLastAutoInc)) {
    return std::nullopt;
  }
  uint64_t mask = 0;
  if (node.kind == kNodeColumn) {
    if (node.binding.source < 1 || node.binding.source > 64) return std::nullopt;
    mask |= uint64_t{1} << (node.binding.source - 1);
  }
  for (const TExpToken* c : {node.left.get(), node.right.get()}) {
    if (c == nullptr) continue;
    const auto m = SourcesOf(*c);
    if (!m) return std::nullopt;
    mask |= *m;
  }
  for (const auto& a : node.args) {
    const auto m = SourcesOf(*a);
    if (!m) return std::nullopt;
    mask |= *m;
  }
  return mask;
}

// An index of table whose first key column is column (a column number) and
// whose other key columns ascend: the entries of one value of that column
// then follow one another from the key built with the other columns NULL.
const TTableIndex* LeadingIndexOf(TDataTable& table, int column) {
  for (const TTableIndex& index : table.indexes()) {
    const std::vector<TIndexKeyField>& keys = index.compare.fields();
    if (keys.empty() || keys[0].column != column) continue;
    if (std::all_of(keys.begin() + 1, keys.end(),
                    [](const TIndexKeyField& k) { return !k.descending; })) {
      return &index;
    }
  }
  return nullptr;
}

// Column types whose equal values always have equal keys (floating-point
// zero has two, BCD keys are rounded).
bool KeyedByValue(uint8_t type) {
  return IsIntegerType(type) || type == kTypeString || type == kTypeDate || type == kTypeTime ||
         type == kTypeTimestamp || type == kTypeBoolean;
}

// Finds the rows of one table whose column equals a value through an index
// that leads with that column. The slots it gives are a superset of the
// equal rows (a case-insensitive index, a locale's collation): the caller
// still evaluates the condition.
class TIndexProbe {
 public:
  TIndexProbe(TDataTable& table, const TTableIndex& index, const TFieldDef& column,
              const TEvalContext& context)
      : table_(table), index_(index), column_(column), context_(context) {}

  void Find(const TValue& value, std::vector<uint32_t>* slots) {
    slots->clear();
    TValue v = value;
    if (!v.null && v.type != column_.type) {
      try {
        v = ConvertValue(value, column_.type, column_.subtype, column_.size, column_.scale);
      } catch (const ETabulaEngineError&) {
        return;  // no value of the column's type equals it
      }
      if (v.null || (!IsTextType(column_.type) && CompareValues(v, value, context_) != 0)) return;
    }
    TRecordBuffer record(table_.record_size());  // every column NULL
    if (!v.null) WriteColumnValue(record, column_, v, table_.locale());
    const std::vector<uint8_t> key = index_.compare.BuildKey(record.data());
    auto tree = table_.Tree(index_);
    std::string found;
    uint32_t slot = 0;
    for (TIndexPosition pos = tree->Seek(key.data()); pos.valid(); pos = tree->Next(pos)) {
      tree->Read(pos, &found, &slot);
      if (index_.compare.ComparePrefix(reinterpret_cast<const uint8_t*>(found.data()), key.data(),
                                       1) != 0) {
        break;
      }
      slots->push_back(slot);
    }
  }

 private:
  TDataTable& table_;
  const TTableIndex& index_;
  const TFieldDef& column_;
  const TEvalContext& context_;
};

// How the rows of a joined source are matched to the rows before it: an
// equality between an expression of that source alone (own) and one of the
// sources before it (other), looked up through an index that leads with
// own's column, or else through a hash of the source's rows; no equality
// (own null): every row is a candidate.
struct TJoinKey {
  const TExpToken* own = nullptr;
  const TExpToken* other = nullptr;
  THashClass cls = kHashNone;
  const TTableIndex* index = nullptr;
  const TFieldDef* column = nullptr;
};

TJoinKey ChooseJoinKey(const std::vector<std::unique_ptr<TSourceTable>>& sources, size_t i,
                       TExpToken* where, const platform::Collation& collation) {
  TJoinKey key;
  if (i >= 64) return key;
  const TSourceTable& s = *sources[i];
  // WHERE restricts an inner join, unless a right join later brings back
  // rows it would reject.
  bool right_join_follows = false;
  for (size_t j = i + 1; j < sources.size(); ++j) {
    if (sources[j]->join.kind == kJoinRight) right_join_follows = true;
  }
  std::vector<TExpToken*> pool;
  Conjuncts(s.join.condition.get(), &pool);
  if ((s.join.kind == kJoinComma || s.join.kind == kJoinInner) && !right_join_follows) {
    Conjuncts(where, &pool);
  }
  const uint64_t self = uint64_t{1} << i;
  const uint64_t before = self - 1;
  for (TExpToken* c : pool) {
    if (c->kind != kNodeBinary || c->code != kOpEqual) continue;
    const auto l = SourcesOf(*c->left);
    const auto r = SourcesOf(*c->right);
    if (!l || !r) continue;
    const THashClass cls = HashClassOf(c->left->type, c->right->type);
    if (cls == kHashNone) continue;
    TJoinKey k;
    k.cls = cls;
    if (*l == self && (*r & ~before) == 0) {
      k.own = c->left.get();
      k.other = c->right.get();
    } else if (*r == self && (*l & ~before) == 0) {
      k.own = c->right.get();
      k.other = c->left.get();
    } else {
      continue;
    }
    // Text keys follow the table's order; the statement's must be the plain one.
    if (k.own->kind == kNodeColumn && k.own->binding.field > 0 && KeyedByValue(k.own->type) &&
        (k.own->type != kTypeString || collation.locale() == 0)) {
      const TFieldDef& def = s.cursor->fields()[k.own->binding.field - 1];
      if (const TTableIndex* index = LeadingIndexOf(s.cursor->table(), def.number)) {
        k.index = index;
        k.column = &def;
        return k;
      }
    }
    if (key.own == nullptr) key = k;
  }
  return key;
}

// A whole-number, date, time or floating-point column of a record's bytes:
// false for NULL (and for a computed column, which a record never holds);
// else whole and number get the value (number also for whole columns).
[[gnu::always_inline]] inline bool ReadNumber(const uint8_t* record, const TFieldDef& def,
                                              int64_t* whole, double* number) {
  if (def.computed || record[def.offset] == 0) return false;
  const uint8_t* v = record + def.value_offset();
  if (def.type == kTypeFloat || def.type == kTypeTimestamp) {
    *number = base::GetLEDouble(v);
    return true;
  }
  const std::optional<int64_t> stored = ReadStoredInteger(v, def.type);
  if (!stored) return false;
  *whole = *stored;
  *number = static_cast<double>(*whole);
  return true;
}

// A WHERE condition made of comparisons of a numeric column with a
// constant joined by AND, decided on a record's bytes with the evaluator's
// rules: integers compare as integers, anything with a Float as doubles; a
// NULL column fails every comparison except "<>".
class TRawWhere {
 public:
  // False when the condition has another shape (it is then evaluated).
  bool Compile(const TExpToken& node, const std::vector<TFieldDef>& fields, TEvalContext& eval) {
    if (node.kind == kNodeBinary && node.code == kOpAnd) {
      return Compile(*node.left, fields, eval) && Compile(*node.right, fields, eval);
    }
    if (node.kind != kNodeBinary || node.code < kOpEqual || node.code > kOpLessEqual) return false;
    const TExpToken* column = node.left.get();
    const TExpToken* constant = node.right.get();
    uint8_t op = node.code;
    if (column->kind != kNodeColumn) {
      std::swap(column, constant);
      static const uint8_t kMirror[] = {
          0, 0, 0, kOpEqual, kOpNotEqual, kOpLess, kOpGreater, kOpLessEqual, kOpGreaterEqual};
      op = kMirror[op];
    }
    if (column->kind != kNodeColumn || constant->kind != kNodeConstant || !column->resolved ||
        column->binding.source != 1 || column->binding.field < 1 ||
        column->binding.field > static_cast<int>(fields.size())) {
      return false;
    }
    const TFieldDef& def = fields[column->binding.field - 1];
    if (def.computed || !(IsIntegerType(def.type) || def.type == kTypeFloat)) return false;
    const TValue value = EvaluateExpression(*constant, eval);
    if (value.null || !(IsIntegerType(value.type) || value.type == kTypeFloat)) return false;
    TTest t;
    t.def = &def;
    t.op = op;
    t.whole = def.type != kTypeFloat && value.type != kTypeFloat;
    t.i = value.i;
    t.f = NumberOf(value);
    tests_.push_back(t);
    return true;
  }

  bool Accepts(const uint8_t* record) const {
    for (const TTest& t : tests_) {
      int64_t whole = 0;
      double number = 0;
      if (!ReadNumber(record, *t.def, &whole, &number)) {
        if (t.op != kOpNotEqual) return false;
        continue;
      }
      const int c = t.whole ? (whole < t.i ? -1 : (t.i < whole ? 1 : 0))
                            : (number < t.f ? -1 : (t.f < number ? 1 : 0));
      bool pass;
      switch (t.op) {
        case kOpEqual:
          pass = c == 0;
          break;
        case kOpNotEqual:
          pass = c != 0;
          break;
        case kOpGreater:
          pass = c > 0;
          break;
        case kOpLess:
          pass = c < 0;
          break;
        case kOpGreaterEqual:
          pass = c >= 0;
          break;
        default:
          pass = c <= 0;
          break;
      }
      if (!pass) return false;
    }
    return true;
  }

 private:
  struct TTest {
    const TFieldDef* def = nullptr;
    uint8_t op = 0;
    bool whole = false;
    int64_t i = 0;
    double f = 0;
  };
  std::vector<TTest> tests_;
};

// The WHERE condition of a live result as its cursor's filter: evaluated on
// the record the cursor reads. It keeps the condition and a copy of the
// parameters, so it outlives the statement that made it.
class TLiveFilter : public TColumnResolver {
 public:
  TLiveFilter(std::shared_ptr<TExpToken> where, const std::vector<TValue>* parameters,
              const platform::Collation* collation, TDataCursor& cursor)
      : where_(std::move(where)), cursor_(cursor) {
    if (parameters != nullptr) parameters_ = *parameters;
    eval_.parameters = &parameters_;
    eval_.collation = collation;
    eval_.resolver = this;
  }

  bool Accepts(const TRecordBuffer& record) {
    row_ = &record;
    const bool accepted = EvaluateCondition(*where_, eval_);
    row_ = nullptr;
    return accepted;
  }

  bool ResolveColumn(std::string_view, std::string_view, TColumnBinding*) override { return false; }
  bool ReadColumn(const TColumnBinding& binding, TValue* value) override {
    if (row_ == nullptr) return false;
    const TFieldDef& def = binding.field > 0                  ? cursor_.fields()[binding.field - 1]
                           : binding.field == kRecordIdColumn ? RecordIdField()
                                                              : RecordHashField();
    *value = ReadColumnValue(*row_, def);
    return true;
  }

 private:
  std::shared_ptr<TExpToken> where_;
  std::vector<TValue> parameters_;
  TEvalContext eval_;
  TDataCursor& cursor_;
  const TRecordBuffer* row_ = nullptr;
};

}  // namespace

// --- live result -----------------------------------------------------------

std::unique_ptr<TResultTable> TDataQuery::ExecuteLive(TQueryRun& run, uint32_t* rows_affected) {
  // The result takes the source's cursor; the next execution opens another.
  std::unique_ptr<TDataCursor> cursor = std::move(sources_[0]->cursor);
  std::vector<bool> hidden(cursor->fields().size(), true);
  for (const TResultField& f : fields_) hidden[f.expression->binding.field - 1] = false;
  cursor->set_hidden_columns(std::move(hidden));
  if (where_) {
    auto filter = std::make_shared<TLiveFilter>(where_, run.parameters, eval_.collation, *cursor);
    cursor->set_filter([filter](const TRecordBuffer& record) { return filter->Accepts(record); });
  }
  cursor->SetCurrentIndex(live_index_);
  *rows_affected = cursor->RecordCount();
  cursor->First();
  TProgress progress(run, 0);
  progress.Finish();
  return std::make_unique<TResultTable>(std::move(cursor));
}

// --- sources -------------------------------------------------------------

bool TDataQuery::ScanSources(TQueryRun& run, const std::function<bool()>& visit, bool raw) {
  eval_.parameters = run.parameters;
  struct Scanning {
    explicit Scanning(TDataQuery& q) : q_(q) { q_.scanning_ = true; }
    ~Scanning() {
      q_.scanning_ = false;
      for (auto& s : q_.sources_) s->row = nullptr;
      q_.raw_row_ = nullptr;
      q_.scan_record_ = nullptr;
    }
    TDataQuery& q_;
  } scanning(*this);

  if (sources_.size() == 1) {
    // One table: its slots in order, straight from the table, held for the
    // scan (one read lock and one check for changes by others; the cursor
    // would take both for every record). A record is read in place and
    // copied only when something evaluates expressions over it.
    TSourceTable& s = *sources_[0];
    TDataTable& table = s.cursor->table();
    TTableReadHold hold(table);
    TProgress progress(run, table.record_count());
    TRecordBuffer record(table.record_size());
    scan_record_ = &record;
    TRawWhere raw_where;
    const bool raw_test =
        where_ && !has_subquery_ && raw_where.Compile(*where_, s.cursor->fields(), eval_);
    const uint32_t slots = table.slot_count();
    uint64_t n = 0;
    for (uint32_t slot = 1; slot <= slots; ++slot) {
      const uint8_t* bytes = table.PeekRecord(slot);
      if (bytes[0] != kSlotLive) continue;
      const uint32_t reports = progress.reports();
      if (!progress.Visit(++n)) return false;
      // The hook may have read the table.
      if (progress.reports() != reports) bytes = table.PeekRecord(slot);
      raw_row_ = bytes;
      raw_slot_ = slot;
      s.row = nullptr;
      if (raw_test) {
        if (!raw_where.Accepts(bytes)) continue;
      } else if (where_) {
        MaterializeRow();
        if (!EvaluateCondition(*where_, eval_)) continue;
      }
      if (!raw) MaterializeRow();
      if (!visit()) break;
    }
    s.row = nullptr;
    return progress.Finish();
  }

  const size_t count = sources_.size();
  // The tables stay held while the joined rows are built: no other process
  // writes meanwhile, and no step re-reads a header.
  std::vector<std::unique_ptr<TTableReadHold>> holds;
  for (auto& s : sources_) holds.push_back(std::make_unique<TTableReadHold>(s->cursor->table()));
  auto slots_of = [](TDataCursor& c) {
    std::vector<uint32_t> slots;
    if (c.current_index() != kNaturalOrder) c.SetCurrentIndex(kNaturalOrder);
    c.First();
    while (c.Next()) slots.push_back(c.current_slot());
    return slots;
  };
  auto position = [this](size_t i, uint32_t slot) {
    TSourceTable& s = *sources_[i];
    if (slot == 0) {
      s.row = nullptr;
      return;
    }
    if (s.cursor->current_slot() != slot) s.cursor->GoToSlot(slot);
    s.row = &s.cursor->current();
  };

  // How each joined source finds its rows, settled before the scan: an
  // index probe, a hash of its rows by the joined expression, or every row.
  struct TLevel {
    TJoinKey key;
    std::optional<TIndexProbe> probe;
    std::vector<uint32_t> slots;  // every row, when no probe serves alone
    std::unordered_map<std::string, std::vector<uint32_t>> hash;
    // RIGHT join: whether each row of slots met a row before it.
    std::vector<bool> matched;
    std::unordered_map<uint32_t, size_t> slot_index;
    std::vector<uint32_t> found;
  };
  std::vector<TLevel> levels(count);
  for (size_t i = 1; i < count; ++i) {
    TSourceTable& s = *sources_[i];
    TLevel& level = levels[i];
    level.key = ChooseJoinKey(sources_, i, where_.get(), *eval_.collation);
    if (level.key.index != nullptr) {
      level.probe.emplace(s.cursor->table(), *level.key.index, *level.key.column, eval_);
    }
    if (!level.probe || s.join.kind == kJoinRight) level.slots = slots_of(*s.cursor);
    if (level.key.own != nullptr && !level.probe) {
      for (size_t j = 0; j < i; ++j) sources_[j]->row = nullptr;
      for (uint32_t slot : level.slots) {
        position(i, slot);
        level.hash[HashKey(EvaluateExpression(*level.key.own, eval_), level.key.cls)].push_back(
            slot);
      }
      s.row = nullptr;
    }
    if (s.join.kind == kJoinRight) {
      level.matched.assign(level.slots.size(), false);
      for (size_t k = 0; k < level.slots.size(); ++k) level.slot_index[level.slots[k]] = k;
    }
  }

  // Depth first: with sources 0..i-1 positioned, each row of source i that
  // joins them (or the NULL row of a LEFT join that found none) is
  // positioned in turn and the next source taken; a complete joined row
  // passes WHERE and goes to visit. False once visit asked to stop.
  bool stopped = false;
  std::function<void(size_t)> extend = [&](size_t i) {
    if (i == count) {
      if (where_ && !EvaluateCondition(*where_, eval_)) return;
      if (!visit()) stopped = true;
      return;
    }
    TSourceTable& s = *sources_[i];
    TLevel& level = levels[i];
    const std::vector<uint32_t>* candidates = &level.slots;
    if (level.key.own != nullptr) {
      s.row = nullptr;
      const TValue other = EvaluateExpression(*level.key.other, eval_);
      if (level.probe) {
        level.probe->Find(other, &level.found);
        candidates = &level.found;
      } else {
        auto it = level.hash.find(HashKey(other, level.key.cls));
        candidates = it == level.hash.end() ? nullptr : &it->second;
      }
    }
    bool any = false;
    if (candidates != nullptr) {
      // The probe's list is refilled deeper down when the same level is
      // reached again: walk a copy of it.
      const std::vector<uint32_t> own =
          candidates == &level.found ? level.found : std::vector<uint32_t>{};
      const std::vector<uint32_t>& list = candidates == &level.found ? own : *candidates;
      for (uint32_t slot : list) {
        position(i, slot);
        if (s.join.condition && !EvaluateCondition(*s.join.condition, eval_)) continue;
        any = true;
        if (s.join.kind == kJoinRight) level.matched[level.slot_index[slot]] = true;
        extend(i + 1);
        if (stopped) return;
        // Deeper levels moved the cursors of the sources after this one only.
      }
    }
    if (!any && s.join.kind == kJoinLeft) {
      position(i, 0);
      extend(i + 1);
    }
  };

  TProgress progress(run, sources_[0]->cursor->table().record_count());
  uint64_t n = 0;
  for (uint32_t slot : slots_of(*sources_[0]->cursor)) {
    if (!progress.Visit(++n)) return false;
    position(0, slot);
    extend(1);
    if (stopped) return progress.Finish();
  }
  // The rows of each RIGHT join that met no row before it, with every
  // source before it NULL, in the order of their table.
  for (size_t i = 1; i < count && !stopped; ++i) {
    if (sources_[i]->join.kind != kJoinRight) continue;
    TLevel& level = levels[i];
    for (size_t k = 0; k < level.slots.size() && !stopped; ++k) {
      if (level.matched[k]) continue;
      for (size_t j = 0; j < i; ++j) sources_[j]->row = nullptr;
      position(i, level.slots[k]);
      extend(i + 1);
    }
  }
  return progress.Finish();
}

void TDataQuery::MaterializeRow() {
  if (scan_record_ == nullptr) return;  // joined rows are always positioned
  TSourceTable& s = *sources_[0];
  if (s.row == scan_record_) return;
  std::memcpy(scan_record_->data(), raw_row_, scan_record_->size());
  scan_record_->set_link(static_cast<int32_t>(raw_slot_));
  raw_row_ = scan_record_->data();
  s.row = scan_record_;
}

bool TDataQuery::ForEachSourceRow(TQueryRun& run, const std::function<void()>& visit) {
  return ScanSources(run, [&] {
    visit();
    return true;
  });
}

// --- the resolver while rows run -----------------------------------------

bool TDataQuery::ReadColumn(const TColumnBinding& binding, TValue* value) {
  if (finishing_ != nullptr) {
    // After grouping, a column stands for its group's value.
    for (size_t i = 0; i < fields_.size(); ++i) {
      const TExpToken& e = *fields_[i].expression;
      if (e.kind == kNodeColumn && e.binding.source == binding.source &&
          e.binding.field == binding.field) {
        *value = finishing_->first[i];
        return true;
      }
    }
    *value = TValue::Null(binding.type, binding.subtype);
    return true;
  }
  if (!scanning_ || binding.source < 1 || binding.source > static_cast<int>(sources_.size())) {
    return false;
  }
  TSourceTable& s = *sources_[binding.source - 1];
  if (s.row == nullptr) {
    *value = TValue::Null(binding.type, binding.subtype);
    return true;
  }
  const TFieldDef& def = binding.field > 0                  ? s.cursor->fields()[binding.field - 1]
                         : binding.field == kRecordIdColumn ? RecordIdField()
                                                            : RecordHashField();
  if (def.IsBlob()) {
    if (s.row->IsNull(def)) {
      *value = TValue::Null(def.type, def.subtype);
      return true;
    }
    // The cursor reads BLOB values of its current record.
    const auto slot = static_cast<uint32_t>(s.row->link());
    if (s.cursor->current_slot() != slot) s.cursor->GoToSlot(slot);
    const std::vector<uint8_t> bytes = s.cursor->ReadBlob(def);
    *value = TValue::String(std::string(bytes.begin(), bytes.end()), def.subtype);
    value->type = kTypeBlob;
    return true;
  }
  *value = ReadColumnValue(*s.row, def);
  return true;
}

bool TDataQuery::ReadAggregate(const TExpToken& node, TValue* value) {
  if (finishing_ == nullptr) return false;
  for (size_t k = 0; k < aggregates_.size(); ++k) {
    if (aggregates_[k] == &node) {
      *value = finishing_->finished[k];
      return true;
    }
  }
  return false;
}

// --- aggregation ---------------------------------------------------------

void TDataQuery::StartGroup(TGroup& group) {
  group.acc.assign(aggregates_.size(), TAccumulator{});
  group.first.assign(fields_.size(), TValue{});
  for (size_t i = 0; i < fields_.size(); ++i) {
    const TResultField& f = fields_[i];
    if (f.expression->ContainsAggregate()) continue;
    group.first[i] = ConvertTo(EvaluateExpression(*f.expression, eval_), f);
  }
  MergeGroup(group);
}

void TDataQuery::MergeGroup(TGroup& group) {
  for (size_t k = 0; k < aggregates_.size(); ++k) {
    const TExpToken& node = *aggregates_[k];
    TAccumulator& a = group.acc[k];
    const uint8_t code = aggregate_codes_[k];
    if (direct_[k] != nullptr) {
      const TRecordBuffer* row = sources_[direct_source_[k] - 1]->row;
      MergeDirect(node, code, *direct_[k], row != nullptr ? row->data() : nullptr, a);
      continue;
    }
    if (code == kAggCount) {
      if (node.option == 1 || !EvaluateExpression(*node.args[0], eval_).null) ++a.count;
      continue;
    }
    TValue v = EvaluateExpression(*node.args[0], eval_);
    if (v.null) continue;
    switch (code) {
      case kAggSum:
      case kAggRunSum:
      case kAggAvg:
        if (a.value.null) {
          a.value = TValue::Null(node.type, node.subtype);
          a.value.null = false;
        }
        if (IsIntegerType(node.type)) {
          a.value.i += IsIntegerType(v.type) ? v.i : static_cast<int64_t>(NumberOf(v));
        } else {
          a.value.f += NumberOf(v);
        }
        ++a.count;
        break;
      case kAggStdDev: {
        const double x = NumberOf(v);
        a.sum += x;
        a.squares += x * x;
        ++a.count;
        break;
      }
      case kAggMin:
      case kAggMax: {
        if (v.type != node.type && node.type != 0) {
          v = ConvertValue(v, node.type, node.subtype, node.size, node.scale);
        }
        v.subtype = node.subtype;
        if (a.value.null) {
          a.value = std::move(v);
        } else {
          const int c = CompareValues(v, a.value, eval_);
          if (code == kAggMin ? c < 0 : c > 0) a.value = std::move(v);
        }
        break;
      }
      default:
        break;
    }
  }
}

void TDataQuery::MergeRaw(TGroup& group, const uint8_t* record) {
  for (size_t k = 0; k < aggregates_.size(); ++k) {
    TAccumulator& a = group.acc[k];
    const TFieldDef* def = direct_[k];
    if (def == nullptr) {
      ++a.count;  // COUNT(*)
      continue;
    }
    const uint8_t code = aggregate_codes_[k];
    if ((code == kAggMax || code == kAggMin) && !a.value.null) {
      // The common step of MIN and MAX, here without a call.
      int64_t whole = 0;
      double number = 0;
      if (!ReadNumber(record, *def, &whole, &number)) continue;
      const bool real = def->type == kTypeFloat || def->type == kTypeTimestamp;
      const int c = real ? (number < a.value.f ? -1 : (a.value.f < number ? 1 : 0))
                         : (whole < a.value.i ? -1 : (a.value.i < whole ? 1 : 0));
      if (code == kAggMin ? c < 0 : c > 0) {
        a.value.i = whole;
        a.value.f = number;
      }
      continue;
    }
    MergeDirect(*aggregates_[k], code, *def, record, a);
  }
}

void TDataQuery::MergeDirect(const TExpToken& node, uint8_t code, const TFieldDef& def,
                             const uint8_t* record, TAccumulator& a) {
  int64_t whole = 0;
  double number = 0;
  if (record == nullptr || !ReadNumber(record, def, &whole, &number)) return;
  if (code == kAggCount) {
    ++a.count;
    return;
  }
  const bool real = def.type == kTypeFloat || def.type == kTypeTimestamp;
  if (a.value.null && code != kAggStdDev) {
    a.value = TValue::Null(node.type, node.subtype);
    a.value.null = false;
    if (code == kAggMin || code == kAggMax) {
      a.value.i = whole;
      a.value.f = number;
      return;
    }
  }
  switch (code) {
    case kAggMin:
    case kAggMax: {
      const bool smaller = real ? number < a.value.f : whole < a.value.i;
      const bool larger = real ? number > a.value.f : whole > a.value.i;
      if (code == kAggMin ? smaller : larger) {
        a.value.i = whole;
        a.value.f = number;
      }
      break;
    }
    case kAggStdDev:
      a.sum += number;
      a.squares += number * number;
      ++a.count;
      break;
    default:
      if (IsIntegerType(node.type)) {
        a.value.i += whole;
      } else {
        a.value.f += number;
      }
      ++a.count;
      break;
  }
}

bool TDataQuery::FinishGroup(TGroup& group, std::vector<TValue>& running, TResultRow* row) {
  TGroup* g = &group;
  {
    g->finished.assign(aggregates_.size(), TValue{});
    for (size_t k = 0; k < aggregates_.size(); ++k) {
      const TExpToken& node = *aggregates_[k];
      const TAccumulator& a = g->acc[k];
      TValue v = TValue::Null(node.type, node.subtype);
      switch (node.AggregateCode()) {
        case kAggCount:
          v = TValue::Integer(a.count);
          break;
        case kAggSum:
          v = a.value;
          break;
        case kAggRunSum: {
          TValue& r = running[k];
          if (!a.value.null) {
            if (r.null) {
              r = a.value;
            } else if (IsIntegerType(node.type)) {
              r.i += a.value.i;
            } else {
              r.f += a.value.f;
            }
          }
          v = r;
          if (v.null) v = TValue::Null(node.type, node.subtype);
          break;
        }
        case kAggAvg:
          if (a.count > 0) {
            v = a.value;
            if (IsIntegerType(node.type)) {
              v.i = a.value.i / a.count;
            } else if (node.type == kTypeDecimal) {
              v.f = RoundToScale(a.value.f / static_cast<double>(a.count), node.scale);
            } else {
              v.f = a.value.f / static_cast<double>(a.count);
            }
          }
          break;
        case kAggStdDev:
          if (a.count == 1) {
            v = TValue::Float(0);
          } else if (a.count > 1) {
            const double n = static_cast<double>(a.count);
            const double var = (a.squares - a.sum * a.sum / n) / (n - 1);
            v = TValue::Float(var > 0 ? std::sqrt(var) : 0);
          }
          break;
        default:
          v = a.value;
          break;
      }
      g->finished[k] = std::move(v);
    }
    finishing_ = g;
    struct Reset {
      ~Reset() { q->finishing_ = nullptr; }
      TDataQuery* q;
    } reset{this};
    if (having_ && !EvaluateCondition(*having_, eval_)) return false;
    row->assign(fields_.size(), TValue{});
    for (size_t i = 0; i < fields_.size(); ++i) {
      const TResultField& f = fields_[i];
      (*row)[i] = f.expression->ContainsAggregate()
                      ? ConvertTo(EvaluateExpression(*f.expression, eval_), f)
                      : g->first[i];
    }
    return true;
  }
}

void TDataQuery::FinishGroups(std::vector<TGroup*>& ordered, std::vector<TResultRow>* rows) {
  std::vector<TValue> running(aggregates_.size());
  TResultRow row;
  for (TGroup* g : ordered) {
    if (FinishGroup(*g, running, &row)) rows->push_back(std::move(row));
  }
}

TResultRow TDataQuery::EvaluateRow() {
  TResultRow row(fields_.size());
  for (size_t i = 0; i < fields_.size(); ++i) {
    row[i] = ConvertTo(EvaluateExpression(*fields_[i].expression, eval_), fields_[i]);
  }
  return row;
}

bool TDataQuery::RunShortcut(TQueryRun& run, std::vector<TResultRow>* rows) {
  TDataCursor& c = *sources_[0]->cursor;
  const TResultField& f = fields_[0];
  TValue v = TValue::Null(f.type, f.subtype);
  if (shortcut_ == 2) {
    if (c.current_index() != kNaturalOrder) c.SetCurrentIndex(kNaturalOrder);
    v = TValue::Integer(c.RecordCount());
  } else {
    const TExpToken& arg = *f.expression->args[0];
    const TFieldDef& def = c.fields()[arg.binding.field - 1];
    c.SetCurrentIndex(shortcut_index_);
    if (shortcut_from_end_)
      c.Last();
    else
      c.First();
    // NULL keys sit at one end of the index; the first value is the answer.
    while (shortcut_from_end_ ? c.Prior() : c.Next()) {
      const TValue x = ReadColumnValue(c.current(), def);
      if (!x.null) {
        v = ConvertTo(x, f);
        break;
      }
    }
    c.SetCurrentIndex(kNaturalOrder);
  }
  rows->push_back({v});
  TProgress progress(run, 0);
  return progress.Finish();
}

// --- rows of the whole query ----------------------------------------------

namespace {

// The limit a plain scan stops at: TOP and the caller's row limit, when
// nothing after the scan reorders or combines the rows; -1 for none.
int64_t ScanLimit(int32_t top, int32_t max_row_count, bool later_stages) {
  if (later_stages) return -1;
  int64_t limit = top;
  if (max_row_count >= 0 && (limit < 0 || max_row_count < limit)) limit = max_row_count;
  return limit;
}

// A value as it is stored for a temporary index: floating-point zero has
// one key.
void WriteKeyedValue(TRecordBuffer& record, const TFieldDef& def, const TValue& value,
                     uint32_t locale) {
  if (!value.null && value.f == 0 && (def.type == kTypeFloat || def.type == kTypeTimestamp) &&
      std::signbit(value.f)) {
    TValue zero = value;
    zero.f = 0;
    WriteColumnValue(record, def, zero, locale);
    return;
  }
  WriteColumnValue(record, def, value, locale);
}

// The first columns of the cursor's current record (BLOBs through the
// cursor).
TResultRow ReadRow(TDataCursor& c, size_t columns) {
  const std::vector<TFieldDef>& defs = c.fields();
  TResultRow row(columns);
  for (size_t i = 0; i < columns && i < defs.size(); ++i) {
    const TFieldDef& def = defs[i];
    if (!def.IsBlob()) {
      row[i] = ReadColumnValue(c.current(), def);
    } else if (c.current().IsNull(def)) {
      row[i] = TValue::Null(def.type, def.subtype);
    } else {
      const std::vector<uint8_t> bytes = c.ReadBlob(def);
      row[i] = TValue::String(std::string(bytes.begin(), bytes.end()), def.subtype);
      row[i].type = kTypeBlob;
    }
  }
  return row;
}

void InsertRow(TDataCursor& c, const TResultRow& row, uint32_t locale) {
  TRecordBuffer record = c.NewRecord();
  const std::vector<TFieldDef>& defs = c.fields();
  for (size_t i = 0; i < defs.size() && i < row.size(); ++i) {
    if (defs[i].IsBlob()) {
      if (!row[i].null) {
        c.SetBlob(record, defs[i], std::vector<uint8_t>(row[i].s.begin(), row[i].s.end()));
      }
    } else {
      WriteKeyedValue(record, defs[i], row[i], locale);
    }
  }
  c.Insert(record);
}

// Positions the cursor, in its current index, on a row whose key equals
// row's; false when there is none.
bool FindRow(TDataCursor& c, const TResultRow& row, uint32_t locale) {
  TRecordBuffer record(c.record_size());
  const std::vector<TFieldDef>& defs = c.fields();
  for (size_t i = 0; i < defs.size() && i < row.size(); ++i) {
    if (!defs[i].IsBlob()) WriteKeyedValue(record, defs[i], row[i], locale);
  }
  return c.FindKey(record);
}

uint8_t IndexSlot(TDataCursor& c, const char* name) {
  for (const TTableIndex& index : c.table().indexes()) {
    if (index.name == name) return index.slot;
  }
  return kNaturalOrder;
}

std::vector<TResultRow> ReadAllRows(TDataCursor& c, size_t columns) {
  std::vector<TResultRow> rows;
  c.First();
  while (c.Next()) rows.push_back(ReadRow(c, columns));
  return rows;
}

// Deletes rows from the end of the cursor's order until n remain.
void KeepFirst(TDataCursor& c, int64_t n) {
  if (n < 0) return;
  int64_t count = c.RecordCount();
  if (count <= n) return;
  c.Last();
  for (; count > n; --count) {
    if (!c.Prior()) break;
    c.Delete();
  }
}

// Keeps the first of every set of equal rows, in their order.
void RemoveDuplicates(std::vector<TResultRow>* rows,
                      const std::function<int(const TResultRow&, const TResultRow&)>& compare) {
  std::vector<size_t> order(rows->size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return compare((*rows)[a], (*rows)[b]) < 0; });
  std::vector<bool> keep(rows->size(), false);
  for (size_t i = 0; i < order.size(); ++i) {
    if (i == 0 || compare((*rows)[order[i - 1]], (*rows)[order[i]]) != 0) keep[order[i]] = true;
  }
  std::vector<TResultRow> kept;
  for (size_t i = 0; i < rows->size(); ++i) {
    if (keep[i]) kept.push_back(std::move((*rows)[i]));
  }
  *rows = std::move(kept);
}

}  // namespace

std::unique_ptr<TResultTable> TDataQuery::NewRowTable(const std::vector<TIndexDefinition>& indexes,
                                                      const std::vector<TFieldDef>& extra,
                                                      bool into) {
  TNewTableDefinition definition;
  definition.table.fields = result_defs_;
  definition.table.fields.insert(definition.table.fields.end(), extra.begin(), extra.end());
  for (auto& f : definition.table.fields) f.number = 0;
  definition.table.locale = locale_;
  if (!password_.empty()) {
    definition.table.encrypted = true;
    definition.table.password = password_;
  }
  definition.secondary = indexes;
  std::unique_ptr<TResultTable> table;
  if (into) {
    database_.CreateTable(into_, definition);
    table = std::make_unique<TResultTable>(database_.OpenTable(into_));
  } else {
    try {
      table = database_.CreateResultTable(definition);
    } catch (const ETabulaEngineError& e) {
      if (indexes.empty() || (e.code() != kErrInvalidKeySize && e.code() != kErrIndexLimits)) {
        throw;
      }
      return nullptr;
    }
  }
  if (!extra.empty()) {
    std::vector<bool> hidden(result_defs_.size() + extra.size(), false);
    std::fill(hidden.begin() + static_cast<std::ptrdiff_t>(result_defs_.size()), hidden.end(),
              true);
    table->cursor().set_hidden_columns(std::move(hidden));
  }
  return table;
}

bool TDataQuery::KeyedExactly(const TResultField& f) const {
  switch (f.type) {
    case kTypeString:
      // Keys of the default collation compare as its text does.
      return f.subtype != kSubtypeWideChar && eval_.collation->locale() == 0;
    case kTypeDecimal:
      return f.scale <= 4;  // keys hold four decimals
    case kTypeBlob:
    case kTypeBytes:
    case kTypeVarBytes:
      return false;
    default:
      return true;
  }
}

std::optional<TIndexDefinition> TDataQuery::DistinctIndex() const {
  if (fields_.size() > kMaxIndexColumns) return std::nullopt;
  TIndexDefinition index;
  index.name = kDistinctIndexName;
  for (const TResultField& f : fields_) {
    if (!KeyedExactly(f)) return std::nullopt;
    index.columns.push_back(static_cast<int16_t>(f.field));
  }
  return index;
}

bool TDataQuery::ComputeOwnRows(TQueryRun& run, std::vector<TResultRow>* rows) {
  eval_.parameters = run.parameters;
  if (identity_) {
    const std::optional<int64_t> last = database_.LastIdentity();
    rows->push_back({last ? TValue::Integer(*last) : TValue::Null(kTypeInteger)});
    return true;
  }
  if (shortcut_ != 0) return RunShortcut(run, rows);
  if (!grouped_) {
    // DISTINCT over columns an index cannot compare exactly: a candidate
    // equal to a row already kept is dropped during the scan, so only
    // distinct rows are held, in the order first met.
    const int64_t limit =
        ScanLimit(top_, run.max_row_count, !order_by_.empty() || !set_parts_.empty());
    if (limit == 0) return true;
    auto less = [this, rows](size_t a, size_t b) {
      return CompareRows((*rows)[a], (*rows)[b]) < 0;
    };
    std::set<size_t, decltype(less)> kept(less);
    return ScanSources(run, [&] {
      rows->push_back(EvaluateRow());
      if (!kept.insert(rows->size() - 1).second) rows->pop_back();
      return limit < 0 || static_cast<int64_t>(rows->size()) < limit;
    });
  }
  // One grouped row.
  TGroup group;
  group.acc.assign(aggregates_.size(), TAccumulator{});
  group.first.assign(fields_.size(), TValue{});
  bool started = false;
  int64_t merged = 0;
  const bool ok = ScanSources(
      run,
      [&] {
        if (!started) {
          MaterializeRow();
          StartGroup(group);
          started = true;
        } else if (raw_merge_) {
          MergeRaw(group, raw_row_);
        } else {
          MaterializeRow();
          MergeGroup(group);
        }
        ++merged;
        return run.max_row_count < 0 || merged < run.max_row_count;
      },
      true);
  if (!ok) return false;
  std::vector<TGroup*> ordered{&group};
  FinishGroups(ordered, rows);
  return true;
}

std::unique_ptr<TResultTable> TDataQuery::ComputeOwnTable(TQueryRun& run,
                                                          const TIndexDefinition* order) {
  eval_.parameters = run.parameters;
  if (grouped_ && !one_grouped_row_ && !identity_ && shortcut_ == 0) {
    return ComputeGroupTable(run);
  }
  const bool scan = !identity_ && shortcut_ == 0 && !grouped_;
  std::optional<TIndexDefinition> distinct;
  if (scan && distinct_) distinct = DistinctIndex();
  std::vector<TIndexDefinition> indexes;
  if (order != nullptr) indexes.push_back(*order);
  if (distinct) indexes.push_back(*distinct);
  std::unique_ptr<TResultTable> table = NewRowTable(indexes);
  if (!table && order != nullptr) {
    // The ordering key does not fit an index: the result is ordered later.
    indexes.erase(indexes.begin());
    table = NewRowTable(indexes);
  }
  if (!table) table = NewRowTable({});
  TDataCursor& c = table->cursor();
  if (!scan || (distinct_ && IndexSlot(c, kDistinctIndexName) == kNaturalOrder)) {
    std::vector<TResultRow> rows;
    if (!ComputeOwnRows(run, &rows)) return nullptr;
    for (const TResultRow& row : rows) InsertRow(c, row, locale_);
    return table;
  }
  const int64_t limit =
      ScanLimit(top_, run.max_row_count, !order_by_.empty() || !set_parts_.empty());
  if (limit == 0) return table;
  int64_t count = 0;
  const uint8_t distinct_slot = distinct_ ? IndexSlot(c, kDistinctIndexName) : kNaturalOrder;
  if (distinct_slot != kNaturalOrder) {
    // DISTINCT: a candidate whose key the temporary index on every column
    // already holds is not inserted; the rows stay in the order first met.
    c.SetCurrentIndex(distinct_slot);
    NoteIndexPlan("Distinct rows will be found through a temporary index");
  }
  const bool ok = ScanSources(run, [&] {
    const TResultRow row = EvaluateRow();
    if (distinct_slot != kNaturalOrder && FindRow(c, row, locale_)) return true;
    InsertRow(c, row, locale_);
    ++count;
    return limit < 0 || count < limit;
  });
  if (!ok) return nullptr;
  c.SetCurrentIndex(kNaturalOrder);
  return table;
}

// --- grouped rows ----------------------------------------------------------

void TDataQuery::LayOutGroupTable() {
  const size_t n = aggregates_.size();
  acc_value_.assign(n, -1);
  acc_count_.assign(n, -1);
  acc_sum_.assign(n, -1);
  group_extra_.clear();
  std::vector<std::string> names;
  for (const TFieldDef& def : result_defs_) names.push_back(def.name);
  // A hidden column after the result's, named uniquely.
  auto add = [&](const std::string& base, uint8_t type, uint8_t subtype = 0, uint32_t size = 0,
                 int scale = 0) {
    std::string name = base;
    for (int i = 1;
         std::any_of(names.begin(), names.end(),
                     [&](const std::string& x) { return platform::SameTextNoCase(x, name); });
         ++i) {
      name = base + "_" + std::to_string(i);
    }
    names.push_back(name);
    TFieldDef def;
    def.name = name;
    def.type = type;
    def.subtype = subtype;
    def.size = static_cast<uint16_t>(size);
    def.scale = static_cast<uint8_t>(scale);
    group_extra_.push_back(def);
    return static_cast<int>(result_defs_.size() + group_extra_.size() - 1);
  };
  for (size_t k = 0; k < n; ++k) {
    const TExpToken& node = *aggregates_[k];
    const uint8_t code = aggregate_codes_[k];
    int own = -1;
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (fields_[i].expression.get() == &node) own = static_cast<int>(i);
    }
    const TResultField* f = own >= 0 ? &fields_[own] : nullptr;
    switch (code) {
      case kAggCount:
        acc_value_[k] =
            f != nullptr && f->type == kTypeInteger ? own : add("Sys__Aggregate", kTypeInteger);
        break;
      case kAggSum:
      case kAggRunSum:
      case kAggAvg: {
        // Sums add up in 64-bit integers or doubles.
        const uint8_t type =
            IsIntegerType(node.type) ? uint8_t{kTypeLargeInt} : uint8_t{kTypeFloat};
        acc_value_[k] = f != nullptr && f->type == type ? own : add("Sys__Aggregate", type);
        if (code == kAggAvg) acc_count_[k] = add("Sys__Avg__Count", kTypeInteger);
        break;
      }
      case kAggStdDev:
        // Its own column holds the sum of the squares.
        acc_value_[k] =
            f != nullptr && f->type == kTypeFloat ? own : add("Sys__Aggregate", kTypeFloat);
        acc_count_[k] = add("Sys__StdDev__Count", kTypeInteger);
        acc_sum_[k] = add("Sys__StdDev__Sum", kTypeFloat);
        break;
      default: {  // MIN, MAX
        const uint8_t type = node.type == 0 ? uint8_t{kTypeFloat} : node.type;
        uint32_t size = 0;
        if (type == kTypeString || IsBytesType(type)) {
          size = node.size == 0 ? kMaxResultFieldSize : std::min(node.size, kMaxResultFieldSize);
          if (node.subtype == kSubtypeGuid) size = 38;
          if (node.subtype == kSubtypeWideChar) size = std::min<uint32_t>(size, 256);
        }
        const uint8_t subtype =
            node.subtype == kSubtypeAutoInc || node.subtype == kSubtypeRecordHash ? 0
                                                                                  : node.subtype;
        const int scale = type == kTypeDecimal ? node.scale : 0;
        const bool fits = f != nullptr && f->type == type && f->subtype == subtype &&
                          f->scale == scale && f->size == size;
        acc_value_[k] = fits ? own : add("Sys__Aggregate", type, subtype, size, scale);
        break;
      }
    }
  }
}

void TDataQuery::ReadGroup(const TRecordBuffer& record, TGroup& group) const {
  group.acc.assign(aggregates_.size(), TAccumulator{});
  group.first.assign(fields_.size(), TValue{});
  const std::vector<TFieldDef>& defs = record_defs_;
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (!fields_[i].expression->ContainsAggregate())
      group.first[i] = ReadColumnValue(record, defs[i]);
  }
  for (size_t k = 0; k < aggregates_.size(); ++k) {
    const TExpToken& node = *aggregates_[k];
    TAccumulator& a = group.acc[k];
    const TValue v = ReadColumnValue(record, defs[acc_value_[k]]);
    auto whole = [&](int column) {
      if (column < 0) return int64_t{0};
      const TValue x = ReadColumnValue(record, defs[column]);
      return x.null ? int64_t{0} : x.i;
    };
    auto real = [&](int column) {
      if (column < 0) return 0.0;
      const TValue x = ReadColumnValue(record, defs[column]);
      return x.null ? 0.0 : x.f;
    };
    switch (aggregate_codes_[k]) {
      case kAggCount:
        a.count = v.null ? 0 : v.i;
        break;
      case kAggSum:
      case kAggRunSum:
      case kAggAvg:
        if (!v.null) {
          a.value = TValue::Null(node.type, node.subtype);
          a.value.null = false;
          if (IsIntegerType(node.type)) {
            a.value.i = v.i;
          } else {
            a.value.f = v.f;
          }
        }
        a.count = whole(acc_count_[k]);
        break;
      case kAggStdDev:
        a.squares = v.null ? 0.0 : v.f;
        a.count = whole(acc_count_[k]);
        a.sum = real(acc_sum_[k]);
        break;
      default:
        a.value = v;
        if (!v.null) {
          a.value.type = node.type;
          a.value.subtype = node.subtype;
        }
        break;
    }
  }
}

void TDataQuery::WriteGroup(const TGroup& group, TRecordBuffer& record) const {
  const std::vector<TFieldDef>& defs = record_defs_;
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (!fields_[i].expression->ContainsAggregate() && !defs[i].IsBlob()) {
      WriteKeyedValue(record, defs[i], group.first[i], locale_);
    }
  }
  for (size_t k = 0; k < aggregates_.size(); ++k) {
    const TExpToken& node = *aggregates_[k];
    const TAccumulator& a = group.acc[k];
    const TFieldDef& def = defs[acc_value_[k]];
    switch (aggregate_codes_[k]) {
      case kAggCount:
        WriteColumnValue(record, def, TValue::Integer(a.count));
        break;
      case kAggSum:
      case kAggRunSum:
      case kAggAvg:
        WriteColumnValue(record, def,
                         a.value.null               ? TValue::Null(def.type)
                         : IsIntegerType(node.type) ? TValue::Integer(a.value.i, kTypeLargeInt)
                                                    : TValue::Float(a.value.f));
        if (acc_count_[k] >= 0) {
          WriteColumnValue(record, defs[acc_count_[k]], TValue::Integer(a.count));
        }
        break;
      case kAggStdDev:
        WriteColumnValue(record, def, TValue::Float(a.squares));
        WriteColumnValue(record, defs[acc_count_[k]], TValue::Integer(a.count));
        WriteColumnValue(record, defs[acc_sum_[k]], TValue::Float(a.sum));
        break;
      default:
        WriteColumnValue(record, def, a.value, locale_);
        break;
    }
  }
}

void TDataQuery::InsertGroup(TDataCursor& c, const TGroup& group) const {
  TRecordBuffer record = c.NewRecord();
  WriteGroup(group, record);
  c.Insert(record);
}

std::unique_ptr<TResultTable> TDataQuery::ComputeGroupTable(TQueryRun& run) {
  LayOutGroupTable();
  std::unique_ptr<TResultTable> table;
  if (group_by_.size() <= kMaxIndexColumns &&
      std::all_of(group_by_.begin(), group_by_.end(),
                  [this](const TGroupByField& g) { return KeyedExactly(fields_[g.column - 1]); })) {
    TIndexDefinition index;
    index.name = kGroupIndexName;
    for (const TGroupByField& g : group_by_) {
      index.columns.push_back(static_cast<int16_t>(fields_[g.column - 1].field));
    }
    table = NewRowTable({index}, group_extra_);
  }
  // Without the index (a key too long for one, or values an index cannot
  // compare exactly) the groups are kept in memory and stored in order.
  const bool indexed = table != nullptr;
  if (!indexed) table = NewRowTable({}, group_extra_);
  TDataCursor& c = table->cursor();
  record_defs_ = c.fields();
  const uint8_t slot = indexed ? IndexSlot(c, kGroupIndexName) : kNaturalOrder;
  c.SetCurrentIndex(slot);
  if (indexed) {
    NoteIndexPlan("Grouped rows will be found through a temporary index");
  }

  struct KeyLess {
    const TDataQuery* q;
    bool operator()(const TResultRow& a, const TResultRow& b) const {
      for (size_t i = 0; i < a.size(); ++i) {
        const int c = CompareNullsFirst(a[i], b[i], q->eval_, false);
        if (c != 0) return c < 0;
      }
      return false;
    }
  };
  std::map<TResultRow, std::unique_ptr<TGroup>, KeyLess> groups(KeyLess{this});
  TResultRow key(group_by_.size());
  // Grouped by one whole-number column with aggregates that merge from the
  // record's bytes: the groups met so far are found by that number, and
  // only a new group's first row is evaluated.
  const TFieldDef* raw_key = nullptr;
  if (raw_merge_ && group_by_.size() == 1) {
    const TExpToken& e = *fields_[group_by_[0].column - 1].expression;
    if (e.kind == kNodeColumn && e.binding.source == 1 && e.binding.field >= 1) {
      const TFieldDef& def = sources_[0]->cursor->fields()[e.binding.field - 1];
      if (!def.computed && (IsIntegerType(def.type) || def.type == kTypeDate ||
                            def.type == kTypeTime || def.type == kTypeBoolean)) {
        raw_key = &def;
      }
    }
  }
  std::unordered_map<int64_t, TGroup*> by_number;
  TGroup* null_group = nullptr;
  // The groups stay in memory while they are few (and always without the
  // index); beyond that they move to the group table.
  const size_t memory_limit =
      !indexed ? std::numeric_limits<size_t>::max() : (raw_key != nullptr ? run.memory_groups : 0);
  bool in_table = memory_limit == 0;
  auto spill = [&] {
    for (auto& [k, g] : groups) InsertGroup(c, *g);
    groups.clear();
    by_number.clear();
    null_group = nullptr;
  };
  TRecordBuffer key_record(c.record_size());
  TGroup found;
  const bool ok = ScanSources(
      run,
      [&] {
        TGroup** known = nullptr;
        if (raw_key != nullptr && !in_table) {
          int64_t whole = 0;
          double number = 0;
          known = ReadNumber(raw_row_, *raw_key, &whole, &number) ? &by_number[whole] : &null_group;
          if (*known != nullptr) {
            MergeRaw(**known, raw_row_);
            return true;
          }
        }
        MaterializeRow();
        for (size_t i = 0; i < group_by_.size(); ++i) {
          const TResultField& f = fields_[group_by_[i].column - 1];
          key[i] = ConvertTo(EvaluateExpression(*f.expression, eval_), f);
        }
        if (in_table) {
          for (size_t i = 0; i < group_by_.size(); ++i) {
            WriteKeyedValue(key_record, record_defs_[fields_[group_by_[i].column - 1].field - 1],
                            key[i], locale_);
          }
          if (c.FindKey(key_record)) {
            TRecordBuffer record = c.current();
            ReadGroup(record, found);
            MergeGroup(found);
            WriteGroup(found, record);
            c.Update(record);
          } else {
            StartGroup(found);
            InsertGroup(c, found);
          }
          return true;
        }
        auto it = groups.find(key);
        if (it == groups.end()) {
          auto group = std::make_unique<TGroup>();
          StartGroup(*group);
          it = groups.emplace(key, std::move(group)).first;
        } else {
          MergeGroup(*it->second);
        }
        if (known != nullptr) *known = it->second.get();
        if (groups.size() > memory_limit) {
          spill();
          in_table = true;
        }
        return true;
      },
      true);
  if (!ok) return nullptr;
  if (!in_table) spill();

  // In grouping order: AVG and STDDEV finished, RUNSUM made running,
  // expressions over aggregates evaluated, HAVING applied. Without RUNSUM
  // no group depends on another: the pass goes in the cheaper record order.
  // A group table whose columns already hold COUNT, SUM, MIN and MAX in
  // their own columns, with no HAVING, needs no pass.
  bool finished = !having_;
  for (size_t k = 0; k < aggregates_.size() && finished; ++k) {
    const uint8_t code = aggregate_codes_[k];
    finished = (code == kAggCount || code == kAggSum || code == kAggMin || code == kAggMax) &&
               acc_value_[k] >= 0 && static_cast<size_t>(acc_value_[k]) < fields_.size();
  }
  for (const TResultField& f : fields_) {
    if (f.expression->ContainsAggregate() && std::find(aggregates_.begin(), aggregates_.end(),
                                                       f.expression.get()) == aggregates_.end()) {
      finished = false;
    }
  }
  if (finished) {
    c.SetCurrentIndex(slot);
    c.First();
    return table;
  }
  std::vector<TValue> running(aggregates_.size());
  TResultRow row;
  const bool running_sums = std::find(aggregate_codes_.begin(), aggregate_codes_.end(),
                                      uint8_t{kAggRunSum}) != aggregate_codes_.end();
  c.SetCurrentIndex(running_sums ? slot : kNaturalOrder);
  c.First();
  while (c.Next()) {
    TRecordBuffer record = c.current();
    ReadGroup(record, found);
    if (!FinishGroup(found, running, &row)) {
      c.Delete();
      continue;
    }
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (fields_[i].expression->ContainsAggregate()) {
        WriteColumnValue(record, record_defs_[i], row[i], locale_);
      }
    }
    c.Update(record);
  }
  c.SetCurrentIndex(slot);
  c.First();
  return table;
}

// --- DISTINCT, the set operations, ORDER BY and TOP --------------------------

void TDataQuery::NoteIndexPlan(const std::string& line) {
  if (std::find(index_plan_.begin(), index_plan_.end(), line) == index_plan_.end()) {
    index_plan_.push_back(line);
  }
}

int TDataQuery::CompareRows(const TResultRow& a, const TResultRow& b) const {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const int c = CompareNullsFirst(a[i], b[i], eval_, false);
    if (c != 0) return c;
  }
  return 0;
}

std::unique_ptr<TResultTable> TDataQuery::RemoveDuplicateRows(std::unique_ptr<TResultTable> rows) {
  TDataCursor& from = rows->cursor();
  std::optional<TIndexDefinition> index = DistinctIndex();
  std::unique_ptr<TResultTable> out = index ? NewRowTable({*index}) : nullptr;
  if (!out) {
    std::vector<TResultRow> all = ReadAllRows(from, fields_.size());
    RemoveDuplicates(
        &all, [this](const TResultRow& a, const TResultRow& b) { return CompareRows(a, b); });
    out = NewRowTable({});
    for (const TResultRow& row : all) InsertRow(out->cursor(), row, locale_);
    return out;
  }
  NoteIndexPlan("Distinct rows will be found through a temporary index");
  TDataCursor& c = out->cursor();
  c.SetCurrentIndex(IndexSlot(c, kDistinctIndexName));
  from.First();
  while (from.Next()) {
    const TResultRow row = ReadRow(from, fields_.size());
    if (!FindRow(c, row, locale_)) InsertRow(c, row, locale_);
  }
  c.SetCurrentIndex(kNaturalOrder);
  return out;
}

std::unique_ptr<TResultTable> TDataQuery::ApplySetPart(const TSetPart& part,
                                                       std::unique_ptr<TResultTable> rows,
                                                       TResultTable& other) {
  TDataCursor& theirs = other.cursor();
  auto read_theirs = [&] {
    TResultRow row = ReadRow(theirs, fields_.size());
    for (size_t i = 0; i < row.size(); ++i) row[i] = ConvertTo(row[i], fields_[i]);
    return row;
  };
  std::optional<TIndexDefinition> index =
      part.all && part.op == kSetUnion ? std::nullopt : DistinctIndex();
  std::unique_ptr<TResultTable> out;
  if (part.op == kSetUnion) {
    // Ours, then theirs; without ALL a row whose key the temporary index
    // already holds is left out.
    out = index ? NewRowTable({*index}) : nullptr;
    if (!out) out = NewRowTable({});
    TDataCursor& c = out->cursor();
    const uint8_t slot = index ? IndexSlot(c, kDistinctIndexName) : kNaturalOrder;
    if (slot != kNaturalOrder) {
      c.SetCurrentIndex(slot);
      NoteIndexPlan("Duplicate rows of the set operation will be found through a temporary index");
    }
    auto take = [&](const TResultRow& row) {
      if (slot == kNaturalOrder || !FindRow(c, row, locale_)) InsertRow(c, row, locale_);
    };
    TDataCursor& ours = rows->cursor();
    ours.First();
    while (ours.Next()) take(ReadRow(ours, fields_.size()));
    theirs.First();
    while (theirs.Next()) take(read_theirs());
    c.SetCurrentIndex(kNaturalOrder);
    // Without an index the rows are made distinct afterwards, in memory.
    if (!part.all && slot == kNaturalOrder) out = RemoveDuplicateRows(std::move(out));
    return out;
  }
  // INTERSECT and EXCEPT: their rows in a table with a temporary index on
  // every column, each of ours looked up there (ALL: as a multiset, a
  // matched row of theirs is used up; else distinct rows).
  if (!part.all) rows = RemoveDuplicateRows(std::move(rows));
  TDataCursor& ours = rows->cursor();
  out = NewRowTable({});
  std::unique_ptr<TResultTable> lookup = index ? NewRowTable({*index}) : nullptr;
  if (lookup) {
    NoteIndexPlan("Duplicate rows of the set operation will be found through a temporary index");
    TDataCursor& l = lookup->cursor();
    theirs.First();
    while (theirs.Next()) InsertRow(l, read_theirs(), locale_);
    l.SetCurrentIndex(IndexSlot(l, kDistinctIndexName));
    ours.First();
    while (ours.Next()) {
      const TResultRow row = ReadRow(ours, fields_.size());
      const bool present = FindRow(l, row, locale_);
      if (part.all && present) l.Delete();
      if (present == (part.op == kSetIntersect)) InsertRow(out->cursor(), row, locale_);
    }
    return out;
  }
  auto less = [this](const TResultRow& a, const TResultRow& b) { return CompareRows(a, b) < 0; };
  std::map<TResultRow, int64_t, decltype(less)> counts(less);
  theirs.First();
  while (theirs.Next()) ++counts[read_theirs()];
  ours.First();
  while (ours.Next()) {
    const TResultRow row = ReadRow(ours, fields_.size());
    auto it = counts.find(row);
    const bool present = it != counts.end() && it->second > 0;
    if (part.all && present) --it->second;
    if (present == (part.op == kSetIntersect)) InsertRow(out->cursor(), row, locale_);
  }
  return out;
}

void TDataQuery::SortRows(std::vector<TResultRow>* rows) const {
  std::stable_sort(rows->begin(), rows->end(), [this](const TResultRow& a, const TResultRow& b) {
    for (const TOrderByField& o : order_by_) {
      const size_t i = static_cast<size_t>(o.column - 1);
      int c = CompareNullsFirst(a[i], b[i], eval_, order_nocase_);
      if (o.descending) c = -c;
      if (c != 0) return c < 0;
    }
    return false;
  });
}

std::unique_ptr<TResultTable> TDataQuery::ComputeTable(TQueryRun& run,
                                                       const TIndexDefinition* order) {
  std::unique_ptr<TResultTable> rows = ComputeOwnTable(run, set_parts_.empty() ? order : nullptr);
  if (!rows) return nullptr;
  if (distinct_ && grouped_ && !one_grouped_row_) rows = RemoveDuplicateRows(std::move(rows));
  for (const TSetPart& part : set_parts_) {
    std::unique_ptr<TResultTable> other = part.query->ComputeTable(run, nullptr);
    if (!other) return nullptr;
    KeepFirst(other->cursor(), part.query->top_);
    for (const std::string& line : part.query->index_plan_) NoteIndexPlan(line);
    part.query->index_plan_.clear();
    rows = ApplySetPart(part, std::move(rows), *other);
  }
  return rows;
}

std::unique_ptr<TResultTable> TDataQuery::FinishResult(std::unique_ptr<TResultTable> rows,
                                                       bool into) {
  ordered_by_index_ = false;
  if (!rows) rows = NewRowTable({});  // aborted: no rows
  if (!order_by_.empty()) {
    // ORDER BY: a temporary index of the result table on the ordering
    // columns (case-insensitive with NOCASE) becomes the result's order;
    // rows of equal keys keep the order they were inserted in.
    TIndexDefinition order = OrderIndex();
    uint8_t slot = IndexSlot(rows->cursor(), kOrderIndexName);
    if (slot == kNaturalOrder) {
      std::unique_ptr<TResultTable> sorted = NewRowTable({order});
      TDataCursor& from = rows->cursor();
      if (sorted) {
        from.First();
        while (from.Next()) InsertRow(sorted->cursor(), ReadRow(from, fields_.size()), locale_);
        slot = IndexSlot(sorted->cursor(), kOrderIndexName);
      } else {
        // A key longer than an index allows: the rows are sorted here.
        std::vector<TResultRow> all = ReadAllRows(from, fields_.size());
        SortRows(&all);
        sorted = NewRowTable({});
        for (const TResultRow& row : all) InsertRow(sorted->cursor(), row, locale_);
      }
      rows = std::move(sorted);
    }
    if (slot != kNaturalOrder) {
      rows->cursor().SetCurrentIndex(slot);
      ordered_by_index_ = true;
    }
  }
  TDataCursor& c = rows->cursor();
  if (!into) {
    // TOP n: rows are deleted from the end until n remain.
    KeepFirst(c, top_);
    c.First();
    return rows;
  }
  // Into a named table the rows go in the result's order.
  std::unique_ptr<TResultTable> out = NewRowTable({}, {}, true);
  int64_t n = 0;
  c.First();
  while ((top_ < 0 || n < top_) && c.Next()) {
    InsertRow(out->cursor(), ReadRow(c, fields_.size()), locale_);
    ++n;
  }
  out->cursor().First();
  return out;
}

TIndexDefinition TDataQuery::OrderIndex() const {
  TIndexDefinition order;
  order.name = kOrderIndexName;
  order.case_insensitive = order_nocase_;
  for (const TOrderByField& o : order_by_) {
    order.columns.push_back(static_cast<int16_t>(fields_[o.column - 1].field));
    order.descending_of.push_back(o.descending ? 1 : 0);
    order.descending = order.descending || o.descending;
  }
  return order;
}

bool TDataQuery::ForEachRow(TQueryRun& run, const std::function<void(const TResultRow&)>& sink) {
  index_plan_.clear();
  const TIndexDefinition order = OrderIndex();
  std::unique_ptr<TResultTable> rows = ComputeTable(
      run, order_by_.empty() || order_by_.size() > kMaxIndexColumns ? nullptr : &order);
  if (!rows) return false;
  rows = FinishResult(std::move(rows), false);
  TDataCursor& c = rows->cursor();
  c.First();
  while (c.Next()) sink(ReadRow(c, fields_.size()));
  return true;
}

std::unique_ptr<TResultTable> TDataQuery::Execute(TQueryRun& run, uint32_t* rows_affected) {
  const auto started = std::chrono::steady_clock::now();
  // A live result of an earlier execution took its source's cursor.
  for (auto& s : sources_) {
    if (!s->cursor) s->cursor = database_.OpenTable(s->name, s->exclusive);
  }
  size_t order_line = 0;
  if (run.plan_wanted && run.plan != nullptr) {
    StartPlan(run);
    order_line = order_plan_line_;
  }
  if (live_) {
    auto result = ExecuteLive(run, rows_affected);
    if (run.plan_wanted && run.plan != nullptr) {
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      EndPlan(run, *rows_affected, seconds);
    }
    return result;
  }
  index_plan_.clear();
  // A generated result is ordered through an index on the result table
  // itself where the rows can go straight into it.
  const TIndexDefinition order = OrderIndex();
  const bool order_here =
      !order_by_.empty() && into_.empty() && order_by_.size() <= storage::kMaxIndexColumns;
  std::unique_ptr<TResultTable> result =
      FinishResult(ComputeTable(run, order_here ? &order : nullptr), !into_.empty());
  *rows_affected = result->cursor().RecordCount();
  if (run.plan_wanted && run.plan != nullptr) {
    std::vector<std::string>& plan = *run.plan;
    if (ordered_by_index_ && order_line != 0 && order_line < plan.size()) {
      plan[order_line] = "Result set will be ordered through a temporary index";
    }
    if (index_plan_at_ != 0 && index_plan_at_ <= plan.size()) {
      plan.insert(plan.begin() + static_cast<std::ptrdiff_t>(index_plan_at_), index_plan_.begin(),
                  index_plan_.end());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EndPlan(run, *rows_affected, seconds);
  }
  return result;
}

// --- the plan --------------------------------------------------------------

void TDataQuery::StartPlan(TQueryRun& run) {
  std::vector<std::string>* plan = run.plan;
  AddPlanHeading(plan, statement_text_);
  AddPlanSection(plan, "Tables Involved");
  AddTablesPlan(plan);
  AddResultPlan(plan);
  // Execute says after it which temporary indexes served, and there whether
  // one orders the result.
  index_plan_at_ = plan->size();
  order_plan_line_ = 0;
  for (size_t i = 0; i < plan->size(); ++i) {
    if ((*plan)[i] == kOrderPlanLine) order_plan_line_ = i;
  }
  AddWhereAndJoinPlan(plan);
}

void TDataQuery::AddTablesPlan(std::vector<std::string>* plan) const {
  for (const auto& s : sources_)
    AddPlanTable(plan, s->name, s->correlation, s->exclusive, s->cursor->RecordCount());
}

void TDataQuery::AddResultPlan(std::vector<std::string>* plan) const {
  AddPlanSection(plan, "Result Set Generation");
  if (live_) {
    plan->push_back("Result set will be live");
    if (live_index_ != kNaturalOrder) {
      for (const TTableIndex& index : sources_[0]->cursor->table().indexes()) {
        if (index.slot == live_index_) {
          AddPlanText(plan, "Result set will be ordered by the index " + index.name);
        }
      }
    }
    if (where_) {
      AddPlanText(plan, "Result set will be filtered by the WHERE clause on the table cursor");
    }
  } else {
    plan->push_back("Result set will be canned");
    if (one_grouped_row_)
      plan->push_back("Result set will consist of one grouped row");
    else if (grouped_)
      plan->push_back("Result set will consist of grouped rows");
    if (distinct_) plan->push_back("Result set will contain distinct rows");
    if (!order_by_.empty()) plan->push_back(kOrderPlanLine);
  }
}

void TDataQuery::AddWhereAndJoinPlan(std::vector<std::string>* plan) const {
  if (where_) AddPlanWhere(plan, *where_);
  if (sources_.size() > 1) {
    AddPlanSection(plan, "Join Ordering");
    plan->push_back("The joins will be executed in the order written");
    AddPlanSection(plan, "Join Execution");
    for (size_t i = 1; i < sources_.size(); ++i) {
      const TSourceTable& s = *sources_[i];
      static const char* kKinds[] = {"Cross", "Inner", "Left outer", "Right outer"};
      std::string line = std::string(kKinds[s.join.kind]) + " join of " +
                         sources_[i - 1]->correlation + " to " + s.correlation;
      const TJoinKey key = ChooseJoinKey(sources_, i, where_.get(), *eval_.collation);
      if (key.index != nullptr) {
        line += ": rows of " + s.correlation + " found through the index " + key.index->name +
                " for " + ExpressionText(*key.own) + " = " + ExpressionText(*key.other);
      } else if (key.own != nullptr) {
        line +=
            ": rows of " + s.correlation + " found through a hash of " + ExpressionText(*key.own);
      }
      AddPlanText(plan, line);
    }
  }
}

void TDataQuery::EndPlan(TQueryRun& run, uint32_t rows, double seconds) {
  AddPlanEnd(run.plan, rows, seconds);
}

}  // namespace downsql::sql
