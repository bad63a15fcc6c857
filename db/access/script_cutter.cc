// Cutting an SQL script into statements.
#include "db/access/script_cutter.h"

namespace downsql::access {
namespace {

bool IsNameChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '!' || c == '$' || c == '@' || (c >= 128 && c <= 254);
}

// One walk over the script from a position, with the line counter and the
// index where the current line begins.
class Walker {
 public:
  Walker(std::string_view text, const TScriptCounters& at, std::string& out)
      : text_(text),
        out_(out),
        p_(at.position - 1),
        line_(at.line),
        line_start_(at.position - at.column) {}

  bool AtEnd() const { return p_ >= text_.size(); }
  unsigned char Peek(size_t ahead = 0) const {
    return p_ + ahead < text_.size() ? static_cast<unsigned char>(text_[p_ + ahead]) : 0;
  }
  bool LooksAt(std::string_view s) const { return text_.substr(p_).starts_with(s); }

  // Takes one character (a CR LF pair as one), copying it when asked, and
  // counts a line break.
  void Take(bool copy = true) {
    char c = text_[p_++];
    if (copy) out_ += c;
    if (c == '\r' && p_ < text_.size() && text_[p_] == '\n') {
      if (copy) out_ += '\n';
      ++p_;
    }
    if (c == '\r' || c == '\n') {
      ++line_;
      line_start_ = p_;
    }
  }

  // Whitespace and comments, copied; false when the text ends inside a
  // "/*" comment.
  bool CopyBlanks() {
    while (!AtEnd()) {
      if (Peek() < 33) {
        Take();
      } else if (LooksAt("--")) {
        while (!AtEnd() && Peek() != '\r' && Peek() != '\n') Take();
      } else if (LooksAt("/*")) {
        Take();
        Take();
        while (!AtEnd() && !LooksAt("*/")) Take();
        if (AtEnd()) return false;
        Take();
        Take();
      } else {
        return true;
      }
    }
    return true;
  }

  // A quoted literal or name from its opening quote through the closing one;
  // a doubled quote stands inside. Returns the text between the quotes
  // with doubled quotes made single; closed tells whether the closing quote
  // was there.
  std::string Quoted(bool copy, bool* closed = nullptr) {
    char quote = text_[p_];
    Take(copy);
    std::string inner;
    while (!AtEnd()) {
      if (text_[p_] == quote) {
        Take(copy);
        if (AtEnd() || text_[p_] != quote) {
          if (closed != nullptr) *closed = true;
          return inner;
        }
        Take(copy);
        inner += quote;
      } else {
        inner += text_[p_];
        Take(copy);
      }
    }
    if (closed != nullptr) *closed = false;
    return inner;
  }

  // From "[" through the next "]"; returns the text between them.
  std::string Bracketed(bool copy, bool* closed = nullptr) {
    Take(copy);
    std::string inner;
    while (!AtEnd() && text_[p_] != ']') {
      inner += text_[p_];
      Take(copy);
    }
    if (closed != nullptr) *closed = !AtEnd();
    if (!AtEnd()) Take(copy);
    return inner;
  }

  // After ":": the parameter's name, not copied.
  std::string ParamName() {
    if (AtEnd()) return {};
    if (Peek() == '"') return Quoted(false);
    if (Peek() == '[') return Bracketed(false);
    std::string name;
    while (!AtEnd() && IsNameChar(Peek())) {
      name += text_[p_];
      Take(false);
    }
    return name;
  }

  void SkipOne() { ++p_; }

  void Store(TScriptCounters& at) const {
    at.position = static_cast<uint32_t>(p_ + 1);
    at.line = line_;
    at.column = static_cast<uint32_t>(p_ - line_start_ + 1);
  }

 private:
  std::string_view text_;
  std::string& out_;
  size_t p_;
  uint32_t line_;
  size_t line_start_;
};

}  // namespace

std::string TScriptCutter::Cut(std::string_view script, std::vector<std::string>* names) {
  saved_ = current_;
  current_.start_line = current_.line;
  current_.start_column = current_.column;
  std::string statement;
  Walker walk(script, current_, statement);
  while (!walk.AtEnd()) {
    walk.CopyBlanks();
    if (walk.AtEnd()) break;
    unsigned char c = walk.Peek();
    if (c == '\'' || c == '"') {
      walk.Quoted(true);
    } else if (c == '[') {
      walk.Bracketed(true);
    } else if (c == ':') {
      walk.SkipOne();
      std::string name = walk.ParamName();
      statement += '?';
      if (names != nullptr && !name.empty()) names->push_back(std::move(name));
    } else if (c == ';') {
      walk.SkipOne();
      walk.CopyBlanks();
      break;
    } else {
      walk.Take();
    }
  }
  walk.Store(current_);
  return statement;
}

bool IsEmptyStatement(std::string_view statement) {
  std::string blanks;
  Walker walk(statement, TScriptCounters{}, blanks);
  walk.CopyBlanks();
  return walk.AtEnd();
}

bool IsCompleteScript(std::string_view script) {
  std::string copied;
  Walker walk(script, TScriptCounters{}, copied);
  bool open = false;  // a statement has begun and not yet ended at ";"
  for (;;) {
    if (!walk.CopyBlanks()) return false;
    if (walk.AtEnd()) return !open;
    unsigned char c = walk.Peek();
    bool closed = true;
    if (c == '\'' || c == '"') {
      walk.Quoted(true, &closed);
    } else if (c == '[') {
      walk.Bracketed(true, &closed);
    } else if (c == ';') {
      walk.SkipOne();
      open = false;
      continue;
    } else {
      walk.Take();
    }
    if (!closed) return false;
    open = true;
  }
}

}  // namespace downsql::access
