// The dialog's SQL editor: a GtkSourceView set up the way the dialog wants
// its editor.
//
// GtkSourceView draws the line numbers, highlights the current line, wraps
// words, inserts spaces for tabs, indents automatically and groups typing
// into undo steps. What it lacks is added here: the SQL colours come from a
// style scheme of our own, the gutter uses a smaller font than the text,
// files dropped onto the editor are loaded as its text, and trailing blanks
// of a line the user edited are trimmed once the cursor leaves that line.
#pragma once

#include <string>
#include <vector>

typedef struct _GtkWidget GtkWidget;

namespace downsql::ui {

// A new, unparented GtkSourceView with its own GtkSourceBuffer, named
// "downsql-editor" for the dialog's style sheet.
GtkWidget* NewSqlEditor();

// Replaces the editor's whole text (UTF-8) as a step that cannot be undone;
// the undo history starts afresh.
void ReplaceSqlEditorText(GtkWidget* editor, const std::string& utf8_text);
// Adds utf8_text at the end of the editor's text, also as a step that cannot
// be undone.
void AppendSqlEditorText(GtkWidget* editor, const std::string& utf8_text);

// The text of dropped files, one after the other, as UTF-8: a file that is
// not valid UTF-8 is read as Windows-1250. Files that cannot be read (or
// are not local) are skipped.
std::string LoadDroppedFiles(const std::vector<std::string>& uris);

// The id of our SQL style scheme and its XML, for the tests.
inline constexpr const char* kSqlStyleSchemeId = "downsql";
const char* SqlStyleSchemeXml();

}  // namespace downsql::ui
