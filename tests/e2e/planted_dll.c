/* Stands for a DLL that a web page dropped into the folder the program was started from: when
   anything loads it, it notes so in planted_dll_loaded.txt beside itself and refuses to load. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 32];
  DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  while (length > 0 && path[length - 1] != L'\\') --length;
  lstrcpyW(path + length, L"planted_dll_loaded.txt");
  HANDLE note = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (note != INVALID_HANDLE_VALUE) CloseHandle(note);
  return FALSE;
}
