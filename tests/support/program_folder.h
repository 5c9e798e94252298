// Where the running test program lives, for the files built beside it (the engine, the
// stand-ins, the test data). Any thread.
#pragma once

#include <windows.h>

#include <string>

// The folder of the test program's file, with its trailing backslash.
inline std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}
