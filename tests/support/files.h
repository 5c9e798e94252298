// Whole-file reads and writes for the test programs. Reads share the file with every other
// opener, so a file the engine or the program still holds can be checked. Any thread.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "runtime/win_handles.h"

// The file's bytes; false (bytes unchanged) when it cannot be opened.
inline bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
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

// Creates or replaces the file with exactly these bytes.
inline bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

// Opens the file as a program that shares it with nobody would (a scanner, a backup): while
// the handle lives, nobody else opens, moves or deletes it. Empty when it cannot be opened.
inline UniqueHandle HoldOpen(const std::wstring& path) {
  return UniqueHandle(
      CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}
