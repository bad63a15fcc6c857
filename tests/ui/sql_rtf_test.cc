// The editor's SQL colours as RTF: each kind of token in its colour, and
// text that RTF would misread escaped.
#include "ui/sql_rtf.h"

#include <gtest/gtest.h>

namespace downsql::ui {
namespace {

// The document without its header and closing brace.
std::string Body(std::u16string_view text) {
  std::string rtf = SqlRtf(text);
  const std::string header_end = "\\f0\\fs20 ";
  size_t start = rtf.find(header_end);
  EXPECT_NE(start, std::string::npos);
  EXPECT_EQ(rtf.back(), '}');
  return rtf.substr(start + header_end.size(), rtf.size() - start - header_end.size() - 1);
}

TEST(SqlRtf, ColoursAndEscapes) {
  struct Case {
    std::u16string_view text;
    std::string body;
  } cases[] = {
      {u"insert into t", "\\cf2 insert\\cf0  \\cf2 into\\cf0  t"},
      {u"x1 12.5 3", "x1 \\cf3 12.5\\cf0  \\cf3 3"},
      {u"'it''s' a", "\\cf4\\b 'it''s'\\b0\\cf0  a"},
      {u"-- note\r\nset", "\\cf1 -- note\\cf0 \\par\n\\cf2 set"},
      {u"/* a\nb */x", "\\cf1 /* a\\par\nb */\\cf0 x"},
      {u"{\\}", "\\{\\\\\\}"},
      {u"\u0105\u0141", "\\u261?\\u321?"},
      {u"a\rb\n", "a\\par\nb\\par\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Body(c.text), c.body) << std::string(c.text.begin(), c.text.end());
  }
}

}  // namespace
}  // namespace downsql::ui
