// Looking at and pressing the windows of another program the way a person would: by title,
// class and caption, with clicks posted to a button. Nothing here needs the other program's
// cooperation. Any thread; the calls never block longer than kTextTimeoutMs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "runtime/win_handles.h"

namespace probe {

// A window that does not answer within this time is read from its stored caption instead.
constexpr UINT kTextTimeoutMs = 1000;

// The text of any window: WM_GETTEXT (which also reads an edit control's contents across
// processes), or the stored caption when the owner is busy.
std::wstring TextOf(HWND window);
// Lower-cased platform class name ("button", "edit", "syslistview32", "#32770").
std::wstring ClassOf(HWND window);

// Descendants of parent (all levels) whose class equals className (any case; empty: any)
// and whose text equals text (empty: any), in the platform's order.
std::vector<HWND> FindDescendants(HWND parent, const std::wstring& className, const std::wstring& text);
// The first such descendant, or null.
HWND FindDescendant(HWND parent, const std::wstring& className, const std::wstring& text);
// A top-level window of process pid with that class and title, or null. pid 0: any process.
HWND FindTopLevel(DWORD pid, const std::wstring& className, const std::wstring& title);

// Presses a button: the platform turns BM_CLICK into a press and release over the button,
// so its owner sees an ordinary click. Posted, because the owner's handler may run for
// minutes. False when the message could not be posted.
bool Press(HWND button);

// Items of a list-view control, 0 when it does not answer.
int ListItemCount(HWND list);
// Rows a list-view control shows whole without scrolling, 0 when it does not answer.
int ListRowsPerPage(HWND list);
// Position of a progress bar, -1 when it does not answer.
int ProgressPosition(HWND bar);

// Reads the cells of a list-view control of another process. The platform carries no
// list-view item across processes, so the item and its text buffer live in the owner's
// address space for the reader's lifetime. One thread at a time.
class RemoteListReader {
 public:
  explicit RemoteListReader(HWND list);
  ~RemoteListReader();
  RemoteListReader(const RemoteListReader&) = delete;
  RemoteListReader& operator=(const RemoteListReader&) = delete;

  // False when the owner's memory could not be reached.
  bool Ready() const { return remote_ != nullptr; }
  // The cell's text; empty when it is empty or cannot be read.
  std::wstring CellText(int row, int column);

 private:
  static constexpr int kTextChars = 1024;
  HWND list_;
  UniqueHandle process_;
  void* remote_ = nullptr;
};

// Lines of text on screen in a window's client area below its top skipTop pixels: runs of
// pixel rows holding dark pixels, taken from the screen as this process's display driver has
// it. -1 when the screen cannot be read.
int TextLinesOnScreen(HWND window, int skipTop);

}  // namespace probe
