// Column definitions, primary keys and table options of CREATE and ALTER
// TABLE.
#include "db/sql/table_definition_grammar.h"

#include <algorithm>
#include <memory>

#include "db/sql/statement_kinds.h"

namespace downsql::sql {

using namespace storage;

namespace {

// Index compression levels by name.
struct TCompressionName {
  const char* name;
  uint8_t level;
};
constexpr TCompressionName kIndexCompression[] = {
    {"NONE", 0}, {"DUPBYTE", 1}, {"TRAILBYTE", 2}, {"FULL", 3}};

uint32_t ParseInteger(TExpressionParser& p) {
  p.ExpectKind(kTokInteger, "Integer");
  const std::string digits = p.TokenText();
  p.NextToken();
  return digits.size() > 9 ? 999999999u : uint32_t(std::stoul(digits));
}

std::string ParseString(TExpressionParser& p, std::string_view what) {
  p.ExpectKind(kTokString, what);
  std::string s = p.TokenValue();
  p.NextToken();
  return s;
}

// The text a DEFAULT, MIN or MAX expression is stored as: a constant's
// text, or the name of CURRENT_DATE, CURRENT_TIME, CURRENT_TIMESTAMP or
// CURRENT_GUID.
std::string ConstraintText(TStatementEnv& env, std::string_view what) {
  TExpressionParser& p = env.parser;
  p.Mark();
  std::unique_ptr<TExpToken> node = p.ParseExpression(0);
  if (node->kind == kNodeConstant && node->param_index < 0) {
    if (node->value.type == kTypeBoolean) return node->value.i ? "TRUE" : "FALSE";
    return ValueText(node->value);
  }
  if (node->kind == kNodeFunction &&
      (node->code == kFnCurrentDate || node->code == kFnCurrentTime ||
       node->code == kFnCurrentTimestamp || node->code == kFnCurrentGuid))
    return FunctionName(node->code);
  if (node->kind == kNodeUnary && node->code == kOpNegate && node->left &&
      node->left->kind == kNodeConstant)
    return "-" + ValueText(node->left->value);
  p.MarkedExpectedError(what);
}

}  // namespace

uint8_t ParseIndexCompression(TExpressionParser& p) {
  for (const TCompressionName& c : kIndexCompression) {
    if (p.AcceptKeyword(c.name)) return c.level;
  }
  p.ExpectedError("FULL, DUPBYTE, TRAILBYTE, or NONE");
}

std::vector<TKeyColumn> ParseKeyColumns(TExpressionParser& p) {
  std::vector<TKeyColumn> keys;
  p.RequireChar('(');
  do {
    if (!p.IsIdentifier()) p.ExpectedError("column name");
    TKeyColumn k;
    k.line = p.line();
    k.column = p.column();
    k.name = p.TokenValue();
    p.NextToken();
    if (p.AcceptKeyword("DESC") || p.AcceptKeyword("DESCENDING")) {
      k.descending = true;
    } else if (!p.AcceptKeyword("ASC")) {
      p.AcceptKeyword("ASCENDING");
    }
    keys.push_back(std::move(k));
  } while (p.AcceptKind(','));
  p.RequireChar(')');
  return keys;
}

TColumnDefinition ParseColumnDefinition(TStatementEnv& env, std::string name, uint32_t line,
                                        uint32_t column) {
  TExpressionParser& p = env.parser;
  TColumnDefinition c;
  c.line = line;
  c.column = column;
  TFieldDef& f = c.field;
  f.name = std::move(name);
  const TSqlDataType t = p.ParseDataType();
  f.type = t.type;
  f.subtype = t.subtype;
  // Declared sizes belong to strings and byte columns (GUID's is fixed).
  f.size = f.type == kTypeString || f.type == kTypeBytes || f.type == kTypeVarBytes
               ? uint16_t(t.size)
               : 0;
  f.scale = f.type == kTypeDecimal ? uint8_t(t.scale) : 0;
  for (;;) {
    if (p.AcceptKeyword("DESCRIPTION")) {
      f.description = ParseString(p, "description");
    } else if (p.AcceptKeyword("NULLABLE")) {
      f.required = false;
    } else if (p.AcceptKeyword("NOT")) {
      p.RequireKeyword("NULL");
      f.required = true;
    } else if (p.AcceptKeyword("PRIMARY")) {
      p.RequireKeyword("KEY");
      c.primary_key = true;
    } else if (p.AcceptKeyword("UNIQUE")) {
      c.unique = true;
    } else if (p.AcceptKeyword("DEFAULT")) {
      f.default_value = ConstraintText(env, "default expression");
    } else if (p.AcceptKeyword("MIN") || p.AcceptKeyword("MINIMUM")) {
      f.min_value = ConstraintText(env, "minimum expression");
    } else if (p.AcceptKeyword("MAX") || p.AcceptKeyword("MAXIMUM")) {
      f.max_value = ConstraintText(env, "maximum expression");
    } else if (p.AcceptKeyword("CHARCASE")) {
      if (p.AcceptKeyword("UPPER")) {
        f.char_case = 2;
      } else if (p.AcceptKeyword("LOWER")) {
        f.char_case = 1;
      } else {
        p.RequireKeyword("NOCHANGE");
        f.char_case = 0;
      }
    } else if (p.AcceptKeyword("COMPRESS")) {
      f.compression = uint8_t(std::min<uint32_t>(ParseInteger(p), 255));
    } else {
      break;
    }
  }
  return c;
}

TPrimaryKeyClause ParsePrimaryKey(TExpressionParser& p) {
  TPrimaryKeyClause clause;
  if (p.AcceptKeyword("CONSTRAINT")) {
    if (!p.IsIdentifier()) p.ExpectedError("constraint name");
    p.NextToken();
  }
  p.RequireKeyword("PRIMARY");
  p.RequireKeyword("KEY");
  clause.line = p.line();
  clause.column = p.column();
  clause.keys = ParseKeyColumns(p);
  for (;;) {
    if (p.AcceptKeyword("COMPRESS")) {
      clause.compression = ParseIndexCompression(p);
    } else if (p.AcceptKeyword("NOKEYSTATS")) {
      clause.no_key_statistics = true;
    } else {
      break;
    }
  }
  return clause;
}

void TTableOptions::ApplyTo(TTableDefinition& t) const {
  if (description) t.description = *description;
  if (index_page_size) t.index_page_size = *index_page_size;
  if (blob_block_size) t.blob_block_size = *blob_block_size;
  if (locale) t.locale = *locale;
  if (password) {
    t.encrypted = true;
    t.password = *password;
  }
  if (user_major) t.user_major = *user_major;
  if (user_minor) t.user_minor = *user_minor;
  if (last_autoinc) t.last_autoinc = *last_autoinc;
}

bool ParseTableOption(TExpressionParser& p, TTableOptions& o) {
  if (p.AcceptKeyword("DESCRIPTION")) {
    o.description = ParseString(p, "description");
  } else if (p.AcceptKeyword("INDEX")) {
    p.RequireKeyword("PAGE");
    p.RequireKeyword("SIZE");
    o.index_page_size = ParseInteger(p);
  } else if (p.AcceptKeyword("BLOB")) {
    p.RequireKeyword("BLOCK");
    p.RequireKeyword("SIZE");
    o.blob_block_size = ParseInteger(p);
  } else if (p.AcceptKeyword("LOCALE")) {
    if (p.AcceptKeyword("CODE")) {
      p.ExpectKind(kTokInteger, "locale code");
      o.locale = ParseInteger(p);
    } else {
      p.ExpectKind(kTokString, "locale constant");
      const std::optional<uint32_t> locale = LocaleOfName(p.TokenValue());
      if (!locale) p.ExpectedError("locale constant");
      o.locale = *locale;
      p.NextToken();
    }
  } else if (p.AcceptKeyword("ENCRYPTED")) {
    p.RequireKeyword("WITH");
    o.password = ParseString(p, "password");
  } else if (p.AcceptKeyword("USER")) {
    const bool major = p.AcceptKeyword("MAJOR");
    if (!major) p.RequireKeyword("MINOR");
    p.RequireKeyword("VERSION");
    (major ? o.user_major : o.user_minor) = uint16_t(std::min<uint32_t>(ParseInteger(p), 65535));
  } else if (p.AcceptKeyword("LAST")) {
    p.RequireKeyword("AUTOINC");
    o.last_autoinc = ParseInteger(p);
  } else if (p.AcceptKeyword("TEXT")) {
    p.RequireKeyword("INDEX");
    if (p.IsKind('(')) o.text_columns = ParseKeyColumns(p);
    for (;;) {
      if (p.AcceptKeyword("STOP")) {
        p.RequireKeyword("WORDS");
        o.stop_words = ParseString(p, "stop words");
      } else if (p.AcceptKeyword("SPACE")) {
        p.RequireKeyword("CHARS");
        o.space_chars = ParseString(p, "space characters");
      } else if (p.AcceptKeyword("INCLUDE")) {
        p.RequireKeyword("CHARS");
        o.include_chars = ParseString(p, "include characters");
      } else {
        break;
      }
    }
  } else {
    return false;
  }
  return true;
}

}  // namespace downsql::sql
