// Brinemarch.part1.exe, the stand-in for the game's installer: records its start in
// Brinemarch.part1.started.txt beside itself, shows a small window and closes after a few
// seconds or on request.
#include <windows.h>

#include <string>

#include "runtime/win_handles.h"

namespace {

constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kShownMs = 5000;
constexpr wchar_t kClassName[] = L"BrinemarchStandInInstaller";
constexpr wchar_t kMarkerName[] = L"Brinemarch.part1.started.txt";

std::wstring ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

bool WriteMarker() {
  std::wstring folder(MAX_PATH, L'\0');
  const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
  folder.resize(n < folder.size() ? n : 0);
  const std::string text = Utf8(std::wstring(GetCommandLineW()) + L"\r\n" + folder + L"\r\n");
  const std::wstring path = ProgramFolder() + kMarkerName;
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      if (wp == kCloseTimer) DestroyWindow(window);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT client;
      GetClientRect(window, &client);
      SetBkMode(dc, TRANSPARENT);
      SelectedObject font(dc, GetStockObject(DEFAULT_GUI_FONT));
      DrawTextW(dc, L"Brinemarch 安装程序 (stand-in)\n已启动，几秒后自动关闭。", -1, &client,
                DT_CENTER | DT_VCENTER | DT_WORDBREAK);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, msg, wp, lp);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  const bool recorded = WriteMarker();
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  if (!RegisterClassExW(&wc)) return 2;
  HWND window = CreateWindowExW(0, kClassName, L"Brinemarch 安装程序", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                CW_USEDEFAULT, CW_USEDEFAULT, 320, 140, nullptr, nullptr, instance, nullptr);
  if (!window) return 2;
  ShowWindow(window, show);
  SetTimer(window, kCloseTimer, kShownMs, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return recorded ? 0 : 1;
}
