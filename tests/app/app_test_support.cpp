#include "app_test_support.h"

#include "build_config.h"
#include "net/http.h"
#include "runtime/win_handles.h"

int32_t TestMainWindow::StartDownloadEngine() {
  ++engineStarts;
  return engineStarted_ == kRealEngine ? rg_my_main_window::StartDownloadEngine() : engineStarted_;
}

CWString TestMainWindow::BrowseForFolder(CWTextRef title) {
  browseTitles.push_back(CWString(title).ToStdString());
  return CWString(browseResult);
}

int TestMainWindow::ShowMessageBox(CWTextRef text, CWTextRef caption, UINT type) {
  boxes.push_back(Box{CWString(text).ToStdString(), CWString(caption).ToStdString(), type});
  return IDOK;
}

void Click(const rg_my_main_window& window, const CKelWinControl& control) {
  SendMessageW(window.GetHwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control.GetHwnd()), BN_CLICKED),
               reinterpret_cast<LPARAM>(control.GetHwnd()));
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

RECT RectInParent(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring EnvironmentText(const wchar_t* name) {
  wchar_t value[1024] = {};
  const DWORD n = GetEnvironmentVariableW(name, value, 1024);
  return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring();
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::string read;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(file.Get(), buffer, sizeof buffer, &n, nullptr) && n > 0) read.append(buffer, n);
  bytes = std::move(read);
  return true;
}

LONG FontHeight(HFONT font) {
  LOGFONTW logFont{};
  if (!font || !GetObjectW(font, sizeof logFont, &logFont)) return 0;
  return logFont.lfHeight;
}

LONG PointsHeight(int points) {
  WindowDc screen(nullptr);
  return -MulDiv(GetDeviceCaps(screen.Get(), LOGPIXELSY), points, 72);
}

int32_t ControlEmulator(const wchar_t* json) {
  rg_WangLaoFangWenLei_n http;
  rg_WangYeFangWenXiangYingLei_n response;
  CWString cookies, headers;
  http.SendRequest(CWString(BRINEMARCH_LIST_ORIGIN) + L"/__control", http_method::kPost, CWString(json), CKelMem(),
                   CWString(L"Content-Type: application/json"), CWString(), 0, cookies, headers, CWString(),
                   CWString(), CWString(), 5000, 0, NoAcceptEncoding(), response);
  return response.statusCode;
}
