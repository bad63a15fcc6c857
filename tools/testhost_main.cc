// testhost: a small Windows host program for downsql.dll.
//
//   testhost DLL DIRECTORY [SCREENSHOT.bmp]
//
// Loads the library as the host program does, builds its host strings
// (reference count and length before the text), opens a top-level window of
// its own and calls DoUpdate with DIRECTORY as argument 8 on its main
// thread. A second thread drives the dialog the way a person would: it finds
// the window by its caption, reads the editor and the status bar with
// WM_GETTEXT, clicks "Pobierz", "Wykonaj" and at the end "Zamknij" with
// BM_CLICK, double-clicks the button strip and the status bar, answers
// every error box with OK, and prints what it saw (UTF-8) on standard
// output. With SCREENSHOT, the dialog as it stands after the import is
// saved there as a 24-bit BMP.
//
// Exit status: 0 when the run went through without an error box, 1 when an
// error box came up, 2 on a usage or loading error, 3 when the dialog did
// not appear or a command did not finish in time.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ui/dialog_form.h"
#include "ui/win32/win32_view.h"

namespace {

using DoUpdateFn = void(__stdcall*)(uint32_t, int32_t, int32_t, const char*, const char*,
                                    const char*, uint32_t, const char*, const char*);

constexpr DWORD kAppearTimeoutMs = 120000;
constexpr DWORD kCommandTimeoutMs = 600000;

// A host string: reference count, character count, the characters, NUL.
class HostString {
 public:
  explicit HostString(const std::string& text, int32_t refcount = -1)
      : block_(8 + text.size() + 1, '\0') {
    int32_t length = int32_t(text.size());
    std::memcpy(block_.data(), &refcount, 4);
    std::memcpy(block_.data() + 4, &length, 4);
    std::memcpy(block_.data() + 8, text.data(), text.size());
  }
  const char* text() const { return block_.data() + 8; }
  const std::vector<char>& block() const { return block_; }

 private:
  std::vector<char> block_;
};

std::wstring FromCodePage(std::string_view text, UINT code_page) {
  if (text.empty()) return {};
  int n = ::MultiByteToWideChar(code_page, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(size_t(n), L'\0');
  ::MultiByteToWideChar(code_page, 0, text.data(), int(text.size()), wide.data(), n);
  return wide;
}

std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr,
                                nullptr);
  std::string out(size_t(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& why, int status) {
  Print("testhost: " + why);
  ::ExitProcess(UINT(status));
}

// WM_GETTEXT through the window's own thread.
std::wstring WindowText(HWND hwnd) {
  DWORD_PTR length = 0;
  ::SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kCommandTimeoutMs, &length);
  std::wstring text(length + 1, L'\0');
  DWORD_PTR got = 0;
  ::SendMessageTimeoutW(hwnd, WM_GETTEXT, WPARAM(text.size()), LPARAM(text.data()), SMTO_NORMAL,
                        kCommandTimeoutMs, &got);
  text.resize(got);
  return text;
}

std::vector<std::string> Lines(const std::wstring& text) {
  std::vector<std::string> lines;
  std::wstring line;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == L'\r' || text[i] == L'\n') {
      if (i < text.size() || !line.empty()) lines.push_back(Utf8(line));
      line.clear();
      if (i + 1 < text.size() && text[i] == L'\r' && text[i + 1] == L'\n') ++i;
    } else {
      line += text[i];
    }
  }
  return lines;
}

struct Dialog {
  HWND window = nullptr, panel = nullptr, editor = nullptr, status = nullptr;
  HWND get = nullptr, execute = nullptr, close = nullptr;
};

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lp) {
  auto* d = reinterpret_cast<Dialog*>(lp);
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  std::wstring cls = name;
  if (cls == downsql::ui::kWin32PanelClass) {
    d->panel = hwnd;
  } else if (cls == L"RichEdit20W") {
    d->editor = hwnd;
  } else if (cls == L"msctls_statusbar32") {
    d->status = hwnd;
  } else if (_wcsicmp(name, L"Button") == 0) {
    std::string caption = Utf8(WindowText(hwnd));
    if (caption == "Pobierz") d->get = hwnd;
    if (caption == "Wykonaj") d->execute = hwnd;
    if (caption == "Zamknij") d->close = hwnd;
  }
  return TRUE;
}

// The error boxes that the dialog's thread shows.
struct ErrorBoxSearch {
  HWND box = nullptr;
};

BOOL CALLBACK FindErrorBox(HWND hwnd, LPARAM lp) {
  wchar_t name[16] = {};
  ::GetClassNameW(hwnd, name, 16);
  if (std::wcscmp(name, L"#32770") == 0 && ::IsWindowVisible(hwnd)) {
    reinterpret_cast<ErrorBoxSearch*>(lp)->box = hwnd;
    return FALSE;
  }
  return TRUE;
}

struct Driver {
  DWORD ui_thread = 0;
  HWND host_window = nullptr;
  std::string screenshot;
  Dialog d;
  int error_boxes = 0;

  // Reads and answers an error box of the dialog's thread, if one is up.
  bool AnswerErrorBox() {
    ErrorBoxSearch search;
    ::EnumThreadWindows(ui_thread, FindErrorBox, LPARAM(&search));
    if (search.box == nullptr) return false;
    ++error_boxes;
    HWND text = ::GetDlgItem(search.box, 0xFFFF);
    Print("error box: " + Utf8(text ? WindowText(text) : L"?"));
    ::PostMessageW(search.box, WM_COMMAND, IDOK, 0);
    return true;
  }

  // Sends message to hwnd from a helper thread and waits for it to come
  // back, answering error boxes meanwhile: a click returns only after its
  // handler has run (and after an error box it raised was closed).
  void SendAndWait(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
    std::atomic<bool> done = false;
    std::thread sender([&] {
      DWORD_PTR result = 0;
      ::SendMessageTimeoutW(hwnd, message, wp, lp, SMTO_NORMAL, kCommandTimeoutMs, &result);
      done = true;
    });
    for (DWORD waited = 0; !done; waited += 50) {
      if (waited > kCommandTimeoutMs) Fail("a command did not finish in time", 3);
      ::Sleep(50);
      AnswerErrorBox();
    }
    sender.join();
  }

  void Click(HWND button, const char* name) {
    Print(std::string("== click ") + name);
    SendAndWait(button, BM_CLICK, 0, 0);
  }

  void DoubleClick(HWND hwnd, const char* name) {
    Print(std::string("== double click ") + name);
    RECT rc;
    ::GetClientRect(hwnd, &rc);
    // right of the buttons on the strip; anywhere on the status bar
    LPARAM at = MAKELPARAM(rc.right - 130, rc.bottom / 2);
    SendAndWait(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendAndWait(hwnd, WM_LBUTTONUP, 0, at);
    SendAndWait(hwnd, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    SendAndWait(hwnd, WM_LBUTTONUP, 0, at);
  }

  // The dialog may replace its editor control with a new one.
  HWND Editor() {
    Dialog now;
    ::EnumChildWindows(d.window, CollectChild, LPARAM(&now));
    return now.editor;
  }

  void ShowEditor(size_t head, size_t tail) {
    std::vector<std::string> lines = Lines(WindowText(Editor()));
    Print("editor: " + std::to_string(lines.size()) + " lines");
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i < head || i + tail >= lines.size()) {
        Print("| " + lines[i]);
      } else if (i == head) {
        Print("| ...");
      }
    }
  }

  void ShowState() {
    Print("status: " + Utf8(WindowText(d.status)));
    Print(std::string("Wykonaj: ") + (::IsWindowEnabled(d.execute) ? "enabled" : "disabled"));
  }

  void SaveScreenshot() {
    RECT rc;
    ::GetWindowRect(d.window, &rc);
    int width = rc.right - rc.left, height = rc.bottom - rc.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, rc.left, rc.top, SRCCOPY);
    ::GdiFlush();
    DWORD stride = DWORD((width * 3 + 3) & ~3), size = stride * DWORD(height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
    file.bfSize = file.bfOffBits + size;
    info.bmiHeader.biSizeImage = size;
    if (FILE* out = std::fopen(screenshot.c_str(), "wb")) {
      std::fwrite(&file, sizeof(file), 1, out);
      std::fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out);
      std::fwrite(bits, 1, size, out);
      std::fclose(out);
      Print("screenshot: " + std::to_string(width) + "x" + std::to_string(height) + " " +
            screenshot);
    } else {
      Print("screenshot: cannot write " + screenshot);
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
  }

  void Run() {
    std::wstring caption = FromCodePage(downsql::ui::ImportDialogForm::kCaption, 1250);
    for (DWORD waited = 0; d.window == nullptr; waited += 50) {
      if (waited > kAppearTimeoutMs) Fail("the dialog did not appear", 3);
      ::Sleep(50);
      d.window = ::FindWindowW(nullptr, caption.c_str());
    }
    // The dialog is up; its first handler fills the editor. A message sent
    // now comes back once the thread waits for input again.
    SendAndWait(d.window, WM_NULL, 0, 0);
    ::EnumChildWindows(d.window, CollectChild, LPARAM(&d));
    if (!d.panel || !d.editor || !d.status || !d.get || !d.execute || !d.close) {
      Fail("the dialog lacks a control", 3);
    }
    Print("dialog: " + Utf8(WindowText(d.window)));
    RECT client;
    ::GetClientRect(d.window, &client);
    Print("client area: " + std::to_string(client.right) + "x" + std::to_string(client.bottom));
    Print(std::string("host window while the dialog runs: ") +
          (::IsWindowEnabled(host_window) ? "enabled" : "disabled"));
    ShowEditor(100, 0);
    ShowState();

    Click(d.get, "Pobierz");
    ShowEditor(20, 3);
    ShowState();

    Click(d.execute, "Wykonaj");
    ShowEditor(100, 0);
    ShowState();
    if (!screenshot.empty()) {
      ::Sleep(300);
      SaveScreenshot();
    }

    DoubleClick(d.panel, "the button strip");
    ShowState();
    DoubleClick(d.status, "the status bar");
    std::vector<std::string> lines = Lines(WindowText(Editor()));
    Print("last editor line: " + (lines.empty() ? std::string() : lines.back()));

    Click(d.close, "Zamknij");
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    Print("usage: testhost DLL DIRECTORY [SCREENSHOT.bmp]");
    return 2;
  }
  HMODULE library = ::LoadLibraryA(argv[1]);
  if (library == nullptr) Fail("cannot load " + std::string(argv[1]), 2);
  auto do_update =
      reinterpret_cast<DoUpdateFn>(reinterpret_cast<void*>(::GetProcAddress(library, "DoUpdate")));
  if (do_update == nullptr) Fail("no DoUpdate in " + std::string(argv[1]), 2);

  // The host's own main window, which the modal dialog disables.
  HWND host_window = ::CreateWindowExW(0, L"STATIC", L"testhost", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                       100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  ::ShowWindow(host_window, SW_SHOWNOACTIVATE);

  Driver driver;
  driver.ui_thread = ::GetCurrentThreadId();
  driver.host_window = host_window;
  if (argc > 3) driver.screenshot = argv[3];
  std::thread thread([&driver] { driver.Run(); });

  HostString a4("four"), a5(""), a6("six"), directory(argv[2]), a9("nine");
  std::vector<std::vector<char>> before = {a4.block(), a5.block(), a6.block(), directory.block(),
                                           a9.block()};
  do_update(0xDEADBEEF, -1, 7, a4.text(), a5.text(), a6.text(), 0xFFFFFF01u, directory.text(),
            a9.text());
  std::vector<std::vector<char>> after = {a4.block(), a5.block(), a6.block(), directory.block(),
                                          a9.block()};
  thread.join();
  Print("DoUpdate returned");
  Print(std::string("host strings: ") + (before == after ? "unchanged" : "CHANGED"));
  Print(std::string("host window after the dialog: ") +
        (::IsWindowEnabled(host_window) ? "enabled" : "disabled"));
  ::DestroyWindow(host_window);
  Print(std::string("FreeLibrary: ") + (::FreeLibrary(library) ? "ok" : "failed"));
  return driver.error_boxes > 0 ? 1 : 0;
}
