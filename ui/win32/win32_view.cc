#include "ui/win32/win32_view.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// clang-format off
#include <commctrl.h>
#include <richedit.h>
// clang-format on

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "ui/dialog_form.h"
#include "ui/editor_lines.h"
#include "ui/sql_rtf.h"

namespace downsql::ui {
namespace {

using Form = ImportDialogForm;

constexpr UINT kCodePage = 1250;  // the dialog's texts
constexpr int kGetId = 101, kExecuteId = 102, kCloseId = 103, kEditorId = 104, kStatusId = 105;
// Larger texts (an answer of many years) are shown without colours: building
// and laying out the coloured document would take longer than the import.
constexpr size_t kColourLimit = 256 * 1024;

const COLORREF kButtonFrame = RGB(128, 0, 0);
const COLORREF kButtonFace = RGB(255, 255, 246);
const COLORREF kButtonHot = RGB(255, 255, 255);
const COLORREF kButtonPressed = RGB(245, 245, 236);

std::wstring Wide(std::string_view text) {
  if (text.empty()) return {};
  int n = ::MultiByteToWideChar(kCodePage, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(size_t(n), L'\0');
  ::MultiByteToWideChar(kCodePage, 0, text.data(), int(text.size()), wide.data(), n);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  int n = ::WideCharToMultiByte(kCodePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr,
                                nullptr);
  std::string narrow(size_t(n), '\0');
  ::WideCharToMultiByte(kCodePage, 0, text.data(), int(text.size()), narrow.data(), n, nullptr,
                        nullptr);
  return narrow;
}

// The module that holds this code (the DLL when it is loaded into a host):
// window classes are registered for it.
HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

HFONT MakeFont(std::string_view name, int points, bool bold) {
  HDC screen = ::GetDC(nullptr);
  int height = -::MulDiv(points, ::GetDeviceCaps(screen, LOGPIXELSY), 72);
  ::ReleaseDC(nullptr, screen);
  return ::CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       EASTEUROPE_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH, Wide(name).c_str());
}

// The thread's top-level windows that the modal run disabled.
struct DisabledWindows {
  HWND dialog;
  std::vector<HWND> windows;
};

BOOL CALLBACK DisableOther(HWND hwnd, LPARAM lp) {
  auto* list = reinterpret_cast<DisabledWindows*>(lp);
  if (hwnd != list->dialog && ::IsWindowEnabled(hwnd)) {
    ::EnableWindow(hwnd, FALSE);
    list->windows.push_back(hwnd);
  }
  return TRUE;
}

}  // namespace

struct Win32View::Impl {
  HINSTANCE instance = ThisModule();
  HMODULE richedit = nullptr;
  HWND window = nullptr, panel = nullptr, editor = nullptr, status = nullptr;
  HWND get = nullptr, execute = nullptr, close = nullptr;
  HWND hot = nullptr;  // the button under the mouse
  HFONT font = nullptr, button_font = nullptr, editor_font = nullptr;
  HBRUSH frame_brush = nullptr;
  WNDPROC button_proc = nullptr;
  std::string status_text;
  DialogEventSink* events = nullptr;
  bool busy = false, closed = true;

  static Impl* From(HWND hwnd) {
    return reinterpret_cast<Impl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }

  void Dispatch(DialogEvent event) {
    if (busy || events == nullptr || closed) return;
    busy = true;
    events->HandleEvent(event);
    busy = false;
    // Input that arrived while the handler worked is dropped: a command
    // clicked during a fetch must not run afterwards.
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
    while (::PeekMessageW(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
    }
  }

  void Layout() {
    RECT rc;
    ::GetClientRect(window, &rc);
    int width = rc.right, height = rc.bottom;
    int status_top = height - Form::kStatusBarHeight;
    int panel_top = status_top - Form::kButtonPanelHeight;
    int border = Form::kPanelBorderWidth;
    ::MoveWindow(status, 0, status_top, width, Form::kStatusBarHeight, TRUE);
    ::MoveWindow(panel, 0, panel_top, width, Form::kButtonPanelHeight, TRUE);
    ::MoveWindow(editor, border, border, std::max(0, width - 2 * border),
                 std::max(0, panel_top - 2 * border), TRUE);
    // "Zamknij" keeps its distance from the right edge.
    const ControlBox& c = Form::kCloseBox;
    ::MoveWindow(close, width - (Form::kClientWidth - c.left), c.top, c.width, c.height, TRUE);
  }

  void DrawButton(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    RECT rc = item.rcItem;
    bool pressed = item.itemState & ODS_SELECTED;
    bool disabled = item.itemState & ODS_DISABLED;
    ::FrameRect(dc, &rc, frame_brush);
    ::InflateRect(&rc, -1, -1);
    COLORREF face = pressed ? kButtonPressed : item.hwndItem == hot ? kButtonHot : kButtonFace;
    HBRUSH face_brush = ::CreateSolidBrush(face);
    ::FillRect(dc, &rc, face_brush);
    ::DeleteObject(face_brush);
    ::DrawEdge(dc, &rc, pressed ? BDR_SUNKENINNER : BDR_RAISEDINNER, BF_RECT);
    wchar_t caption[64] = {};
    ::GetWindowTextW(item.hwndItem, caption, 64);
    HGDIOBJ old_font = ::SelectObject(dc, button_font);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    if (pressed) ::OffsetRect(&rc, 1, 1);
    ::DrawTextW(dc, caption, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    ::SelectObject(dc, old_font);
    if (item.itemState & ODS_FOCUS) {
      ::InflateRect(&rc, -3, -3);
      ::DrawFocusRect(dc, &rc);
    }
  }

  // The editor's text as the control holds it (CR LF between paragraphs).
  std::wstring EditorWide() const {
    GETTEXTLENGTHEX length = {GTL_USECRLF | GTL_PRECISE | GTL_NUMCHARS, 1200};
    LRESULT n = ::SendMessageW(editor, EM_GETTEXTLENGTHEX, WPARAM(&length), 0);
    if (n <= 0) return {};
    std::wstring text(size_t(n) + 1, L'\0');
    GETTEXTEX get = {};
    get.cb = DWORD(text.size() * sizeof(wchar_t));
    get.flags = GT_USECRLF;
    get.codepage = 1200;
    LRESULT got = ::SendMessageW(editor, EM_GETTEXTEX, WPARAM(&get), LPARAM(text.data()));
    text.resize(size_t(std::max<LRESULT>(got, 0)));
    return text;
  }

  // Text typed or appended after a coloured text starts in the default
  // colour again.
  void PlainFormat(WPARAM which) {
    CHARFORMAT2W format = {};
    format.cbSize = sizeof(format);
    format.dwMask = CFM_COLOR | CFM_BOLD;
    format.dwEffects = CFE_AUTOCOLOR;
    ::SendMessageW(editor, EM_SETCHARFORMAT, which, LPARAM(&format));
  }

  // A new, empty editor control in the dialog.
  HWND NewEditor() {
    HWND e = ::CreateWindowExW(WS_EX_CLIENTEDGE, RICHEDIT_CLASSW, L"",
                               WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                                   ES_WANTRETURN | ES_NOHIDESEL,
                               0, 0, 0, 0, window, reinterpret_cast<HMENU>(kEditorId), instance,
                               nullptr);
    if (e == nullptr) throw std::runtime_error("Cannot create the import dialog");
    ::SendMessageW(e, EM_SETTEXTMODE, TM_RICHTEXT | TM_MULTILEVELUNDO, 0);
    ::SendMessageW(e, WM_SETFONT, WPARAM(editor_font), FALSE);
    ::SendMessageW(e, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
    return e;
  }

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
};

LRESULT CALLBACK Win32View::Impl::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lp);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
  }
  Impl* self = From(hwnd);
  if (self == nullptr) return ::DefWindowProcW(hwnd, msg, wp, lp);
  switch (msg) {
    case WM_SIZE:
      if (self->panel) self->Layout();
      return 0;
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED) {
        switch (LOWORD(wp)) {
          case kGetId:
            self->Dispatch(DialogEvent::kGetClick);
            return 0;
          case kExecuteId:
            if (::IsWindowEnabled(self->execute)) self->Dispatch(DialogEvent::kExecuteClick);
            return 0;
          case kCloseId:
            self->Dispatch(DialogEvent::kCloseClick);
            return 0;
        }
      }
      break;
    case WM_DRAWITEM:
      self->DrawButton(*reinterpret_cast<DRAWITEMSTRUCT*>(lp));
      return TRUE;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lp);
      if (header->hwndFrom == self->status && header->code == UINT(NM_DBLCLK)) {
        self->Dispatch(DialogEvent::kStatusBarDblClick);
      }
      return 0;
    }
    case WM_CLOSE:
      // The close box acts as "Zamknij"; the window itself goes with the view.
      self->Dispatch(DialogEvent::kCloseClick);
      return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// Panel1: hands its buttons' notices to the dialog and reports a double
// click outside them.
LRESULT CALLBACK Win32View::Impl::PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lp);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
  }
  Impl* self = From(hwnd);
  if (self != nullptr) {
    switch (msg) {
      case WM_COMMAND:
      case WM_DRAWITEM:
        return ::SendMessageW(self->window, msg, wp, lp);
      case WM_LBUTTONDBLCLK:
        self->Dispatch(DialogEvent::kPanelDblClick);
        return 0;
    }
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// The buttons' own procedure plus the hover colour.
LRESULT CALLBACK Win32View::Impl::ButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Impl* self = From(hwnd);
  if (msg == WM_MOUSEMOVE && self->hot != hwnd) {
    if (self->hot) ::InvalidateRect(self->hot, nullptr, FALSE);
    self->hot = hwnd;
    TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, hwnd, 0};
    ::TrackMouseEvent(&track);
    ::InvalidateRect(hwnd, nullptr, FALSE);
  } else if (msg == WM_MOUSELEAVE && self->hot == hwnd) {
    self->hot = nullptr;
    ::InvalidateRect(hwnd, nullptr, FALSE);
  }
  return ::CallWindowProcW(self->button_proc, hwnd, msg, wp, lp);
}

Win32View::Win32View() : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);
  d.richedit = ::LoadLibraryW(L"riched20.dll");
  if (d.richedit == nullptr)
    throw std::runtime_error("Cannot load the editor control (riched20.dll)");

  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = Impl::WindowProc;
  window_class.hInstance = d.instance;
  window_class.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kWin32DialogClass;
  ::RegisterClassExW(&window_class);  // fails harmlessly when registered already
  window_class.lpfnWndProc = Impl::PanelProc;
  window_class.style = CS_DBLCLKS;
  window_class.lpszClassName = kWin32PanelClass;
  ::RegisterClassExW(&window_class);

  d.font = MakeFont(Form::kFontName, Form::kFontPoints, false);
  d.button_font = MakeFont(Form::kFontName, Form::kFontPoints, true);
  d.editor_font = MakeFont(Form::kEditorFontName, Form::kEditorFontPoints, false);
  d.frame_brush = ::CreateSolidBrush(kButtonFrame);

  DWORD style = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN;
  RECT frame = {0, 0, Form::kClientWidth, Form::kClientHeight};
  ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
  d.window =
      ::CreateWindowExW(WS_EX_DLGMODALFRAME, kWin32DialogClass, Wide(Form::kCaption).c_str(), style,
                        Form::kLeft, Form::kTop, frame.right - frame.left, frame.bottom - frame.top,
                        ::GetActiveWindow(), nullptr, d.instance, &d);
  if (d.window == nullptr) throw std::runtime_error("Cannot create the import dialog");

  d.editor = d.NewEditor();
  d.panel = ::CreateWindowExW(0, kWin32PanelClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0,
                              0, 0, 0, d.window, nullptr, d.instance, &d);
  d.status = ::CreateWindowExW(0, STATUSCLASSNAMEW, L"",
                               WS_CHILD | WS_VISIBLE | CCS_NORESIZE | CCS_NOPARENTALIGN, 0, 0, 0, 0,
                               d.window, reinterpret_cast<HMENU>(kStatusId), d.instance, nullptr);
  if (!d.editor || !d.panel || !d.status)
    throw std::runtime_error("Cannot create the import dialog");

  auto button = [&](std::string_view caption, const ControlBox& box, int id) {
    HWND b = ::CreateWindowExW(0, L"BUTTON", Wide(caption).c_str(),
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, box.left, box.top,
                               box.width, box.height, d.panel, reinterpret_cast<HMENU>(INT_PTR(id)),
                               d.instance, nullptr);
    if (!b) throw std::runtime_error("Cannot create the import dialog");
    ::SendMessageW(b, WM_SETFONT, WPARAM(d.button_font), FALSE);
    ::SetWindowLongPtrW(b, GWLP_USERDATA, LONG_PTR(&d));
    d.button_proc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(b, GWLP_WNDPROC, LONG_PTR(&Impl::ButtonProc)));
    return b;
  };
  d.get = button(Form::kGetCaption, Form::kGetBox, kGetId);
  d.execute = button(Form::kExecuteCaption, Form::kExecuteBox, kExecuteId);
  d.close = button(Form::kCloseCaption, Form::kCloseBox, kCloseId);
  ::EnableWindow(d.execute, FALSE);

  ::SendMessageW(d.window, WM_SETFONT, WPARAM(d.font), FALSE);
  ::SendMessageW(d.status, WM_SETFONT, WPARAM(d.font), FALSE);
  int whole_width = -1;  // one part across the bar: its text is the bar's text
  ::SendMessageW(d.status, SB_SETPARTS, 1, LPARAM(&whole_width));
  d.Layout();
}

Win32View::~Win32View() {
  Impl& d = *impl_;
  if (d.window) ::DestroyWindow(d.window);
  // The classes go with the view: a library unloaded and loaded again must
  // not find them pointing at its old code.
  ::UnregisterClassW(kWin32PanelClass, d.instance);
  ::UnregisterClassW(kWin32DialogClass, d.instance);
  for (HGDIOBJ o :
       {HGDIOBJ(d.font), HGDIOBJ(d.button_font), HGDIOBJ(d.editor_font), HGDIOBJ(d.frame_brush)}) {
    if (o) ::DeleteObject(o);
  }
  if (d.richedit) ::FreeLibrary(d.richedit);
}

void Win32View::SetEditorText(std::string_view text) {
  Impl& d = *impl_;
  // The control holds the lines without a break after the last one.
  EditorLines lines;
  lines.SetText(text);
  std::string_view whole = lines.Text();
  if (whole.size() >= 2) whole.remove_suffix(2);
  std::wstring wide = Wide(whole);
  // A new control takes the new text: some RichEdit implementations take time
  // that grows with the square of the old text's size to delete it, and the
  // old text (an answer of many thousand lines) goes anyway, with its undo
  // history.
  HWND old = d.editor;
  bool focused = ::GetFocus() == old;
  d.editor = d.NewEditor();
  ::SetWindowPos(d.editor, old, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ::DestroyWindow(old);
  d.Layout();
  if (focused) ::SetFocus(d.editor);
  if (wide.size() <= kColourLimit) {
    std::string rtf =
        SqlRtf(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
    SETTEXTEX set = {ST_DEFAULT, CP_ACP};
    ::SendMessageW(d.editor, EM_SETTEXTEX, WPARAM(&set), LPARAM(rtf.c_str()));
  } else {
    ::SendMessageW(d.editor, WM_SETTEXT, 0, LPARAM(wide.c_str()));
  }
  d.PlainFormat(SCF_SELECTION);
  ::SendMessageW(d.editor, EM_SETMODIFY, FALSE, 0);
}

void Win32View::ClearEditor() { SetEditorText(""); }

void Win32View::AppendEditorLine(std::string_view line) {
  Impl& d = *impl_;
  GETTEXTLENGTHEX length = {GTL_PRECISE | GTL_NUMCHARS, 1200};
  LRESULT end = ::SendMessageW(d.editor, EM_GETTEXTLENGTHEX, WPARAM(&length), 0);
  std::wstring add = (end > 0 ? L"\r\n" : L"") + Wide(line);
  ::SendMessageW(d.editor, EM_SETSEL, end, end);
  d.PlainFormat(SCF_SELECTION);
  ::SendMessageW(d.editor, EM_REPLACESEL, FALSE, LPARAM(add.c_str()));
  ::SendMessageW(d.editor, EM_SCROLLCARET, 0, 0);
}

std::string Win32View::EditorText() const {
  EditorLines lines;
  lines.SetText(Narrow(impl_->EditorWide()));
  return lines.Text();
}

void Win32View::SetStatusText(std::string_view text) {
  Impl& d = *impl_;
  d.status_text = text;
  ::SendMessageW(d.status, SB_SETTEXTW, 0, LPARAM(Wide(text).c_str()));
  ::UpdateWindow(d.status);
}

std::string Win32View::StatusText() const { return impl_->status_text; }

void Win32View::SetExecuteEnabled(bool enabled) {
  ::EnableWindow(impl_->execute, enabled ? TRUE : FALSE);
  ::UpdateWindow(impl_->execute);
}

bool Win32View::ExecuteEnabled() const { return ::IsWindowEnabled(impl_->execute) != FALSE; }

void Win32View::ShowError(std::string_view message) { ShowWin32ErrorBox(message, impl_->window); }

void Win32View::RunModal(DialogEventSink& events) {
  Impl& d = *impl_;
  d.events = &events;
  d.closed = false;
  // Like a dialog box: the thread's other top-level windows take no input
  // while the dialog runs.
  DisabledWindows disabled{d.window, {}};
  ::EnumThreadWindows(::GetCurrentThreadId(), DisableOther, LPARAM(&disabled));

  ::ShowWindow(d.window, SW_SHOW);
  ::SetForegroundWindow(d.window);
  ::UpdateWindow(d.window);
  d.Dispatch(DialogEvent::kShow);
  MSG msg;
  while (!d.closed) {
    BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      // WM_QUIT belongs to the host's own loop
      if (got == 0) ::PostQuitMessage(int(msg.wParam));
      break;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  d.closed = true;
  // Enable the owners before hiding, so that activation returns to them.
  for (HWND hwnd : disabled.windows) ::EnableWindow(hwnd, TRUE);
  ::ShowWindow(d.window, SW_HIDE);
  d.events = nullptr;
}

void Win32View::Close() {
  Impl& d = *impl_;
  if (d.closed) return;
  d.closed = true;
  ::PostMessageW(d.window, WM_NULL, 0, 0);  // wakes the loop
}

void ShowWin32ErrorBox(std::string_view message, void* owner) {
  ::MessageBoxW(static_cast<HWND>(owner), Wide(message).c_str(), L"downsql", MB_OK | MB_ICONERROR);
}

}  // namespace downsql::ui
