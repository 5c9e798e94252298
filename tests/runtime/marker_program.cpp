// Started by the RunProgram tests: writes "<dwFlags> <wShowWindow>" of its start-up
// information to the file named by its only argument.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  // A quoted argument loses its quotes.
  wchar_t* path = commandLine;
  if (*path == L'"') {
    ++path;
    if (wchar_t* close = wcschr(path, L'"')) *close = 0;
  }
  FILE* file = _wfopen(path, L"wb");
  if (!file) return 1;
  fprintf(file, "%lu %u", static_cast<unsigned long>(startup.dwFlags & STARTF_USESHOWWINDOW),
          static_cast<unsigned>(startup.wShowWindow));
  return fclose(file) == 0 ? 0 : 1;
}
