// The report list: rg_ChaoJiLieBiaoKuang and its platform window object CKWnd_ListView over
// the platform's list-view control. Properties are stored on the window object and read when
// the control is created. The row and cell operations are single synchronous messages: the
// user-interface thread may call them directly, another thread (the engine's worker) too,
// in which case the platform runs them on the user-interface thread while that thread
// dispatches messages, and the caller waits.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <vector>

#include "runtime/text.h"
#include "ui/control.h"
#include "ui/framework/controls.h"

// One column of a column description (five line-feed separated fields per column: image on
// the right, image index, alignment 2 centre / 1 right / other left, width, header text).
struct KelListColumn {
  bool imageOnRight = false;
  int image = -1;  // -1: none
  int alignment = 0;
  int width = 0;
  CWString header;
};
std::vector<KelListColumn> ParseColumnDescription(CWTextRef description);
// The platform column record of a described column (fmt and mask by the fields).
LVCOLUMNW MakeListColumn(const KelListColumn& column, int index);

// Cell draw parameters handed to the cell-colours event; the handler may change the colours.
struct rg_ChaoJiLieBiaoKuangHuiZhiCanShu {
  int row = 0;
  int column = 0;
  COLORREF textColor = 0;
  COLORREF backColor = 0;
};

// Owner-data item record filled by the row-contents event.
struct rg_ChaoJiLieBiaoKuangBiaoXiangTianChong {
  int row = 0;
  int column = 0;
  CWString text;
  int image = -1;
  int indent = 0;
  int stateImage = 0;
};

// path as it fits width: whole when it fits, else its middle gives way to an ellipsis and the
// part after the last "\\" or "/" stays whole; when even that does not fit, the ellipsis and
// the end of the name. measure gives the width of a text of a length.
CWString FitPathToWidth(CWTextRef path, int width, const std::function<int(const wchar_t*, int)>& measure);

class CKWnd_ListView : public CListCtrl {
 public:
  void SetListener(IListViewEventListener* listener) { listener_ = listener; }

  // Creates the control with its computed styles and applies the properties.
  bool CreateList(DWORD exStyle, DWORD style, const RECT& rect, HWND parent, int id);

  int viewType = 0;  // 0 icon, 1 small icon, 2 list, 3 report
  int iconArrangement = 0;
  bool autoArrange = true;
  bool labelWrap = true;
  bool hideHeader = false;
  bool sortableHeader = true;
  bool fullRowSelect = false;
  bool gridLines = false;
  bool headerDragDrop = false;
  bool hotTracking = false;
  bool handCursor = true;
  bool underlineCold = true;
  bool underlineHot = true;
  bool editLabels = false;
  int sortOrder = 0;  // 1 ascending, 2 descending
  bool checkBoxes = false;
  bool flatScrollBars = false;
  bool singleSelection = true;
  int selectedRow = -1;
  bool showSelectionAlways = false;
  bool ownerData = false;
  int ownerDataCount = 0;
  COLORREF textColor = 0x000000;
  COLORREF textBackColor = 0xFFFFFF;  // kKelSystemFaceColor: the button face
  COLORREF backColor = 0xFFFFFF;
  CWString columnDescription;
  // Rows separated by line feeds, cells of a row by tabs.
  CWString itemDescription;
  // Owned; the control shares them (LVS_SHAREIMAGELISTS).
  UniqueImageList itemImages;
  UniqueImageList stateImages;
  UniqueImageList headerImages;
  // A column of paths drawn with their end in view (FitPathToWidth); -1 for none.
  int pathColumn = -1;

  // The text last drawn in the path column's cell of a row ("" before its first paint).
  CWString DrawnPathText(int row) const;

  // The list styles (LVS_*) and extended styles (LVS_EX_*) the properties ask for.
  DWORD ComputeListStyle() const;
  DWORD ComputeListExStyle() const;

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  bool OnChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  void InsertDescribedColumns();
  void InsertDescribedRows();
  LRESULT OnCustomDraw(NMLVCUSTOMDRAW& draw);
  // Paints a path cell itself; false when the control should.
  bool DrawPathCell(const NMLVCUSTOMDRAW& draw);

  IListViewEventListener* listener_ = nullptr;
  std::map<int, CWString> drawnPaths_;  // row -> text last drawn in the path column
};

class rg_ChaoJiLieBiaoKuang : public CKelWinControl, public IListViewEventListener {
  KEL_DECLARE_CLASS(rg_ChaoJiLieBiaoKuang, CKelWinControl)

  rg_ChaoJiLieBiaoKuang();
  ~rg_ChaoJiLieBiaoKuang() override;

  // The properties (set them before Create).
  CKWnd_ListView& ListView() const;
  void SetViewType(int type) { ListView().viewType = type; }
  void SetColumnDescription(CWTextRef description) { ListView().columnDescription = CWString(description); }
  void SetFullRowSelect(bool on) { ListView().fullRowSelect = on; }
  // The column whose cells hold paths: they are drawn with the file name in view.
  void SetPathColumn(int column) { ListView().pathColumn = column; }
  bool IsOwnerData() const { return ListView().ownerData; }

  // Row operations; each is one synchronous message to the control (nothing without it).
  DWORD SetExtendedStyle(DWORD mask, DWORD value);
  bool DeleteAllRows();
  int GetRowCount() const;
  int AppendEmptyRow();  // the new row's index, or -1
  bool SetCellText(int row, int column, CWTextRef text);
  CWString GetCellText(int row, int column) const;
  bool EnsureRowVisible(int row);

  // IListViewEventListener
  void OnWindowMessage(UINT msg, WPARAM wp, LPARAM lp) override { CKelWinControl::OnWindowMessage(msg, wp, lp); }
  void OnFocusGained() override;
  void OnFocusLost() override;
  void OnSelectionChanged(int row) override;
  void OnRowActivated(int row) override;
  void OnColumnClick(int column) override;
  void OnHotTrack(int row) override;
  void OnClick(int row, int column) override;
  void OnRightClick(int row, int column) override;
  void OnDoubleClick(int row, int column) override;
  bool OnInfoTip(int row, CWString& tip) override;
  bool OnLabelEditEnded(int row, const CWString& text) override;
  void OnCheckToggled(int row, bool checked) override;
  bool OnCellColors(rg_ChaoJiLieBiaoKuangHuiZhiCanShu& cell) override;
  void OnRowContents(rg_ChaoJiLieBiaoKuangBiaoXiangTianChong& item) override;

  EventBinding<> onFocusGained;
  EventBinding<> onFocusLost;
  EventBinding<int> onSelectionChanged;  // row
  EventBinding<int> onRowActivated;
  EventBinding<int> onColumnClick;  // column
  EventBinding<int> onHotTrack;
  EventBinding<int, int> onClick;  // row, column
  EventBinding<int, int> onRightClick;
  EventBinding<int, int> onDoubleClick;
  EventBinding<int, CWString*> onInfoTip;               // non-zero: tip given
  EventBinding<int, const CWString*> onLabelEditEnded;  // non-zero: reject
  EventBinding<int, int> onCheckToggled;                // row, checked
  EventBinding<rg_ChaoJiLieBiaoKuangHuiZhiCanShu*> onCellColors;
  EventBinding<rg_ChaoJiLieBiaoKuangBiaoXiangTianChong*> onRowContents;

 protected:
  bool CreatePlatformWindow(const KelCreateParams& params) override;
  void ConnectListener(bool connect) override;
};
