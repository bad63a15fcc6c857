// The lexer half of TExpressionParser: tokens, positions and the error
// messages shared by every SQL parser.
#include <algorithm>
#include <array>

#include "db/sql/expression_parser.h"
#include "db/storage/engine_error.h"

namespace downsql::sql {
namespace {

constexpr size_t kMaxMessage = 255;

// Character classes of the lexer, one table lookup per character.
enum : uint8_t {
  kClassDigit = 1,
  kClassIdentStart = 2,  // letters, "_" and the bytes 128..254
  kClassIdentChar = 4,   // the above, digits, "!", "$" and "@"
  kClassPunct = 8,       // a token of its own: any character not named here
};

constexpr std::array<uint8_t, 256> MakeCharClasses() {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) {
    const bool digit = c >= '0' && c <= '9';
    const bool start =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
    uint8_t k = 0;
    if (digit) k |= kClassDigit;
    if (start) k |= kClassIdentStart;
    if (start || digit || c == '!' || c == '$' || c == '@') k |= kClassIdentChar;
    const bool special = c <= 32 || c == '#' || c == '\'' || c == '"' || c == '[' || c == '.';
    if (!digit && !start && !special) k |= kClassPunct;
    t[size_t(c)] = k;
  }
  return t;
}

constexpr std::array<uint8_t, 256> kCharClass = MakeCharClasses();

uint8_t ClassOf(char c) { return kCharClass[static_cast<unsigned char>(c)]; }

bool IsDigit(char c) { return (ClassOf(c) & kClassDigit) != 0; }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Removes, from the end towards the start, the second character of every
// adjacent pair of the given quote characters.
std::string Collapse(std::string s, bool both_quotes) {
  for (size_t i = s.size(); i >= 2; --i) {
    const char c = s[i - 1];
    const bool quote = c == '\'' || (both_quotes && c == '"');
    if (quote && s[i - 2] == c) {
      s.erase(i - 1, 1);
      --i;  // the pair is used up
    }
  }
  return s;
}

}  // namespace

void TExpressionParser::Load(std::string_view text, uint32_t line, uint32_t column) {
  text_.assign(text.data(), text.size());
  text_.push_back('\0');
  pos_ = token_start_ = token_end_ = before_blanks_ = 0;
  kind_ = kTokEnd;
  mark_start_ = mark_line_start_ = statement_start_ = keywords_start_ = 0;
  line_ = mark_line_ = line;
  column_base_ = mark_column_base_ = column;
  line_start_ = 0;
  start_line_ = line;
  start_column_ = column;
  parameter_count_ = 0;
}

TExpressionParser::TResumePoint TExpressionParser::SaveResumePoint() const {
  TResumePoint point;
  point.pos = token_end_;
  point.token_start = token_start_;
  point.before_blanks = before_blanks_;
  point.line_start = line_start_;
  point.statement_start = statement_start_;
  point.keywords_start = keywords_start_;
  point.lines = line_ - start_line_;
  point.kind = kind_;
  point.parameter_count = parameter_count_;
  return point;
}

void TExpressionParser::LoadAt(std::string_view text, uint32_t line, uint32_t column,
                               const TResumePoint& point) {
  Load(text, line, column);
  pos_ = token_end_ = point.pos;
  token_start_ = point.token_start;
  before_blanks_ = point.before_blanks;
  line_start_ = point.line_start;
  statement_start_ = point.statement_start;
  keywords_start_ = point.keywords_start;
  line_ = line + point.lines;
  // A token after a line break counts its columns from 1.
  if (point.lines > 0) column_base_ = 1;
  kind_ = point.kind;
  parameter_count_ = point.parameter_count;
}

bool TExpressionParser::ContinuesWord(char c) { return (ClassOf(c) & kClassIdentChar) != 0; }

void TExpressionParser::LineBreakAt(size_t* pos) {
  // CR, LF or CR LF is one break.
  if (At(*pos) == '\r' && At(*pos + 1) == '\n') ++*pos;
  ++*pos;
  ++line_;
  column_base_ = 1;
  line_start_ = *pos;
}

void TExpressionParser::SkipBlanksAndComments() {
  for (;;) {
    // Blanks are the characters 1..32.
    while (static_cast<unsigned char>(At(pos_) - 1) < 32) {
      if (At(pos_) == '\r' || At(pos_) == '\n') {
        LineBreakAt(&pos_);
      } else {
        ++pos_;
      }
    }
    if (At(pos_) == '-' && At(pos_ + 1) == '-') {
      while (At(pos_) != '\0' && At(pos_) != '\r' && At(pos_) != '\n') ++pos_;
      continue;
    }
    if (At(pos_) == '/' && At(pos_ + 1) == '*') {
      pos_ += 2;
      while (!(At(pos_) == '*' && At(pos_ + 1) == '/')) {
        if (At(pos_) == '\0') UnterminatedError(pos_, kTokEnd, '/');
        if (At(pos_) == '\r' || At(pos_) == '\n') {
          LineBreakAt(&pos_);
        } else {
          ++pos_;
        }
      }
      pos_ += 2;
      continue;
    }
    return;
  }
}

void TExpressionParser::UnterminatedError(size_t pos, uint8_t kind, char missing) {
  // The token now starts where the closing character was due (a line break
  // or the end), so the message takes the Missing form at that place.
  kind_ = kind;
  token_start_ = pos;
  token_end_ = pos_ = pos;
  ExpectedError(std::string(1, missing));
}

uint8_t TExpressionParser::NextToken() {
  before_blanks_ = pos_;
  SkipBlanksAndComments();
  token_start_ = pos_;
  const char c = At(pos_);
  const uint8_t cls = ClassOf(c);
  if (cls & kClassIdentStart) {
    ++pos_;
    while (ClassOf(At(pos_)) & kClassIdentChar) ++pos_;
    kind_ = kTokIdent;
  } else if (cls & kClassPunct) {
    ++pos_;
    kind_ = static_cast<uint8_t>(c);
  } else if (c == '#') {
    ++pos_;
    while (IsDigit(At(pos_))) ++pos_;
    kind_ = kTokCharConst;
  } else if (c == '\'' || c == '"') {
    const uint8_t kind = c == '\'' ? kTokString : kTokQuoted;
    ++pos_;
    for (;;) {
      const char d = At(pos_);
      if (d == '\0' || d == '\r' || d == '\n') UnterminatedError(pos_, kind, c);
      ++pos_;
      if (d == c) {
        if (At(pos_) != c) break;
        ++pos_;
      }
    }
    kind_ = kind;
  } else if (c == '[') {
    ++pos_;
    for (;;) {
      const char d = At(pos_);
      if (d == '\0' || d == '\r' || d == '\n') UnterminatedError(pos_, kTokBracketed, ']');
      ++pos_;
      if (d == ']') break;
    }
    kind_ = kTokBracketed;
  } else if (IsDigit(c) || (c == '.' && IsDigit(At(pos_ + 1)))) {
    kind_ = kTokInteger;
    while (IsDigit(At(pos_))) ++pos_;
    // Only ".", "E" or "e" behind the digits makes a floating-point number
    // (a sign counts only behind an exponent's letter).
    const char after = At(pos_);
    while (after == '.' || after == 'E' || after == 'e') {
      const char d = At(pos_);
      const char prev = pos_ > token_start_ ? At(pos_ - 1) : '\0';
      if (!IsDigit(d) && d != '.' && d != 'E' && d != 'e' &&
          !((d == '+' || d == '-') && (prev == 'E' || prev == 'e')))
        break;
      ++pos_;
      kind_ = kTokFloat;
    }
  } else if (c == '\0') {
    kind_ = kTokEnd;
  } else {
    ++pos_;
    kind_ = static_cast<uint8_t>(c);
  }
  token_end_ = pos_;
  return kind_;
}

void TExpressionParser::ExpectKind(uint8_t k, std::string_view what) const {
  if (kind_ != k) ExpectedError(what);
}

bool TExpressionParser::AcceptKind(uint8_t k) {
  if (kind_ != k) return false;
  NextToken();
  return true;
}

void TExpressionParser::RequireChar(char c) {
  RequireKind(static_cast<uint8_t>(c), std::string_view(&c, 1));
}

void TExpressionParser::RequireKind(uint8_t k, std::string_view what) {
  ExpectKind(k, what);
  NextToken();
}

bool TExpressionParser::IsKeyword(std::string_view word) const {
  if (kind_ != kTokIdent || token_end_ - token_start_ != word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (AsciiUpper(At(token_start_ + i)) != AsciiUpper(word[i])) return false;
  }
  return true;
}

bool TExpressionParser::AcceptKeyword(std::string_view word) {
  if (!IsKeyword(word)) return false;
  NextToken();
  return true;
}

void TExpressionParser::RequireKeyword(std::string_view word) {
  if (!IsKeyword(word)) ExpectedError(word);
  NextToken();
}

std::string TExpressionParser::TokenText() const {
  return text_.substr(token_start_, token_end_ - token_start_);
}

std::string TExpressionParser::TokenValue() const {
  switch (kind_) {
    case kTokBracketed:
    case kTokQuoted:
      return Collapse(text_.substr(token_start_ + 1, token_end_ - token_start_ - 2), true);
    case kTokString:
      return Collapse(text_.substr(token_start_ + 1, token_end_ - token_start_ - 2), false);
    default:
      return TokenText();
  }
}

void TExpressionParser::Mark() {
  mark_start_ = token_start_;
  mark_line_ = line_;
  mark_line_start_ = line_start_;
  mark_column_base_ = column_base_;
}

std::string TExpressionParser::MarkedText() const {
  return text_.substr(mark_start_, token_end_ > mark_start_ ? token_end_ - mark_start_ : 0);
}

uint32_t TExpressionParser::MarkColumn() const {
  return static_cast<uint32_t>(mark_start_ - mark_line_start_) + mark_column_base_;
}

uint32_t TExpressionParser::column() const {
  return static_cast<uint32_t>(token_start_ - line_start_) + column_base_;
}

std::string_view TExpressionParser::StatementView() const {
  const size_t end = std::max(before_blanks_, statement_start_);
  return std::string_view(text_).substr(statement_start_, end - statement_start_);
}

std::string TExpressionParser::KeywordText() const {
  std::string s;
  AppendKeywordText(&s);
  return s;
}

void TExpressionParser::AppendKeywordText(std::string* out) const {
  const size_t end = std::max(before_blanks_, keywords_start_);
  // Line breaks are removed; a break that alone separates two words leaves
  // one blank, so "CREATE<CR><LF>TABLE" still reads "CREATE TABLE".
  std::string& s = *out;
  const size_t first = s.size();
  for (size_t i = keywords_start_; i < end; ++i) {
    const char c = At(i);
    if (c != '\r' && c != '\n') {
      s.push_back(c);
      continue;
    }
    while (i + 1 < end && (At(i + 1) == '\r' || At(i + 1) == '\n')) ++i;
    if (s.size() > first && s.back() != ' ' && i + 1 < end &&
        static_cast<unsigned char>(At(i + 1)) > 32) {
      s.push_back(' ');
    }
  }
}

void TExpressionParser::SetContextFromKeywords() {
  // Built in place: the context's buffer serves statement after statement.
  context_.clear();
  AppendKeywordText(&context_);
  for (char& c : context_) c = AsciiUpper(c);
  context_ += " SQL statement";
}

std::string TExpressionParser::Message(std::string message) const {
  if (message.size() > kMaxMessage) message.resize(kMaxMessage);
  return message;
}

void TExpressionParser::Error(std::string_view message, uint32_t line, uint32_t column) const {
  std::vector<std::string> names;
  if (error_code_ != storage::kErrSqlParsing) names.push_back(database_name_);
  names.push_back(Message(std::string(message)));
  names.push_back(std::to_string(line));
  names.push_back(std::to_string(column));
  throw storage::ETabulaEngineError(error_code_, std::move(names));
}

void TExpressionParser::ExpectedError(std::string_view what) const {
  const char first = At(token_start_);
  if (first == '\0' || first == '\r' || first == '\n') {
    Error("Missing " + std::string(what) + " in " + context_, line_, column());
  }
  Error("Expected " + std::string(what) + " but instead found " + TokenText() + " in " + context_,
        line_, column());
}

void TExpressionParser::MarkedExpectedError(std::string_view what) const {
  Error("Expected " + std::string(what) + " but instead found " + MarkedText() + " in " + context_,
        mark_line_, MarkColumn());
}

void TExpressionParser::InvalidExpressionError() const {
  Error("Invalid expression " + TokenText() + " found in " + context_, line_, column());
}

void TExpressionParser::MarkedInvalidExpressionError() const {
  Error("Invalid expression " + MarkedText() + " found in " + context_, mark_line_, MarkColumn());
}

}  // namespace downsql::sql
