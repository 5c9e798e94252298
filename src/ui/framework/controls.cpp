#include "ui/framework/controls.h"

namespace {

HMENU IdAsMenu(int id) { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)); }

}  // namespace

bool CButton::Create(DWORD exStyle, CWTextRef text, DWORD style, const RECT& rect, HWND parent, int id) {
  CWString caption(text);
  return CreateEx(exStyle, L"BUTTON", caption.GetText(), style, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top, parent, IdAsMenu(id));
}

bool CEdit::Create(DWORD exStyle, CWTextRef text, DWORD style, const RECT& rect, HWND parent, int id) {
  CWString content(text);
  return CreateEx(exStyle, L"EDIT", content.GetText(), style, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top, parent, IdAsMenu(id));
}

bool CProgressCtrl::Create(DWORD exStyle, DWORD style, const RECT& rect, HWND parent, int id) {
  return CreateEx(exStyle, PROGRESS_CLASSW, L"", style, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top, parent, IdAsMenu(id));
}

void CProgressCtrl::SetRange32(int lower, int upper) const {
  SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
}

int CProgressCtrl::SetPos(int pos) const {
  return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos), 0));
}

int CProgressCtrl::GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS, 0, 0)); }

bool CListCtrl::Create(DWORD exStyle, DWORD style, const RECT& rect, HWND parent, int id) {
  return CreateEx(exStyle, WC_LISTVIEWW, L"", style, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top, parent, IdAsMenu(id));
}

DWORD CListCtrl::SetExtendedStyle(DWORD mask, DWORD value) const {
  return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, mask, value));
}

bool CListCtrl::DeleteAllItems() const { return SendMessage(LVM_DELETEALLITEMS, 0, 0) != 0; }

int CListCtrl::GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT, 0, 0)); }

int CListCtrl::InsertItem(const LVITEMW& item) const {
  if (!Exists()) return -1;
  return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

bool CListCtrl::SetItemText(int row, int column, CWTextRef text) const {
  CWString copy(text);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(copy.GetText());
  return SendMessage(LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)) != 0;
}

CWString CListCtrl::GetItemText(int row, int column) const {
  CWString text;
  if (!Exists()) return text;
  // Grows until the cell fits; the message reports the copied length.
  for (int capacity = 256; capacity <= (1 << 20); capacity *= 4) {
    wchar_t* buffer = text.GetBufferSetLength(capacity);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = capacity + 1;
    int n = static_cast<int>(SendMessage(LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
    if (n < capacity) {
      text.ReleaseBuffer(n > 0 ? n : 0);
      return text;
    }
  }
  text.ReleaseBuffer();
  return text;
}

bool CListCtrl::EnsureVisible(int row, bool partialOk) const {
  return SendMessage(LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), partialOk ? TRUE : FALSE) != 0;
}

int CListCtrl::InsertColumn(int index, const LVCOLUMNW& column) const {
  if (!Exists()) return -1;
  return static_cast<int>(
      SendMessage(LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column)));
}

bool CListCtrl::SetTextColor(COLORREF color) const {
  return SendMessage(LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(color)) != 0;
}

bool CListCtrl::SetTextBkColor(COLORREF color) const {
  return SendMessage(LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(color)) != 0;
}

bool CListCtrl::SetBkColor(COLORREF color) const {
  return SendMessage(LVM_SETBKCOLOR, 0, static_cast<LPARAM>(color)) != 0;
}

HIMAGELIST CListCtrl::SetImageList(HIMAGELIST list, int kind) const {
  return reinterpret_cast<HIMAGELIST>(
      SendMessage(LVM_SETIMAGELIST, static_cast<WPARAM>(kind), reinterpret_cast<LPARAM>(list)));
}

HCURSOR CListCtrl::SetHotCursor(HCURSOR cursor) const {
  return reinterpret_cast<HCURSOR>(SendMessage(LVM_SETHOTCURSOR, 0, reinterpret_cast<LPARAM>(cursor)));
}

bool CListCtrl::SetItemState(int row, UINT state, UINT mask) const {
  LVITEMW item{};
  item.state = state;
  item.stateMask = mask;
  return SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)) != 0;
}

bool CListCtrl::SetItemCount(int count) const {
  return SendMessage(LVM_SETITEMCOUNT, static_cast<WPARAM>(count), 0) != 0;
}

HWND CListCtrl::GetHeaderCtrl() const { return reinterpret_cast<HWND>(SendMessage(LVM_GETHEADER, 0, 0)); }
