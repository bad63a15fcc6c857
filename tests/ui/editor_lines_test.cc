#include "ui/editor_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace downsql::ui {
namespace {

TEST(EditorLinesTest, SetTextSplitsAtEveryKindOfLineBreak) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},  // a trailing break makes no extra line
      {"a\nb\rc", {"a", "b", "c"}},
      {"a\r\n\r\n", {"a", ""}},
      {"\r\n", {""}},
      {"a\n\rb", {"a", "", "b"}},  // LF CR is two breaks
      {" x \t\r\n", {" x \t"}},
      {"a\r\nb\nc\r\n", {"a", "b", "c"}},  // one lone LF among CR LF
      {"a\r\n\rb", {"a", "", "b"}},
  };
  for (const Case& c : cases) {
    EditorLines copied, taken;
    copied.Add("old");
    taken.Add("old");
    copied.SetText(c.text);
    taken.TakeText(std::string(c.text));
    EXPECT_EQ(copied.lines(), c.lines) << '"' << c.text << '"';
    EXPECT_EQ(taken.lines(), c.lines) << '"' << c.text << '"';
    EXPECT_EQ(taken.Text(), copied.Text()) << '"' << c.text << '"';
  }
}

TEST(EditorLinesTest, TextEndsEveryLineWithCrLf) {
  EditorLines editor;
  EXPECT_EQ(editor.Text(), "");
  editor.SetText("a\nb");
  editor.Add("");
  editor.Add("c");
  EXPECT_EQ(editor.Text(), "a\r\nb\r\n\r\nc\r\n");
  editor.Clear();
  EXPECT_EQ(editor.Text(), "");
}

}  // namespace
}  // namespace downsql::ui
