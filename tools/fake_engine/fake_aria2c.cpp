// Stand-in for the engine program in launch tests: built as aria2c.exe into a folder of its
// own. It appends "<process id> TAB <command line>" (UTF-8, CR LF) to launches.txt beside
// itself, and "<process id> TAB <1 when it has a console window, else 0>" to consoles.txt,
// and then stays until the process named by --stop-with-process ends (at most five
// minutes), so that a launch finds it running and the next launch has a leftover to end.
#include <windows.h>

#include <string>

#include "runtime/win_handles.h"

namespace {

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

void AppendLine(const wchar_t* fileName, const std::wstring& text) {
  const std::wstring line = std::to_wstring(GetCurrentProcessId()) + L"\t" + text + L"\r\n";
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(), bytes, nullptr, nullptr);
  // Several stand-ins never run at once, but a test may read while one writes: append whole lines.
  UniqueHandle file(CreateFileW((OwnFolder() + fileName).c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

DWORD WatchedProcessId(const std::wstring& commandLine) {
  const std::wstring option = L"--stop-with-process=";
  const size_t at = commandLine.find(option);
  if (at == std::wstring::npos) return 0;
  return static_cast<DWORD>(wcstoul(commandLine.c_str() + at + option.size(), nullptr, 10));
}

}  // namespace

int wmain() {
  const std::wstring commandLine = GetCommandLineW();
  AppendLine(L"consoles.txt", GetConsoleWindow() ? L"1" : L"0");
  AppendLine(L"launches.txt", commandLine);
  constexpr DWORD kLongestStay = 5 * 60 * 1000;
  UniqueHandle watched(OpenProcess(SYNCHRONIZE, FALSE, WatchedProcessId(commandLine)));
  if (watched) {
    WaitForSingleObject(watched.Get(), kLongestStay);
  } else {
    Sleep(kLongestStay);
  }
  return 0;
}
