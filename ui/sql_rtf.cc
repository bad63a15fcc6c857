#include "ui/sql_rtf.h"

#include <algorithm>
#include <iterator>

namespace downsql::ui {
namespace {

// Colour table entries (\cfN): 0 is the default colour.
enum Colour { kPlain = 0, kComment = 1, kKeyword = 2, kNumber = 3, kString = 4 };

constexpr std::string_view kHeader =
    "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fmodern Courier New;}}"
    "{\\colortbl;\\red0\\green128\\blue128;\\red255\\green128\\blue0;"
    "\\red0\\green0\\blue255;\\red255\\green0\\blue0;}\\f0\\fs20 ";

constexpr std::string_view kKeywords[] = {
    "ADD",       "ALL",    "ALTER",  "AND",    "AS",     "ASC",     "AVG",         "BETWEEN",
    "BY",        "CASE",   "COMMIT", "COUNT",  "CREATE", "DEFAULT", "DELETE",      "DESC",
    "DISTINCT",  "DROP",   "ELSE",   "END",    "EXCEPT", "EXISTS",  "FALSE",       "FLUSH",
    "FROM",      "FULL",   "GROUP",  "HAVING", "IN",     "INDEX",   "INNER",       "INSERT",
    "INTERSECT", "INTO",   "IS",     "JOIN",   "LEFT",   "LIKE",    "MAX",         "MIN",
    "NOT",       "NULL",   "ON",     "OR",     "ORDER",  "OUTER",   "RIGHT",       "ROLLBACK",
    "SELECT",    "SET",    "START",  "SUM",    "TABLE",  "THEN",    "TRANSACTION", "TRUE",
    "UNION",     "UPDATE", "VALUES", "WHEN",   "WHERE"};

bool IsWordChar(char16_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c >= 0x80;
}
bool IsDigit(char16_t c) { return c >= '0' && c <= '9'; }

bool IsKeyword(std::u16string_view word) {
  if (word.size() > 16) return false;
  std::string upper;
  for (char16_t c : word) {
    if (c >= 0x80) return false;
    upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  auto is = [&](std::string_view k) { return k == upper; };
  return std::any_of(std::begin(kKeywords), std::end(kKeywords), is);
}

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  void Text(std::u16string_view text, Colour colour) {
    if (text.empty()) return;
    if (colour != colour_) {
      if (colour_ == kString) out_ += "\\b0";
      out_ += "\\cf" + std::to_string(colour);
      if (colour == kString) out_ += "\\b";
      out_ += ' ';
      colour_ = colour;
    }
    for (size_t i = 0; i < text.size(); ++i) {
      char16_t c = text[i];
      if (c == '\r' || c == '\n') {
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out_ += "\\par\n";
      } else if (c == '\\' || c == '{' || c == '}') {
        out_ += '\\';
        out_ += static_cast<char>(c);
      } else if (c == '\t') {
        out_ += "\\tab ";
      } else if (c < 0x20) {
        // other control characters have no place in the editor's text
      } else if (c < 0x80) {
        out_ += static_cast<char>(c);
      } else {
        out_ += "\\u" + std::to_string(static_cast<int16_t>(c)) + "?";
      }
    }
  }

 private:
  std::string& out_;
  Colour colour_ = kPlain;
};

}  // namespace

std::string SqlRtf(std::u16string_view text) {
  std::string out(kHeader);
  out.reserve(text.size() + text.size() / 4 + 256);
  Writer w(out);
  size_t i = 0;
  while (i < text.size()) {
    char16_t c = text[i];
    size_t end = i + 1;
    Colour colour = kPlain;
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      end = i + 2;  // one line break
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      end = text.find_first_of(u"\r\n", i);
      if (end == std::u16string_view::npos) end = text.size();
      colour = kComment;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      end = text.find(u"*/", i + 2);
      end = end == std::u16string_view::npos ? text.size() : end + 2;
      colour = kComment;
    } else if (c == '\'') {
      // '' inside a string is a quote, not its end
      end = i + 1;
      while (end < text.size()) {
        if (text[end] == '\'') {
          if (end + 1 < text.size() && text[end + 1] == '\'') {
            end += 2;
            continue;
          }
          ++end;
          break;
        }
        ++end;
      }
      colour = kString;
    } else if (IsWordChar(c)) {
      while (end < text.size() && IsWordChar(text[end])) ++end;
      std::u16string_view word = text.substr(i, end - i);
      if (std::all_of(word.begin(), word.end(), IsDigit)) {
        // a decimal point and its digits belong to the number
        if (end + 1 < text.size() && text[end] == '.' && IsDigit(text[end + 1])) {
          end += 1;
          while (end < text.size() && IsDigit(text[end])) ++end;
        }
        colour = kNumber;
      } else if (IsKeyword(word)) {
        colour = kKeyword;
      }
    }
    w.Text(text.substr(i, end - i), colour);
    i = end;
  }
  out += '}';
  return out;
}

}  // namespace downsql::ui
