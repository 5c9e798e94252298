// Window objects over the platform's standard controls: push button, edit, progress bar and
// list view. Each adds the control's class name and the messages the toolkit uses. The
// message wrappers may be called from any thread (see wnd.h).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "ui/framework/wnd.h"

class CButton : public CWnd {
 public:
  bool Create(DWORD exStyle, CWTextRef text, DWORD style, const RECT& rect, HWND parent, int id);
};

class CEdit : public CWnd {
 public:
  bool Create(DWORD exStyle, CWTextRef text, DWORD style, const RECT& rect, HWND parent, int id);
};

class CProgressCtrl : public CWnd {
 public:
  bool Create(DWORD exStyle, DWORD style, const RECT& rect, HWND parent, int id);
  void SetRange32(int lower, int upper) const;
  int SetPos(int pos) const;  // previous position
  int GetPos() const;
};

class CListCtrl : public CWnd {
 public:
  bool Create(DWORD exStyle, DWORD style, const RECT& rect, HWND parent, int id);
  DWORD SetExtendedStyle(DWORD mask, DWORD value) const;  // previous styles
  bool DeleteAllItems() const;
  int GetItemCount() const;
  int InsertItem(const LVITEMW& item) const;  // index or -1
  bool SetItemText(int row, int column, CWTextRef text) const;
  CWString GetItemText(int row, int column) const;
  bool EnsureVisible(int row, bool partialOk) const;
  int InsertColumn(int index, const LVCOLUMNW& column) const;  // index or -1
  bool SetTextColor(COLORREF color) const;
  bool SetTextBkColor(COLORREF color) const;
  bool SetBkColor(COLORREF color) const;
  HIMAGELIST SetImageList(HIMAGELIST list, int kind) const;
  HCURSOR SetHotCursor(HCURSOR cursor) const;
  bool SetItemState(int row, UINT state, UINT mask) const;  // row -1: every row
  bool SetItemCount(int count) const;
  HWND GetHeaderCtrl() const;
};
