#include "app/single_instance.h"

#include <cstdint>
#include <cwchar>
#include <iterator>
#include <string>

#include "engine/engine_process.h"

namespace {

constexpr wchar_t kLockPrefix[] = L"Local\\BrinemarchDownloader-";

bool SamePath(CWTextRef a, CWTextRef b) {
  return CompareStringOrdinal(a.Chars(), static_cast<int>(a.Length()), b.Chars(), static_cast<int>(b.Length()), TRUE) ==
         CSTR_EQUAL;
}

struct WindowSearch {
  CWString exePath;
  HWND found = nullptr;
};

BOOL CALLBACK TakeFirstForm(HWND window, LPARAM parameter) {
  auto& search = *reinterpret_cast<WindowSearch*>(parameter);
  wchar_t className[64] = {};
  GetClassNameW(window, className, static_cast<int>(std::size(className)));
  if (std::wstring(className) != L"KelWinForm") return TRUE;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId == GetCurrentProcessId()) return TRUE;
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!SamePath(ProcessImagePath(process.Get()), search.exePath)) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace

CWString InstanceLockName(CWTextRef exePath) {
  std::wstring folder(exePath.Chars(), static_cast<size_t>(exePath.Length()));
  folder = folder.substr(0, folder.find_last_of(L'\\') == std::wstring::npos ? 0 : folder.find_last_of(L'\\'));
  // Upper case by the system's table, as the file system folds names; a lock name may not
  // hold backslashes, so the folder goes in as a hash.
  if (!folder.empty()) CharUpperBuffW(folder.data(), static_cast<DWORD>(folder.size()));
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (wchar_t unit : folder) {
    hash = (hash ^ static_cast<uint16_t>(unit)) * 1099511628211ull;
  }
  CWString name(kLockPrefix);
  wchar_t digits[17];
  swprintf(digits, std::size(digits), L"%016llx", static_cast<unsigned long long>(hash));
  name.Append(digits);
  return name;
}

bool ProgramInstanceLock::Acquire(CWTextRef exePath) {
  const CWString name = InstanceLockName(exePath);
  UniqueHandle mutex(CreateMutexW(nullptr, FALSE, name.GetText()));
  const DWORD error = GetLastError();
  if (!mutex || error == ERROR_ALREADY_EXISTS) return false;
  mutex_ = std::move(mutex);
  return true;
}

HWND FindInstanceWindow(CWTextRef exePath, DWORD waitMs) {
  WindowSearch search{CWString(exePath)};
  const ULONGLONG deadline = GetTickCount64() + waitMs;
  for (;;) {
    EnumWindows(&TakeFirstForm, reinterpret_cast<LPARAM>(&search));
    if (search.found || GetTickCount64() >= deadline) return search.found;
    Sleep(100);
  }
}

void BringToFront(HWND window) {
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(window);
}
