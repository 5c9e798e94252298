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
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                           kTextTimeoutMs, &copied)) {
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
  // The window manager narrows the search by class and stored title first, without asking
  // every window of the desktop for its text; the exact text and owner are checked after.
  const wchar_t* classFilter = className.empty() ? nullptr : className.c_str();
  for (HWND window = FindWindowExW(nullptr, nullptr, classFilter, title.c_str()); window;
       window = FindWindowExW(nullptr, window, classFilter, title.c_str())) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (pid != 0 && owner != pid) continue;
    if (TextOf(window) == title) return window;
  }
  return nullptr;
}

bool Press(HWND button) { return PostMessageW(button, BM_CLICK, 0, 0) != FALSE; }

int ListItemCount(HWND list) {
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &count)) return 0;
  return static_cast<int>(count);
}

int ListRowsPerPage(HWND list) {
  DWORD_PTR rows = 0;
  if (!SendMessageTimeoutW(list, LVM_GETCOUNTPERPAGE, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &rows)) return 0;
  return static_cast<int>(rows);
}

int ProgressPosition(HWND bar) {
  DWORD_PTR position = 0;
  if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &position)) return -1;
  return static_cast<int>(position);
}

RemoteListReader::RemoteListReader(HWND list) : list_(list) {
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  process_.Reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
  if (!process_) return;
  remote_ = VirtualAllocEx(process_.Get(), nullptr, sizeof(LVITEMW) + kTextChars * sizeof(wchar_t),
                           MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

RemoteListReader::~RemoteListReader() {
  if (remote_) VirtualFreeEx(process_.Get(), remote_, 0, MEM_RELEASE);
}

std::wstring RemoteListReader::CellText(int row, int column) {
  if (!remote_) return std::wstring();
  wchar_t* remoteText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote_) + sizeof(LVITEMW));
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = remoteText;
  item.cchTextMax = kTextChars;
  if (!WriteProcessMemory(process_.Get(), remote_, &item, sizeof item, nullptr)) return std::wstring();
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote_),
                           SMTO_ABORTIFHUNG, kTextTimeoutMs, &length)) {
    return std::wstring();
  }
  if (length == 0) return std::wstring();
  std::wstring text(length < kTextChars ? static_cast<size_t>(length) : kTextChars - 1, L'\0');
  if (!ReadProcessMemory(process_.Get(), remoteText, text.data(), text.size() * sizeof(wchar_t), nullptr)) {
    return std::wstring();
  }
  return text;
}

int TextLinesOnScreen(HWND window, int skipTop) {
  RECT client{};
  if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= skipTop) return -1;
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  const int width = client.right, height = client.bottom;
  HDC screen = GetDC(nullptr);
  if (!screen) return -1;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const bool copied = BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY) != FALSE;
  GdiFlush();
  int lines = 0;
  bool inLine = false;
  for (int y = skipTop; copied && y < height; ++y) {
    int dark = 0;
    for (int x = 0; x < width; ++x) {
      const uint32_t p = static_cast<const uint32_t*>(bits)[static_cast<size_t>(y) * width + x];
      dark += ((p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF)) < 3 * 110 ? 1 : 0;
    }
    if (dark > 2 && !inLine) ++lines;
    inLine = dark > 2;
  }
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(bitmap);
  ReleaseDC(nullptr, screen);
  return copied ? lines : -1;
}

}  // namespace probe
