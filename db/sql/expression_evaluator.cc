// A tree walk over verified expressions; see the header for the NULL rules.
#include "db/sql/expression_evaluator.h"

#include <atomic>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "db/sql/date_time_text.h"
#include "db/sql/round_scale.h"
#include "db/sql/sql_functions.h"
#include "db/storage/engine_error.h"

namespace downsql::sql {

uint64_t NewRandomSeed() {
  // splitmix64 steps from one system-random start.
  static std::atomic<uint64_t> state{(uint64_t(std::random_device{}()) << 32) ^
                                     std::random_device{}()};
  uint64_t z = state.fetch_add(0x9e3779b97f4a7c15ULL) + 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

namespace {

using namespace storage;

constexpr size_t kMaxText = 512;

[[noreturn]] void ExecutionError(const std::string& message) {
  throw ETabulaEngineError(kErrSqlExecution, {message});
}

const platform::Collation& CollationOf(const TEvalContext& ctx) {
  return ctx.collation ? *ctx.collation : platform::CollationFor(0);
}

int CompareText(std::string_view a, std::string_view b, const TEvalContext& ctx,
                bool no_case = false) {
  return CollationOf(ctx).Compare(a, b, no_case);
}

TValue Typed(TValue v, const TExpToken& node) {
  // The verifier fixed the node's type; align the value with it.
  if (node.type == 0 || v.type == node.type) {
    if (v.null && v.type == 0) v.type = node.type;
    return v;
  }
  if (v.null) return TValue::Null(node.type, node.subtype);
  return ConvertValue(v, node.type, node.subtype);
}

TValue FiniteOrNull(double d) {
  return std::isfinite(d) ? TValue::Float(d) : TValue::Null(kTypeFloat);
}

int64_t CheckedInt(bool overflow, int64_t value, const TExpToken& node) {
  if (overflow) ExecutionError("Numeric overflow in the expression " + ExpressionText(node));
  return value;
}

bool IsTimestampLike(uint8_t t) { return t == kTypeTimestamp || t == kTypeDate; }

double AsTimestamp(const TValue& v) {
  return v.type == kTypeDate ? static_cast<double>(v.i) * kMsPerDay : v.f;
}

// The date and time parts of a date, time or timestamp value.
void SplitMoment(const TValue& v, int32_t* day, int32_t* ms) {
  *day = 0;
  *ms = 0;
  if (v.type == kTypeDate) {
    *day = static_cast<int32_t>(v.i);
  } else if (v.type == kTypeTime) {
    *ms = static_cast<int32_t>(v.i);
  } else {
    const double ms_total = IsValidTimestamp(v.f) ? v.f : 0;
    const double d = std::floor(ms_total / kMsPerDay);
    *day = static_cast<int32_t>(d);
    *ms = static_cast<int32_t>(ms_total - d * kMsPerDay);
  }
  if (*day < base::kFirstDayNumber || *day > base::kLastDayNumber) *day = 0;  // no calendar date
  if (*ms < 0 || *ms >= kMsPerDay) *ms = 0;
}

class Evaluator {
 public:
  explicit Evaluator(TEvalContext& ctx) : ctx_(ctx) {}

  TValue Eval(const TExpToken& n) {
    switch (n.kind) {
      case kNodeConstant:
        return Constant(n);
      case kNodeColumn:
        return Column(n);
      case kNodeUnary:
        return Unary(n);
      case kNodeBinary:
        return Binary(n);
      case kNodeFunction:
        return Function(n);
      default:
        ExecutionError("Internal error: invalid expression " + ExpressionText(n));
    }
  }

  bool Condition(const TExpToken& n) { return Eval(n).IsTrue(); }

  bool Equal(const TValue& a, const TValue& b) {
    if (a.null || b.null) return a.null && b.null;
    return CompareValues(a, b, ctx_) == 0;
  }

  // Rule 4; returns nullopt when the comparison is false for a NULL.
  std::optional<int> Order(const TValue& a, const TValue& b) {
    const bool text = IsTextType(a.type) || IsTextType(b.type);
    if (text) {
      if (a.null || b.null) return CompareText(a.null ? "" : a.s, b.null ? "" : b.s, ctx_);
      return CompareValues(a, b, ctx_);
    }
    if (a.null || b.null) return std::nullopt;
    return CompareValues(a, b, ctx_);
  }

 private:
  TValue Constant(const TExpToken& n) {
    if (n.param_index < 0) return n.value;
    if (ctx_.parameters == nullptr || n.param_index >= static_cast<int>(ctx_.parameters->size())) {
      return TValue::Null(n.type);
    }
    return Typed((*ctx_.parameters)[n.param_index], n);
  }

  TValue Column(const TExpToken& n) {
    TValue v;
    if (ctx_.resolver == nullptr || !n.resolved || !ctx_.resolver->ReadColumn(n.binding, &v)) {
      ExecutionError("Internal error: Column \"" + n.column_name + "\" specified illegally");
    }
    if (v.type == 0) v.type = n.type;
    return v;
  }

  TValue Unary(const TExpToken& n) {
    if (n.code == kOpNot) return TValue::Boolean(!Condition(*n.left));
    TValue v = Eval(*n.left);
    if (v.null || n.code == kOpPlus) return Typed(v, n);
    if (v.type == kTypeFloat || v.type == kTypeDecimal) {
      v.f = -v.f;
    } else {
      int64_t r = 0;
      bool overflow = __builtin_sub_overflow(int64_t{0}, v.i, &r);
      const uint8_t type = n.type ? n.type : v.type;
      if (IsIntegerType(type) && type != kTypeLargeInt && (r < INT32_MIN || r > INT32_MAX))
        overflow = true;
      v.i = CheckedInt(overflow, r, n);
    }
    return Typed(v, n);
  }

  bool Compare(uint8_t code, const TValue& a, const TValue& b) {
    switch (code) {
      case kOpEqual:
        return Equal(a, b);
      case kOpNotEqual:
        return !Equal(a, b);
      default:
        break;
    }
    const auto c = Order(a, b);
    if (!c) return false;
    switch (code) {
      case kOpGreater:
        return *c > 0;
      case kOpLess:
        return *c < 0;
      case kOpGreaterEqual:
        return *c >= 0;
      default:
        return *c <= 0;
    }
  }

  TValue Binary(const TExpToken& n) {
    switch (n.code) {
      case kOpAnd:
        // Right operand first; the left one only when the right is true.
        return TValue::Boolean(Condition(*n.right) && Condition(*n.left));
      case kOpOr:
        return TValue::Boolean(Condition(*n.right) || Condition(*n.left));
      case kOpEqual:
      case kOpNotEqual:
      case kOpGreater:
      case kOpLess:
      case kOpGreaterEqual:
      case kOpLessEqual:
        return TValue::Boolean(Compare(n.code, Eval(*n.left), Eval(*n.right)));
      case kOpBetween:
      case kOpNotBetween: {
        const TValue v = Eval(*n.left);
        const bool in = Compare(kOpGreaterEqual, v, Eval(*n.args[0])) &&
                        Compare(kOpLessEqual, v, Eval(*n.args[1]));
        return TValue::Boolean(n.code == kOpBetween ? in : !in);
      }
      case kOpLike:
      case kOpNotLike: {
        const TValue v = Eval(*n.left);
        const TValue p = Eval(*n.right);
        bool match = false;
        if (!v.null && !p.null) {
          int escape = -1;
          if (!n.args.empty()) {
            const TValue e = Eval(*n.args[0]);
            if (!e.null && !e.s.empty()) escape = static_cast<unsigned char>(e.s[0]);
          }
          match = MatchLike(v.s, p.s, escape);
        }
        return TValue::Boolean(n.code == kOpLike ? match : !match);
      }
      case kOpIn:
      case kOpNotIn: {
        const TValue v = Eval(*n.left);
        bool found = false;
        for (const auto& a : n.args) {
          if (Equal(v, Eval(*a))) {
            found = true;
            break;
          }
        }
        return TValue::Boolean(n.code == kOpIn ? found : !found);
      }
      case kOpInSubQuery:
      case kOpNotInSubQuery: {
        const bool found = n.subquery->Contains(Eval(*n.left));
        return TValue::Boolean(n.code == kOpInSubQuery ? found : !found);
      }
      default:
        return Arithmetic(n, Eval(*n.left), Eval(*n.right));
    }
  }

  TValue Arithmetic(const TExpToken& n, const TValue& a, const TValue& b) {
    if (a.null || b.null) return TValue::Null(n.type, n.subtype);
    if (IsTextType(a.type) || IsTextType(b.type)) {
      TValue out = TValue::String(a.s + b.s);
      out.type = n.type == kTypeBlob ? kTypeBlob : kTypeString;
      return out;
    }
    if (IsDateTimeType(a.type) || IsDateTimeType(b.type)) return MomentArithmetic(n, a, b);
    const bool integers = IsIntegerType(a.type) && IsIntegerType(b.type);
    if (n.code == kOpDivide) {
      const double d = NumberOf(b);
      if (d == 0) return TValue::Null(kTypeFloat);
      return Typed(FiniteOrNull(NumberOf(a) / d), n);
    }
    if (integers) {
      int64_t r = 0;
      bool overflow = false;
      switch (n.code) {
        case kOpAdd:
          overflow = __builtin_add_overflow(a.i, b.i, &r);
          break;
        case kOpSubtract:
          overflow = __builtin_sub_overflow(a.i, b.i, &r);
          break;
        case kOpMultiply:
          overflow = __builtin_mul_overflow(a.i, b.i, &r);
          break;
        default:  // MOD
          if (b.i == 0) return TValue::Null(n.type);
          r = b.i == -1 ? 0 : a.i % b.i;
          break;
      }
      const uint8_t type = n.type ? n.type : a.type;
      // An INTEGER result must fit the 32 bits an INTEGER column stores.
      if (IsIntegerType(type) && type != kTypeLargeInt && (r < INT32_MIN || r > INT32_MAX))
        overflow = true;
      return TValue::Integer(CheckedInt(overflow, r, n), type);
    }
    const double x = NumberOf(a), y = NumberOf(b);
    double r = 0;
    switch (n.code) {
      case kOpAdd:
        r = x + y;
        break;
      case kOpSubtract:
        r = x - y;
        break;
      case kOpMultiply:
        r = x * y;
        break;
      default:
        if (y == 0) return TValue::Null(n.type);
        r = std::fmod(x, y);
        break;
    }
    TValue out = FiniteOrNull(r);
    if (!out.null && n.type == kTypeDecimal) out.type = kTypeDecimal;
    return Typed(out, n);
  }

  TValue MomentArithmetic(const TExpToken& n, const TValue& a, const TValue& b) {
    if (IsDateTimeType(a.type) && IsDateTimeType(b.type)) {  // a difference
      if (a.type == kTypeDate && b.type == kTypeDate) return TValue::Integer(a.i - b.i);
      if (a.type == kTypeTime && b.type == kTypeTime) return TValue::Integer(a.i - b.i);
      if (IsTimestampLike(a.type) && IsTimestampLike(b.type)) {
        return Typed(TValue::Float(AsTimestamp(a) - AsTimestamp(b)), n);
      }
      ExecutionError("Invalid expression " + ExpressionText(n));
    }
    const TValue& when = IsDateTimeType(a.type) ? a : b;
    const TValue& offset = IsDateTimeType(a.type) ? b : a;
    const double k = n.code == kOpSubtract ? -NumberOf(offset) : NumberOf(offset);
    if (when.type == kTypeTimestamp) {
      const double ms = when.f + k;
      if (!IsValidTimestamp(ms))
        ExecutionError("Timestamp value out of range in " + ExpressionText(n));
      return TValue::Timestamp(ms);
    }
    const double sum = static_cast<double>(when.i) + std::trunc(k);
    if (when.type == kTypeTime) {
      const double wrapped = std::fmod(std::fmod(sum, kMsPerDay) + kMsPerDay, kMsPerDay);
      return TValue::Time(static_cast<int32_t>(wrapped));
    }
    if (sum < base::kFirstDayNumber || sum > base::kLastDayNumber)
      ExecutionError("Date value out of range in " + ExpressionText(n));
    return TValue::Date(static_cast<int32_t>(sum));
  }

  TValue Function(const TExpToken& n);
  TValue Aggregate(const TExpToken& n);
  TValue Extract(const TExpToken& n, const TValue& v);
  TValue Now(const TExpToken& n);
  std::string NewGuid();

  TEvalContext& ctx_;
};

TValue Evaluator::Aggregate(const TExpToken& n) {
  TValue v;
  if (ctx_.resolver && ctx_.resolver->ReadAggregate(n, &v)) return v;
  // On a source row an aggregate yields what its accumulator merges: the
  // argument's value (NULL changes nothing), for COUNT a 1.
  if (n.code == kFnCount) {
    if (n.option == 1) return TValue::Integer(1);
    return Eval(*n.args[0]).null ? TValue::Null(kTypeInteger) : TValue::Integer(1);
  }
  return Typed(Eval(*n.args[0]), n);
}

TValue Evaluator::Extract(const TExpToken& n, const TValue& v) {
  int32_t day = 0, ms = 0;
  SplitMoment(v, &day, &ms);
  int y = 0, m = 0, d = 0;
  if (day > 0) SplitDayNumber(day, &y, &m, &d);
  const int dow = day > 0 ? day % 7 + 1 : 0;  // 1 = Sunday; day 1 was a Monday
  const int doy = day > 0 ? day - *DayNumberOf(y, 1, 1) + 1 : 0;
  int64_t r = 0;
  switch (n.option) {
    case kExtractYear:
      r = y;
      break;
    case kExtractMonth:
      r = m;
      break;
    case kExtractWeek: {
      // Weeks start on Sunday; week 1 holds 1 January.
      const int jan1 = day > 0 ? *DayNumberOf(y, 1, 1) % 7 + 1 : 1;
      r = day > 0 ? (doy - 1 + jan1 - 1) / 7 + 1 : 0;
      break;
    }
    case kExtractDay:
      r = d;
      break;
    case kExtractDayOfWeek:
      r = dow;
      break;
    case kExtractDayOfYear:
      r = doy;
      break;
    case kExtractHour:
      r = ms / 3600000;
      break;
    case kExtractMinute:
      r = ms / 60000 % 60;
      break;
    case kExtractSecond:
      r = ms / 1000 % 60;
      break;
    default:
      r = ms % 1000;
      break;
  }
  return TValue::Integer(r);
}

TValue Evaluator::Now(const TExpToken& n) {
  const platform::LocalDateTime now = ctx_.clock ? ctx_.clock() : platform::LocalNow();
  const auto day = DayNumberOf(now.year, now.month, now.day);
  if (!day) ExecutionError("Internal error: invalid current date");
  const int32_t ms = ((now.hour * 60 + now.minute) * 60 + now.second) * 1000 + now.millisecond;
  if (n.code == kFnCurrentDate) return TValue::Date(*day);
  if (n.code == kFnCurrentTime) return TValue::Time(ms);
  return TValue::Timestamp(static_cast<double>(*day) * kMsPerDay + ms);
}

std::string Evaluator::NewGuid() {
  // A random (version 4) GUID in its 38-character text form.
  uint8_t b[16];
  for (int i = 0; i < 16; i += 8) {
    const uint64_t r = ctx_.random();
    std::memcpy(b + i, &r, 8);
  }
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
  static const char kHex[] = "0123456789ABCDEF";
  std::string s = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
    s += kHex[b[i] >> 4];
    s += kHex[b[i] & 15];
  }
  return s + "}";
}

TValue Evaluator::Function(const TExpToken& n) {
  const auto& args = n.args;
  if (n.IsAggregate()) return Aggregate(n);
  switch (n.code) {
    case kFnCurrentDate:
    case kFnCurrentTime:
    case kFnCurrentTimestamp:
      return Now(n);
    case kFnCurrentGuid:
      return TValue::String(NewGuid(), kSubtypeGuid);
    case kFnPi:
      return TValue::Float(kPi);
    case kFnRand:
      if (args.empty())
        return TValue::Float(std::uniform_real_distribution<double>(0, 1)(ctx_.random));
      break;
    case kFnIf: {
      const bool c = Condition(*args[0]);
      return Typed(Eval(*args[c ? 1 : 2]), n);
    }
    case kFnIfNull:
    case kFnCoalesce:
      for (const auto& a : args) {
        TValue v = Eval(*a);
        if (!v.null) return Typed(std::move(v), n);
      }
      return TValue::Null(n.type, n.subtype);
    case kFnNullIf: {
      TValue a = Eval(*args[0]);
      const TValue b = Eval(*args[1]);
      if (!a.null && !b.null && Equal(a, b)) return TValue::Null(n.type, n.subtype);
      return Typed(std::move(a), n);
    }
    case kFnCase: {
      const bool has_value = n.option & 1;
      const bool has_else = n.option & 2;
      const size_t first = has_value ? 1 : 0;
      const size_t pairs_end = args.size() - (has_else ? 1 : 0);
      const TValue subject = has_value ? Eval(*args[0]) : TValue();
      for (size_t i = first; i + 1 < pairs_end; i += 2) {
        const bool hit = has_value ? Equal(subject, Eval(*args[i])) : Condition(*args[i]);
        if (hit) return Typed(Eval(*args[i + 1]), n);
      }
      if (has_else) return Typed(Eval(*args.back()), n);
      return TValue::Null(n.type, n.subtype);
    }
    default:
      break;
  }

  // Everything below gives NULL for a NULL argument.
  std::vector<TValue> v;
  v.reserve(args.size());
  for (const auto& a : args) {
    v.push_back(Eval(*a));
    if (v.back().null) return TValue::Null(n.type, n.subtype);
  }
  auto text = [&](size_t i) -> const std::string& { return v[i].s; };
  auto integer = [&](size_t i) -> int64_t {
    if (IsIntegerType(v[i].type) || v[i].type == kTypeBoolean) return v[i].i;
    const double d = std::trunc(NumberOf(v[i]));
    if (!(d > -9.2e18 && d < 9.2e18)) return d > 0 ? INT64_MAX / 2 : INT64_MIN / 2;
    return static_cast<int64_t>(d);
  };
  auto str = [&](std::string s) {
    if (s.size() > kMaxText) s.resize(kMaxText);
    TValue out = TValue::String(std::move(s));
    if (n.type == kTypeBlob) out.type = kTypeBlob;
    return out;
  };
  const double x = v.empty() ? 0 : NumberOf(v[0]);
  if (const auto numeric = SqlFunction(n.code).numeric)
    return FiniteOrNull(numeric(x, v.size() > 1 ? NumberOf(v[1]) : 0));
  switch (n.code) {
    case kFnLower:
    case kFnUpper: {
      std::string s = text(0);
      const platform::Collation& coll = CollationOf(ctx_);
      for (char& c : s) c = n.code == kFnLower ? coll.ToLower(c) : coll.ToUpper(c);
      TValue out = TValue::String(std::move(s));
      out.type = v[0].type;
      return out;
    }
    case kFnLeft:
    case kFnRight: {
      const int64_t k = integer(1);
      const std::string& s = text(0);
      if (k <= 0) return TValue::Null(kTypeString);
      const size_t len = std::min<size_t>(s.size(), static_cast<size_t>(k));
      return str(n.code == kFnLeft ? s.substr(0, len) : s.substr(s.size() - len));
    }
    case kFnRepeat: {
      const int64_t k = integer(1);
      std::string s;
      for (int64_t i = 0; i < k && s.size() < kMaxText && !text(0).empty(); ++i) s += text(0);
      return str(std::move(s));
    }
    case kFnConcat:
      return str(text(0) + text(1));
    case kFnLength:
      return TValue::Integer(static_cast<int64_t>(text(0).size()));
    case kFnSubstring: {
      const std::string& s = text(0);
      int64_t begin = integer(1);
      int64_t end = static_cast<int64_t>(s.size()) + 1;
      if (v.size() > 2 && __builtin_add_overflow(begin, integer(2), &end)) end = INT64_MAX;
      if (v.size() > 2 && integer(2) < 0) return TValue::Null(kTypeString);
      begin = std::max<int64_t>(begin, 1);
      end = std::min<int64_t>(end, static_cast<int64_t>(s.size()) + 1);
      if (end <= begin) return TValue::Null(kTypeString);
      return str(s.substr(static_cast<size_t>(begin - 1), static_cast<size_t>(end - begin)));
    }
    case kFnReplace: {
      const std::string& search = text(0);
      std::string s = text(2), out;
      size_t pos = 0;
      for (size_t hit; (hit = s.find(search, pos)) != std::string::npos;
           pos = hit + search.size()) {
        out += s.substr(pos, hit - pos) + text(1);
      }
      return str(out + s.substr(pos));
    }
    case kFnPosition: {
      const size_t hit = text(1).find(text(0));
      return TValue::Integer(hit == std::string::npos ? 0 : static_cast<int64_t>(hit) + 1);
    }
    case kFnOccurs: {
      int64_t count = 0;
      for (size_t pos = text(1).find(text(0)); pos != std::string::npos;
           pos = text(1).find(text(0), pos + text(0).size())) {
        ++count;
      }
      return TValue::Integer(count);
    }
    case kFnTextSearch:
    case kFnTextOccurs: {
      // Words are runs of letters and digits, compared without case.
      auto words = [](const std::string& s) {
        std::vector<std::string> out;
        std::string w;
        for (char c : s + " ") {
          const auto u = static_cast<unsigned char>(c);
          if (std::isalnum(u) || u >= 128) {
            w += c;
          } else if (!w.empty()) {
            out.push_back(w);
            w.clear();
          }
        }
        return out;
      };
      const auto wanted = words(text(0));
      const auto have = words(text(1));
      int64_t total = 0;
      bool all = !wanted.empty();
      for (const auto& w : wanted) {
        const auto hits = std::count_if(have.begin(), have.end(), [&](const std::string& h) {
          return CompareText(h, w, ctx_, true) == 0;
        });
        total += hits;
        if (hits == 0) all = false;
      }
      return n.code == kFnTextSearch ? TValue::Boolean(all) : TValue::Integer(total);
    }
    case kFnCast:
      return ConvertValue(v[0], n.type, n.subtype, n.size, n.scale);
    case kFnTrim:
    case kFnAllTrim:
    case kFnLTrim:
    case kFnRTrim: {
      const std::string chars = n.code == kFnTrim ? text(0) : " ";
      std::string s = text(n.code == kFnTrim ? 1 : 0);
      const bool lead =
          n.code == kFnLTrim || n.code == kFnAllTrim || (n.code == kFnTrim && n.option != 2);
      const bool trail =
          n.code == kFnRTrim || n.code == kFnAllTrim || (n.code == kFnTrim && n.option != 1);
      if (trail) s.erase(s.find_last_not_of(chars) + 1);
      if (lead) s.erase(0, std::min(s.size(), s.find_first_not_of(chars)));
      return str(std::move(s));
    }
    case kFnExtract:
      return Extract(n, v[0]);
    case kFnYearsFromMsecs:
    case kFnDaysFromMsecs:
    case kFnHoursFromMsecs:
    case kFnMinsFromMsecs:
    case kFnSecsFromMsecs:
    case kFnMsecsFromMsecs: {
      // The parts of a span of milliseconds: whole 365-day years, then the
      // days, hours, minutes, seconds and milliseconds left over.
      const int64_t ms = integer(0);
      const int64_t year = 365 * kMsPerDay;
      int64_t r = 0;
      switch (n.code) {
        case kFnYearsFromMsecs:
          r = ms / year;
          break;
        case kFnDaysFromMsecs:
          r = ms % year / kMsPerDay;
          break;
        case kFnHoursFromMsecs:
          r = ms % kMsPerDay / 3600000;
          break;
        case kFnMinsFromMsecs:
          r = ms % 3600000 / 60000;
          break;
        case kFnSecsFromMsecs:
          r = ms % 60000 / 1000;
          break;
        default:
          r = ms % 1000;
          break;
      }
      return TValue::Integer(r);
    }
    case kFnAbs: {
      TValue out = v[0];
      if (out.type == kTypeFloat || out.type == kTypeDecimal) {
        out.f = std::fabs(out.f);
      } else if (out.i < 0) {
        int64_t r = 0;
        const bool overflow = __builtin_sub_overflow(int64_t{0}, out.i, &r);
        out.i = CheckedInt(overflow, r, n);
      }
      return Typed(out, n);
    }
    case kFnRound:
    case kFnTruncate: {
      if (IsIntegerType(v[0].type)) return Typed(v[0], n);
      const int64_t wanted = v.size() > 1 ? integer(1) : 0;
      if (wanted < 0 || wanted > kMaxRoundScale) ExecutionError(kScaleMessage);
      const int scale = static_cast<int>(wanted);
      double r;
      if (n.code == kFnRound) {
        r = RoundToScale(x, scale);
      } else {
        const double f = std::pow(10.0, scale);
        r = std::trunc(x * f) / f;
      }
      TValue out = v[0];
      out.f = std::isfinite(r) ? r : x;
      return Typed(out, n);
    }
    case kFnSign:
      return TValue::Integer(x > 0 ? 1 : x < 0 ? -1 : 0);
    case kFnRand: {
      const int64_t range = integer(0);
      if (range <= 0) return TValue::Integer(0);
      return TValue::Integer(std::uniform_int_distribution<int64_t>(0, range - 1)(ctx_.random));
    }
    case kFnLastAutoInc: {
      if (!ctx_.last_autoinc) return TValue::Null(kTypeInteger);
      const auto last = ctx_.last_autoinc(text(0));
      return last ? TValue::Integer(*last) : TValue::Null(kTypeInteger);
    }
    default:
      ExecutionError("Internal error: invalid function " + ExpressionText(n));
  }
}

}  // namespace

int CompareValues(const TValue& a, const TValue& b, const TEvalContext& context) {
  auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
  const bool text_a = IsTextType(a.type), text_b = IsTextType(b.type);
  if (text_a && text_b) return CompareText(a.s, b.s, context);
  if (IsBytesType(a.type) && IsBytesType(b.type)) {
    const int c = std::memcmp(a.s.data(), b.s.data(), std::min(a.s.size(), b.s.size()));
    return c != 0 ? (c < 0 ? -1 : 1) : sign(a.s.size(), b.s.size());
  }
  if (text_a != text_b) {
    // Text opposite a typed value (an unbound parameter): read the text in
    // the other value's type.
    if (text_a) return CompareValues(ConvertValue(a, b.type, b.subtype), b, context);
    return CompareValues(a, ConvertValue(b, a.type, a.subtype), context);
  }
  if (IsTimestampLike(a.type) && IsTimestampLike(b.type) && a.type != b.type) {
    return sign(AsTimestamp(a), AsTimestamp(b));
  }
  const bool int_a = a.type != kTypeFloat && a.type != kTypeDecimal && a.type != kTypeTimestamp;
  const bool int_b = b.type != kTypeFloat && b.type != kTypeDecimal && b.type != kTypeTimestamp;
  if (int_a && int_b) return sign(a.i, b.i);
  return sign(NumberOf(a), NumberOf(b));
}

bool MatchLike(std::string_view s, std::string_view p, int escape) {
  size_t si = 0, pi = 0;
  size_t star_p = std::string_view::npos, star_s = 0;
  while (si < s.size()) {
    if (pi < p.size()) {
      const char pc = p[pi];
      if (escape >= 0 && static_cast<unsigned char>(pc) == escape && pi + 1 < p.size()) {
        if (s[si] == p[pi + 1]) {
          ++si;
          pi += 2;
          continue;
        }
      } else if (pc == '%') {
        star_p = ++pi;
        star_s = si;
        continue;
      } else if (pc == '_' || pc == s[si]) {
        ++si;
        ++pi;
        continue;
      }
    }
    if (star_p == std::string_view::npos) return false;
    pi = star_p;
    si = ++star_s;
  }
  while (pi < p.size() && p[pi] == '%') ++pi;
  return pi == p.size();
}

TValue EvaluateExpression(const TExpToken& node, TEvalContext& context) {
  return Evaluator(context).Eval(node);
}

bool EvaluateCondition(const TExpToken& node, TEvalContext& context) {
  return Evaluator(context).Eval(node).IsTrue();
}

}  // namespace downsql::sql
