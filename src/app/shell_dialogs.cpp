#include "app/shell_dialogs.h"

#include <objbase.h>
#include <shlobj.h>

#include "runtime/win_handles.h"

CWString BrowseForFolderPath(HWND owner, CWTextRef title, UINT flags) {
  const CWString caption(title);
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.lpszTitle = caption.GetText();
  info.ulFlags = flags;
  UniqueIdList chosen(SHBrowseForFolderW(&info));
  CWString path;
  if (!chosen) return path;
  wchar_t buffer[MAX_PATH] = {};
  if (SHGetPathFromIDListW(chosen.Get(), buffer)) path.Assign(buffer);
  return path;
}

int MessageBoxKeepingFocus(HWND owner, CWTextRef text, CWTextRef caption, UINT type) {
  HWND focus = GetFocus();
  const CWString message(text);
  const CWString title(caption);
  const int answer = MessageBoxW(owner, message.GetText(), title.GetText(), type);
  if (focus && IsWindow(focus)) SetFocus(focus);
  return answer;
}
