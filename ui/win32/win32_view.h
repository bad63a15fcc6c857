// The import dialog as a window of Windows' own controls.
//
// The window follows the dialog's form (ui/dialog_form.h): an editor panel
// fills the client area above the button strip (Panel1, carrying three
// owner-drawn buttons) and a one-text status bar at the bottom. The editor
// is a RichEdit control; texts whose size allows it are shown with the SQL
// colours (sql_rtf.h). Texts reach the view in Windows-1250 and go to the
// controls as UTF-16, so the window does not depend on the system's ANSI
// code page.
//
// Long work runs inside a handler on the calling thread, as everywhere else:
// while it runs no message is dispatched, so no second command can start
// inside the first; status texts repaint the status bar at once.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ui/dialog_view.h"

namespace downsql::ui {

// Window classes and control texts that a program driving the dialog from
// another thread looks for (the testing host does).
inline constexpr wchar_t kWin32DialogClass[] = L"TfmsqlallWindow";
inline constexpr wchar_t kWin32PanelClass[] = L"TfmsqlallPanel";

// A message box with the error icon, message (Windows-1250) and an OK
// button, owned by owner (an HWND; null for none).
void ShowWin32ErrorBox(std::string_view message, void* owner);

class Win32View : public DialogView {
 public:
  // Creates the window hidden, owned by the calling thread's active window.
  Win32View();
  ~Win32View() override;
  Win32View(const Win32View&) = delete;
  Win32View& operator=(const Win32View&) = delete;

  void SetEditorText(std::string_view text) override;
  void ClearEditor() override;
  void AppendEditorLine(std::string_view line) override;
  std::string EditorText() const override;

  void SetStatusText(std::string_view text) override;
  std::string StatusText() const override;

  void SetExecuteEnabled(bool enabled) override;
  bool ExecuteEnabled() const override;

  // A message box with the error icon and an OK button, owned by the dialog.
  void ShowError(std::string_view message) override;

  // Shows the window and runs its message loop until it closes. Like a
  // dialog box, it disables every other enabled top-level window of the
  // calling thread meanwhile and enables them again afterwards. The close
  // box acts as "Zamknij".
  void RunModal(DialogEventSink& events) override;
  void Close() override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace downsql::ui
