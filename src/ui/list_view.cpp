#include "ui/list_view.h"

#include <cwchar>

#include "runtime/arrays.h"
#include "ui/container.h"

namespace {

constexpr int kFieldsPerColumn = 5;

// Decimal like wcstol: white space and a sign allowed, stops at the first non-digit.
int FieldInt(const rg_WenBenShuZuLei& fields, int64_t index) {
  return static_cast<int>(std::wcstol(fields.GetText(index), nullptr, 10));
}

}  // namespace

std::vector<KelListColumn> ParseColumnDescription(CWTextRef description) {
  std::vector<KelListColumn> columns;
  if (description.IsEmpty()) return columns;
  rg_WenBenShuZuLei fields;
  int64_t count = fields.Split(description, L"\n", false, false);
  for (int64_t first = 0; first + kFieldsPerColumn <= count; first += kFieldsPerColumn) {
    KelListColumn column;
    column.imageOnRight = FieldInt(fields, first) != 0;
    column.image = FieldInt(fields, first + 1);
    column.alignment = FieldInt(fields, first + 2);
    column.width = FieldInt(fields, first + 3);
    column.header = fields.Get(first + 4);
    columns.push_back(std::move(column));
  }
  return columns;
}

LVCOLUMNW MakeListColumn(const KelListColumn& column, int index) {
  LVCOLUMNW record{};
  record.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  record.fmt = column.alignment == 2 ? LVCFMT_CENTER : column.alignment == 1 ? LVCFMT_RIGHT : LVCFMT_LEFT;
  if (column.imageOnRight) record.fmt |= LVCFMT_BITMAP_ON_RIGHT;
  if (column.image != -1) {
    record.mask |= LVCF_IMAGE;
    record.fmt |= LVCFMT_IMAGE;
    record.iImage = column.image;
  }
  record.cx = column.width;
  record.pszText = const_cast<wchar_t*>(column.header.GetText());
  record.iSubItem = index;
  return record;
}

DWORD CKWnd_ListView::ComputeListStyle() const {
  DWORD style = LVS_SHAREIMAGELISTS;
  switch (viewType) {
    case 1:
      style |= LVS_SMALLICON;
      break;
    case 2:
      style |= LVS_LIST;
      break;
    case 3:
      style |= LVS_REPORT;
      break;
    default:
      style |= LVS_ICON;
      break;
  }
  bool iconView = viewType == 0 || viewType == 1;
  if (iconView) {
    if (iconArrangement == 1) style |= LVS_ALIGNLEFT;
    if (autoArrange) style |= LVS_AUTOARRANGE;
    if (!labelWrap) style |= LVS_NOLABELWRAP;
  }
  if (viewType == 3) {
    if (hideHeader) {
      style |= LVS_NOCOLUMNHEADER;
    } else if (!sortableHeader) {
      style |= LVS_NOSORTHEADER;
    }
  }
  if (editLabels) style |= LVS_EDITLABELS;
  if (sortOrder == 1) style |= LVS_SORTASCENDING;
  if (sortOrder == 2) style |= LVS_SORTDESCENDING;
  if (singleSelection) style |= LVS_SINGLESEL;
  if (showSelectionAlways) style |= LVS_SHOWSELALWAYS;
  if (ownerData) style |= LVS_OWNERDATA;
  return style;
}

DWORD CKWnd_ListView::ComputeListExStyle() const {
  DWORD style = LVS_EX_INFOTIP | LVS_EX_SUBITEMIMAGES;
  if (viewType == 3 && !hideHeader) {
    if (fullRowSelect) style |= LVS_EX_FULLROWSELECT;
    if (gridLines) style |= LVS_EX_GRIDLINES;
    if (headerDragDrop) style |= LVS_EX_HEADERDRAGDROP;
  }
  if (hotTracking) {
    style |= LVS_EX_TRACKSELECT | LVS_EX_ONECLICKACTIVATE;
    if (underlineCold) style |= LVS_EX_UNDERLINECOLD;
    if (underlineHot) style |= LVS_EX_UNDERLINEHOT;
  }
  if (checkBoxes) style |= LVS_EX_CHECKBOXES;
  if (flatScrollBars) style |= LVS_EX_FLATSB;
  return style;
}

bool CKWnd_ListView::CreateList(DWORD exStyle, DWORD style, const RECT& rect, HWND parent, int id) {
  if (!Create(exStyle, style | ComputeListStyle(), rect, parent, id)) return false;
  DWORD listExStyle = ComputeListExStyle();
  SetExtendedStyle(listExStyle, listExStyle);
  if (itemImages) SetImageList(itemImages.Get(), viewType == 0 ? LVSIL_NORMAL : LVSIL_SMALL);
  if (stateImages) SetImageList(stateImages.Get(), LVSIL_STATE);
  if (viewType == 3 && headerImages) {
    HWND header = GetHeaderCtrl();
    if (header) ::SendMessageW(header, HDM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(headerImages.Get()));
    Invalidate(true);
  }
  SetTextColor(textColor);
  SetTextBkColor(ResolveKelColor(textBackColor));
  SetBkColor(ResolveKelColor(backColor));
  if (hotTracking) SetHotCursor(LoadCursorW(nullptr, handCursor ? IDC_HAND : IDC_ARROW));
  if (viewType == 3) InsertDescribedColumns();
  DeleteAllItems();
  InsertDescribedRows();
  if (singleSelection) {
    if (selectedRow >= 0) {
      SetItemState(selectedRow, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    } else {
      SetItemState(-1, 0, LVIS_SELECTED);
    }
  }
  if (ownerData && ownerDataCount > 0) SetItemCount(ownerDataCount);
  return true;
}

void CKWnd_ListView::InsertDescribedColumns() {
  std::vector<KelListColumn> columns = ParseColumnDescription(columnDescription);
  for (size_t i = 0; i < columns.size(); ++i) {
    LVCOLUMNW record = MakeListColumn(columns[i], static_cast<int>(i));
    InsertColumn(static_cast<int>(i), record);
  }
}

void CKWnd_ListView::InsertDescribedRows() {
  if (itemDescription.IsEmpty() || ownerData) return;
  rg_WenBenShuZuLei rows;
  int64_t rowCount = rows.Split(itemDescription, L"\n", false, false);
  for (int64_t r = 0; r < rowCount; ++r) {
    rg_WenBenShuZuLei cells;
    int64_t cellCount = cells.Split(rows.Get(r), L"\t", false, false);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = GetItemCount();
    item.pszText = const_cast<wchar_t*>(cells.GetText(0));
    int row = InsertItem(item);
    if (row < 0) continue;
    for (int64_t c = 1; c < cellCount; ++c) SetItemText(row, static_cast<int>(c), cells.Get(c));
  }
}

LRESULT CKWnd_ListView::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (listener_ && IsInputMessage(msg)) listener_->OnWindowMessage(msg, wp, lp);
  if (msg == LVM_DELETEALLITEMS) drawnPaths_.clear();
  return CListCtrl::WindowProc(msg, wp, lp);
}

CWString FitPathToWidth(CWTextRef path, int width, const std::function<int(const wchar_t*, int)>& measure) {
  static constexpr wchar_t kEllipsis[] = L"\u2026";
  const std::wstring text(path.Chars(), static_cast<size_t>(path.Length()));
  const int length = static_cast<int>(text.size());
  if (measure(text.c_str(), length) <= width) return CWString(text.c_str());
  const size_t slash = text.find_last_of(L"\\/");
  const int nameStart = slash == std::wstring::npos ? 0 : static_cast<int>(slash);
  auto fits = [&](const std::wstring& candidate) {
    return measure(candidate.c_str(), static_cast<int>(candidate.size())) <= width;
  };
  const std::wstring tail = text.substr(static_cast<size_t>(nameStart));
  if (!fits(kEllipsis + tail)) {
    // Not even the name fits: its end tells the parts apart ("part12.rar").
    int keep = 0;
    while (keep < length && fits(kEllipsis + text.substr(static_cast<size_t>(length - keep - 1)))) ++keep;
    return CWString((kEllipsis + text.substr(static_cast<size_t>(length - keep))).c_str());
  }
  // The longest start of the folder part that still fits in front of the ellipsis.
  int low = 0, high = nameStart;
  while (low < high) {
    const int middle = (low + high + 1) / 2;
    if (fits(text.substr(0, static_cast<size_t>(middle)) + kEllipsis + tail)) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return CWString((text.substr(0, static_cast<size_t>(low)) + kEllipsis + tail).c_str());
}

CWString CKWnd_ListView::DrawnPathText(int row) const {
  const auto found = drawnPaths_.find(row);
  return found == drawnPaths_.end() ? CWString() : found->second;
}

bool CKWnd_ListView::DrawPathCell(const NMLVCUSTOMDRAW& draw) {
  const int row = static_cast<int>(draw.nmcd.dwItemSpec);
  RECT cell{};
  if (!ListView_GetSubItemRect(GetSafeHwnd(), row, draw.iSubItem, LVIR_LABEL, &cell)) return false;
  const HDC dc = draw.nmcd.hdc;
  const bool selected = (ListView_GetItemState(GetSafeHwnd(), row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
  const bool focused = ::GetFocus() == GetSafeHwnd();
  COLORREF text = draw.clrText == CLR_DEFAULT ? ListView_GetTextColor(GetSafeHwnd()) : draw.clrText;
  COLORREF back = draw.clrTextBk == CLR_DEFAULT ? ListView_GetTextBkColor(GetSafeHwnd()) : draw.clrTextBk;
  if (selected && (focused || showSelectionAlways)) {
    text = GetSysColor(focused ? COLOR_HIGHLIGHTTEXT : COLOR_BTNTEXT);
    back = GetSysColor(focused ? COLOR_HIGHLIGHT : COLOR_BTNFACE);
  }
  if (back != CLR_NONE) {
    const UniqueBrush brush(CreateSolidBrush(back));
    FillRect(dc, &cell, brush.Get());
  }
  // The control's own margin for a sub-item's text.
  const int margin = 6;
  RECT textRect{cell.left + margin, cell.top, cell.right - margin, cell.bottom};
  const CWString shown = FitPathToWidth(GetItemText(row, draw.iSubItem), textRect.right - textRect.left,
                                        [dc](const wchar_t* chars, int count) {
                                          SIZE size{};
                                          GetTextExtentPoint32W(dc, chars, count, &size);
                                          return static_cast<int>(size.cx);
                                        });
  const int oldMode = ::SetBkMode(dc, TRANSPARENT);
  const COLORREF oldColor = ::SetTextColor(dc, text);
  DrawTextW(dc, shown.GetText(), static_cast<int>(shown.Length()), &textRect,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  ::SetTextColor(dc, oldColor);
  ::SetBkMode(dc, oldMode);
  drawnPaths_[row] = shown;
  return true;
}

LRESULT CKWnd_ListView::OnCustomDraw(NMLVCUSTOMDRAW& draw) {
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
      return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      rg_ChaoJiLieBiaoKuangHuiZhiCanShu cell;
      cell.row = static_cast<int>(draw.nmcd.dwItemSpec);
      cell.column = draw.iSubItem;
      cell.textColor = draw.clrText;
      cell.backColor = draw.clrTextBk;
      const bool recoloured = listener_->OnCellColors(cell);
      if (recoloured) {
        draw.clrText = cell.textColor;
        draw.clrTextBk = cell.backColor;
      }
      if (draw.iSubItem == pathColumn && DrawPathCell(draw)) return CDRF_SKIPDEFAULT;
      return recoloured ? CDRF_NEWFONT : CDRF_DODEFAULT;
    }
    default:
      return CDRF_DODEFAULT;
  }
}

bool CKWnd_ListView::OnChildNotify(UINT msg, WPARAM, LPARAM lp, LRESULT& result) {
  if (msg != WM_NOTIFY || !listener_) return false;
  NMHDR* header = reinterpret_cast<NMHDR*>(lp);
  switch (header->code) {
    case NM_SETFOCUS:
      listener_->OnFocusGained();
      return false;
    case NM_KILLFOCUS:
      listener_->OnFocusLost();
      return false;
    case LVN_ITEMCHANGED: {
      const auto* change = reinterpret_cast<const NMLISTVIEW*>(lp);
      if (change->uChanged & LVIF_STATE) {
        UINT changed = change->uOldState ^ change->uNewState;
        if ((changed & LVIS_SELECTED) && (change->uNewState & LVIS_SELECTED)) {
          listener_->OnSelectionChanged(change->iItem);
        }
        // A row's first state image is set when it is inserted; only later changes toggle.
        if (checkBoxes && (changed & LVIS_STATEIMAGEMASK) && (change->uOldState & LVIS_STATEIMAGEMASK)) {
          listener_->OnCheckToggled(change->iItem, ((change->uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2);
        }
      }
      return false;
    }
    case LVN_ITEMACTIVATE:
      listener_->OnRowActivated(reinterpret_cast<const NMITEMACTIVATE*>(lp)->iItem);
      return false;
    case LVN_COLUMNCLICK:
      listener_->OnColumnClick(reinterpret_cast<const NMLISTVIEW*>(lp)->iSubItem);
      return false;
    case LVN_HOTTRACK:
      listener_->OnHotTrack(reinterpret_cast<const NMLISTVIEW*>(lp)->iItem);
      return false;
    case NM_CLICK:
    case NM_RCLICK:
    case NM_DBLCLK: {
      const auto* click = reinterpret_cast<const NMITEMACTIVATE*>(lp);
      if (header->code == NM_CLICK) listener_->OnClick(click->iItem, click->iSubItem);
      if (header->code == NM_RCLICK) listener_->OnRightClick(click->iItem, click->iSubItem);
      if (header->code == NM_DBLCLK) listener_->OnDoubleClick(click->iItem, click->iSubItem);
      return false;
    }
    case LVN_GETINFOTIPW: {
      auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(lp);
      CWString text;
      if (listener_->OnInfoTip(tip->iItem, text) && tip->pszText && tip->cchTextMax > 0) {
        lstrcpynW(tip->pszText, text.GetText(), tip->cchTextMax);
      }
      result = 0;
      return true;
    }
    case LVN_ENDLABELEDITW: {
      const auto* edit = reinterpret_cast<const NMLVDISPINFOW*>(lp);
      if (!edit->item.pszText) return false;  // cancelled
      CWString text(edit->item.pszText);
      result = listener_->OnLabelEditEnded(edit->item.iItem, text) ? FALSE : TRUE;
      return true;
    }
    case NM_CUSTOMDRAW:
      result = OnCustomDraw(*reinterpret_cast<NMLVCUSTOMDRAW*>(lp));
      return true;
    case LVN_GETDISPINFOW: {
      if (!ownerData) return false;
      auto* info = reinterpret_cast<NMLVDISPINFOW*>(lp);
      rg_ChaoJiLieBiaoKuangBiaoXiangTianChong item;
      item.row = info->item.iItem;
      item.column = info->item.iSubItem;
      listener_->OnRowContents(item);
      if ((info->item.mask & LVIF_TEXT) && info->item.pszText && info->item.cchTextMax > 0) {
        lstrcpynW(info->item.pszText, item.text.GetText(), info->item.cchTextMax);
      }
      if (info->item.mask & LVIF_IMAGE) info->item.iImage = item.image;
      if (info->item.mask & LVIF_INDENT) info->item.iIndent = item.indent;
      if ((info->item.mask & LVIF_STATE) && item.stateImage > 0) {
        info->item.state |= INDEXTOSTATEIMAGEMASK(item.stateImage);
        info->item.stateMask |= LVIS_STATEIMAGEMASK;
      }
      result = 0;
      return true;
    }
    default:
      return false;
  }
}

rg_ChaoJiLieBiaoKuang::rg_ChaoJiLieBiaoKuang() : CKelWinControl(std::make_unique<CKWnd_ListView>()) {
  SetStoredStyle(0, WS_TABSTOP);
  SetStoredExStyle(0, WS_EX_CLIENTEDGE);
  rg_ChaoJiLieBiaoKuang::ConnectListener(true);
}

rg_ChaoJiLieBiaoKuang::~rg_ChaoJiLieBiaoKuang() { rg_ChaoJiLieBiaoKuang::ConnectListener(false); }

CKWnd_ListView& rg_ChaoJiLieBiaoKuang::ListView() const { return *static_cast<CKWnd_ListView*>(Window()); }

void rg_ChaoJiLieBiaoKuang::ConnectListener(bool connect) {
  ListView().SetListener(connect ? static_cast<IListViewEventListener*>(this) : nullptr);
}

bool rg_ChaoJiLieBiaoKuang::CreatePlatformWindow(const KelCreateParams& params) {
  RECT rect{params.left, params.top, params.left + params.width, params.top + params.height};
  return ListView().CreateList(params.exStyle, params.style, rect, params.parent, params.id);
}

DWORD rg_ChaoJiLieBiaoKuang::SetExtendedStyle(DWORD mask, DWORD value) {
  return ListView().SetExtendedStyle(mask, value);
}

bool rg_ChaoJiLieBiaoKuang::DeleteAllRows() { return ListView().DeleteAllItems(); }

int rg_ChaoJiLieBiaoKuang::GetRowCount() const { return ListView().GetItemCount(); }

int rg_ChaoJiLieBiaoKuang::AppendEmptyRow() {
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM | LVIF_STATE | LVIF_INDENT;
  item.iItem = ListView().GetItemCount();
  item.pszText = const_cast<wchar_t*>(L"");
  item.iImage = -1;
  return ListView().InsertItem(item);
}

bool rg_ChaoJiLieBiaoKuang::SetCellText(int row, int column, CWTextRef text) {
  if (ListView().ownerData) return false;
  return ListView().SetItemText(row, column, text);
}

CWString rg_ChaoJiLieBiaoKuang::GetCellText(int row, int column) const { return ListView().GetItemText(row, column); }

bool rg_ChaoJiLieBiaoKuang::EnsureRowVisible(int row) { return ListView().EnsureVisible(row, false); }

void rg_ChaoJiLieBiaoKuang::OnFocusGained() { onFocusGained.Fire(this); }
void rg_ChaoJiLieBiaoKuang::OnFocusLost() { onFocusLost.Fire(this); }
void rg_ChaoJiLieBiaoKuang::OnSelectionChanged(int row) { onSelectionChanged.Fire(this, row); }
void rg_ChaoJiLieBiaoKuang::OnRowActivated(int row) { onRowActivated.Fire(this, row); }
void rg_ChaoJiLieBiaoKuang::OnColumnClick(int column) { onColumnClick.Fire(this, column); }
void rg_ChaoJiLieBiaoKuang::OnHotTrack(int row) { onHotTrack.Fire(this, row); }
void rg_ChaoJiLieBiaoKuang::OnClick(int row, int column) { onClick.Fire(this, row, column); }
void rg_ChaoJiLieBiaoKuang::OnRightClick(int row, int column) { onRightClick.Fire(this, row, column); }
void rg_ChaoJiLieBiaoKuang::OnDoubleClick(int row, int column) { onDoubleClick.Fire(this, row, column); }

bool rg_ChaoJiLieBiaoKuang::OnInfoTip(int row, CWString& tip) { return onInfoTip.Fire(this, row, &tip) != 0; }

bool rg_ChaoJiLieBiaoKuang::OnLabelEditEnded(int row, const CWString& text) {
  return onLabelEditEnded.Fire(this, row, &text) != 0;
}

void rg_ChaoJiLieBiaoKuang::OnCheckToggled(int row, bool checked) { onCheckToggled.Fire(this, row, checked ? 1 : 0); }

bool rg_ChaoJiLieBiaoKuang::OnCellColors(rg_ChaoJiLieBiaoKuangHuiZhiCanShu& cell) {
  COLORREF text = cell.textColor;
  COLORREF back = cell.backColor;
  onCellColors.Fire(this, &cell);
  return cell.textColor != text || cell.backColor != back;
}

void rg_ChaoJiLieBiaoKuang::OnRowContents(rg_ChaoJiLieBiaoKuangBiaoXiangTianChong& item) {
  onRowContents.Fire(this, &item);
}
