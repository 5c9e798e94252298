#include "window_probe.h"

#include <commctrl.h>

namespace probe {
namespace {

std::wstring Lower(std::wstring text) {
  if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

struct Search {
  std::wstring className;  // lower case
  std::wstring text;
  std::vector<HWND> found;
};

bool Matches(HWND window, const Search& search) {
  if (!search.className.empty() && ClassOf(window) != search.className) return false;
  return search.text.empty() || TextOf(window) == search.text;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (Matches(window, *search)) search->found.push_back(window);
  return TRUE;
}

struct TopSearch {
  DWORD pid;
  std::wstring className;
  std::wstring title;
  HWND found = nullptr;
};

BOOL CALLBACK FindTop(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TopSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (search->pid != 0 && owner != search->pid) return TRUE;
  if (!search->className.empty() && ClassOf(window) != search->className) return TRUE;
  if (TextOf(window) != search->title) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &length)) {
    wchar_t stored[512];
    int n = InternalGetWindowText(window, stored, 512);
    return std::wstring(stored, n > 0 ? static_cast<size_t>(n) : 0);
  }
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, kTextTimeoutMs, &copied)) {
    return std::wstring();
  }
  text.resize(copied < text.size() ? static_cast<size_t>(copied) : text.size() - 1);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256];
  int n = GetClassNameW(window, name, 256);
  return Lower(std::wstring(name, n > 0 ? static_cast<size_t>(n) : 0));
}

std::vector<HWND> FindDescendants(HWND parent, const std::wstring& className, const std::wstring& text) {
  Search search{Lower(className), text, {}};
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindDescendant(HWND parent, const std::wstring& className, const std::wstring& text) {
  std::vector<HWND> found = FindDescendants(parent, className, text);
  return found.empty() ? nullptr : found.front();
}

HWND FindTopLevel(DWORD pid, const std::wstring& className, const std::wstring& title) {
  TopSearch search{pid, Lower(className), title};
  EnumWindows(FindTop, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool Press(HWND button) { return PostMessageW(button, BM_CLICK, 0, 0) != FALSE; }

int ListItemCount(HWND list) {
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &count)) return 0;
  return static_cast<int>(count);
}

int ProgressPosition(HWND bar) {
  DWORD_PTR position = 0;
  if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &position)) return -1;
  return static_cast<int>(position);
}

}  // namespace probe
