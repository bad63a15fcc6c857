// TExpressionParser: the lexer and recursive-descent expression parser of
// the SQL engine and of table filters.
//
// The lexer is a cursor over a private NUL-terminated copy of one statement.
// The parser pulls one token at a time and tests it by kind, by character or
// by keyword. Keywords are not reserved: a word is a keyword only where the
// grammar asks for it, and quoted or bracketed words never are.
//
// Token kinds:
//   0 end of text          4 "double-quoted identifier"
//   1 plain word           5 #digits (character constant)
//   2 [bracketed name]     6 integer digits
//   3 'string literal'     7 floating-point number
//   any other value: one punctuation character, the kind is its code.
//
// Line and column: the text is loaded with the line and column at which it
// begins in the whole script; every token's position counts on from there,
// so messages point into the script, columns counting from 1.
//
// Every error raises storage::ETabulaEngineError with the parser's error
// code. With the SQL code 11949 the names are {message, line, column}; with
// any other code (table filters) the database name comes first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "db/sql/exp_token.h"
#include "db/storage/engine_error.h"

namespace downsql::sql {

enum TTokenKind : uint8_t {
  kTokEnd = 0,
  kTokIdent = 1,
  kTokBracketed = 2,
  kTokString = 3,
  kTokQuoted = 4,
  kTokCharConst = 5,
  kTokInteger = 6,
  kTokFloat = 7,
};

// Deepest expression tree (and nesting of parentheses, NOT and signs) the
// parser accepts; deeper text is an invalid expression rather than a stack
// overflow in the parser, the verifier or the evaluator.
inline constexpr int kMaxExpressionDepth = 256;

// Permission flags of ParseExpression.
enum TParseFlags : uint32_t {
  kAllowAggregates = 1,
  kAllowQualified = 2,   // table.column
  kAllowStar = 4,        // * and table.*
  kAllowParameters = 8,  // ?
};

// A data type as written in CAST and column definitions.
struct TSqlDataType {
  uint8_t type = 0;
  uint8_t subtype = 0;
  uint32_t size = 0;
  int scale = 0;
};

class TExpressionParser {
 public:
  TExpressionParser() { Load("", 1, 1); }

  // --- lexer ---------------------------------------------------------------

  // Copies text and starts counting at line/column. Reads no token.
  void Load(std::string_view text, uint32_t line, uint32_t column);

  // Where the lexer stands, counted from the start of its text: a statement
  // whose text begins with the same characters as an earlier one can read
  // on from there instead of reading that part again.
  struct TResumePoint {
    size_t pos = 0;  // the characters read: the text up to here must match
    size_t token_start = 0;
    size_t before_blanks = 0;
    size_t line_start = 0;
    size_t statement_start = 0;
    size_t keywords_start = 0;
    uint32_t lines = 0;  // line breaks before pos
    uint8_t kind = kTokEnd;
    int parameter_count = 0;
  };
  // The point of the current token; it must be a plain word or a
  // punctuation character (tokens that end without looking past their
  // last character).
  TResumePoint SaveResumePoint() const;
  // Load, then stands on the token the point was saved at, as if the text
  // had been read up to there. text must begin with the point.pos
  // characters of the text the point was saved from, and the character
  // after them must not continue that token.
  void LoadAt(std::string_view text, uint32_t line, uint32_t column, const TResumePoint& point);
  // Whether c, behind a plain word, would be part of it.
  static bool ContinuesWord(char c);
  // The line and column given to the last Load.
  uint32_t start_line() const { return start_line_; }
  uint32_t start_column() const { return start_column_; }

  // Skips blanks and comments, reads one token and returns its kind. Raises
  // the parsing error for unterminated literals and block comments.
  uint8_t NextToken();

  uint8_t kind() const { return kind_; }
  bool IsKind(uint8_t k) const { return kind_ == k; }
  bool IsIdentifier() const {
    return kind_ == kTokIdent || kind_ == kTokBracketed || kind_ == kTokQuoted;
  }
  // Raises the Expected (or Missing) error naming `what` unless the current
  // token is of kind k.
  void ExpectKind(uint8_t k, std::string_view what) const;
  // Reads the next token and returns true when the current one is of kind k.
  bool AcceptKind(uint8_t k);
  // ExpectKind with the character itself as the name, then NextToken.
  void RequireChar(char c);
  void RequireKind(uint8_t k, std::string_view what);

  // True when the current token is the plain word `word` in any letter case.
  bool IsKeyword(std::string_view word) const;
  bool AcceptKeyword(std::string_view word);
  // Raises the Expected error naming the word unless it is current; then
  // reads the next token.
  void RequireKeyword(std::string_view word);

  // The raw text of the current token (with its quotes).
  std::string TokenText() const;
  // The same without a copy; it stays valid until the next Load.
  std::string_view TokenView() const {
    return std::string_view(text_).substr(token_start_, token_end_ - token_start_);
  }
  // The text a name or literal stands for: quotes removed and doubled quote
  // characters collapsed.
  std::string TokenValue() const;

  // Remembers the current token as the start of a construct.
  void Mark();
  std::string MarkedText() const;  // from the mark to the current position
  uint32_t MarkLine() const { return mark_line_; }
  uint32_t MarkColumn() const;

  // The statement parsers note where a statement and its leading keywords
  // begin (at the current token).
  void MarkStatementStart() { statement_start_ = token_start_; }
  void MarkKeywordsStart() { keywords_start_ = token_start_; }
  // The text from the statement start up to the blanks before the current
  // token, and the same from the keywords' start with CR and LF removed.
  std::string StatementText() const { return std::string(StatementView()); }
  std::string_view StatementView() const;
  std::string KeywordText() const;
  // The context becomes the keyword text in upper case + " SQL statement".
  void SetContextFromKeywords();

  uint32_t line() const { return line_; }
  uint32_t column() const;

  uint32_t error_code() const { return error_code_; }
  void set_error_code(uint32_t code) { error_code_ = code; }
  const std::string& database_name() const { return database_name_; }
  void set_database_name(std::string_view name) { database_name_.assign(name.data(), name.size()); }
  const std::string& context() const { return context_; }
  void set_context(std::string_view context) { context_.assign(context.data(), context.size()); }

  // --- errors (all raise ETabulaEngineError) -------------------------------

  // "Expected w but instead found <token> in <context>", or "Missing w in
  // <context>" when the current token starts with NUL, CR or LF.
  [[noreturn]] void ExpectedError(std::string_view what) const;
  // The same, pointing at the mark with the marked text as the token.
  [[noreturn]] void MarkedExpectedError(std::string_view what) const;
  // "Invalid expression <token> found in <context>".
  [[noreturn]] void InvalidExpressionError() const;
  [[noreturn]] void MarkedInvalidExpressionError() const;
  // Any message (context not appended) at a line and column.
  [[noreturn]] void Error(std::string_view message, uint32_t line, uint32_t column) const;

  // --- expressions ---------------------------------------------------------

  // Parses one expression from the current token; the current token is then
  // the first one behind it. flags: TParseFlags.
  std::unique_ptr<TExpToken> ParseExpression(uint32_t flags);

  // When the current token is a constant standing alone as a whole
  // expression (a number, a string, NULL, TRUE or FALSE followed by "," or
  // ")"), fills node with what ParseExpression would return for it (kind,
  // value, type, size, position) but its text, which goes to *text (valid
  // until the next Load), reads on past it and returns true. Otherwise
  // leaves the parser as it was and returns false. Lists of values use it
  // to spare a tree node per constant; node can be reused.
  bool ParseLoneConstant(TExpToken& node, std::string_view* text);
  // The same for an integer constant that fits 64 bits, as its value.
  bool ParseLoneInteger(int64_t* value);

  // Parses an SQL data type name with its optional (size[, scale]).
  TSqlDataType ParseDataType();
  // True when the current token is a plain word naming an SQL data type.
  bool IsDataTypeName() const;

  // Parameters "?" read since Load, numbered from 0 in order of appearance.
  int parameter_count() const { return parameter_count_; }

  void set_subquery_parser(TSubQueryParser* p) { subquery_parser_ = p; }

 private:
  // Keeps the caller's mark across a nested construct that sets its own.
  class MarkGuard {
   public:
    explicit MarkGuard(TExpressionParser& p)
        : p_(p),
          start_(p.mark_start_),
          line_(p.mark_line_),
          line_start_(p.mark_line_start_),
          column_base_(p.mark_column_base_) {}
    ~MarkGuard() {
      p_.mark_start_ = start_;
      p_.mark_line_ = line_;
      p_.mark_line_start_ = line_start_;
      p_.mark_column_base_ = column_base_;
    }

   private:
    TExpressionParser& p_;
    size_t start_;
    uint32_t line_;
    size_t line_start_;
    uint32_t column_base_;
  };

  class NestingGuard {
   public:
    explicit NestingGuard(TExpressionParser& p) : p_(p) {
      if (++p_.nesting_ > kMaxExpressionDepth) p_.InvalidExpressionError();
    }
    ~NestingGuard() { --p_.nesting_; }

   private:
    TExpressionParser& p_;
  };

  char At(size_t pos) const { return text_[pos]; }
  // Reads the next token when it is "," or ")" and returns true; else
  // stays on the current token and returns false.
  bool NextEndsLoneConstant();
  void SkipBlanksAndComments();
  void LineBreakAt(size_t* pos);
  [[noreturn]] void UnterminatedError(size_t pos, uint8_t kind, char missing);
  std::string Message(std::string message) const;
  void AppendKeywordText(std::string* out) const;

  std::unique_ptr<TExpToken> NewNode(uint8_t kind, uint8_t code) const;
  std::unique_ptr<TExpToken> ParseOr();
  std::unique_ptr<TExpToken> ParseAnd();
  std::unique_ptr<TExpToken> ParseNot();
  std::unique_ptr<TExpToken> ParseComparison();
  std::unique_ptr<TExpToken> ParseSum();
  std::unique_ptr<TExpToken> ParseProduct();
  std::unique_ptr<TExpToken> ParseFactor();
  std::unique_ptr<TExpToken> ParsePrimary();
  // The constant node of the current token (FillConstant), then NextToken.
  std::unique_ptr<TExpToken> ParseConstant();
  TValue NumberValue() const;
  // The constant node of the current token when it is a number, a string,
  // NULL, TRUE or FALSE (its text too when with_text); false for any other
  // token. Reads no token.
  bool FillConstant(TExpToken& node, bool with_text) const;
  std::unique_ptr<TExpToken> ParseFunction(std::unique_ptr<TExpToken> node);
  std::unique_ptr<TExpToken> ParseCase(std::unique_ptr<TExpToken> node);
  void RequireSeparator(std::string_view keyword);
  std::unique_ptr<TExpToken> Finish(std::unique_ptr<TExpToken> node, size_t start) const;

  std::string text_;  // the statement and its terminating NUL
  size_t pos_ = 0;
  size_t token_start_ = 0;
  size_t token_end_ = 0;
  size_t before_blanks_ = 0;
  uint8_t kind_ = kTokEnd;
  size_t mark_start_ = 0;
  uint32_t mark_line_ = 1;
  size_t mark_line_start_ = 0;
  uint32_t mark_column_base_ = 1;
  size_t statement_start_ = 0;
  size_t keywords_start_ = 0;
  uint32_t line_ = 1;
  uint32_t start_line_ = 1;
  uint32_t start_column_ = 1;
  size_t line_start_ = 0;
  uint32_t column_base_ = 1;
  // The line of the current token (a token never spans lines).
  uint32_t error_code_ = storage::kErrSqlParsing;
  std::string database_name_;
  std::string context_ = "SQL statement";

  uint32_t flags_ = 0;
  int parameter_count_ = 0;
  bool no_in_ = false;
  int nesting_ = 0;
  TSubQueryParser* subquery_parser_ = nullptr;
};

}  // namespace downsql::sql
