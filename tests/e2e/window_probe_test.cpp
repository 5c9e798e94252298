// The driver's window probing against a small window of our own: finding controls by class
// and exact caption at any depth, reading edit contents, list and progress state, and a
// posted press arriving as an ordinary button click.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/utils.h"
#include "window_probe.h"

namespace {

constexpr wchar_t kClass[] = L"BmProbeTestWindow";
UINT g_clicks = 0;
HWND g_clicked = nullptr;

LRESULT CALLBACK TestProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND && HIWORD(wp) == BN_CLICKED) {
    ++g_clicks;
    g_clicked = reinterpret_cast<HWND>(lp);
    return 0;
  }
  if (msg == WM_DRAWITEM) return TRUE;
  return DefWindowProcW(window, msg, wp, lp);
}

class WindowProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    WNDCLASSW wc{};
    wc.lpfnWndProc = TestProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);
    main_ = CreateWindowExW(0, kClass, L"BrinemarchOL下载器 探测", WS_POPUP | WS_VISIBLE, 0, 0, 624, 375, nullptr,
                            nullptr, wc.hInstance, nullptr);
    ASSERT_NE(main_, nullptr);
    edit_ = Child(main_, L"Edit", L"", 0);
    start_ = Child(main_, L"Button", L"开始下载", BS_OWNERDRAW);
    // A container holding its own button: controls may sit at any depth.
    HWND inner =
        CreateWindowExW(0, kClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 40, main_, nullptr, wc.hInstance, nullptr);
    close_ = Child(inner, L"Button", L"×", BS_OWNERDRAW);
    list_ = Child(main_, WC_LISTVIEWW, L"", LVS_REPORT);
    bar_ = Child(main_, PROGRESS_CLASSW, L"", 0);
    g_clicks = 0;
    g_clicked = nullptr;
  }
  void TearDown() override {
    if (main_) DestroyWindow(main_);
  }

  HWND Child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style) {
    return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 10, 10, 80, 24, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  }

  HWND main_ = nullptr;
  HWND edit_ = nullptr;
  HWND start_ = nullptr;
  HWND close_ = nullptr;
  HWND list_ = nullptr;
  HWND bar_ = nullptr;
};

TEST_F(WindowProbeTest, FindsControlsByClassInAnyCaseAndExactCaption) {
  EXPECT_EQ(probe::FindDescendant(main_, L"BUTTON", L"开始下载"), start_);
  EXPECT_EQ(probe::FindDescendant(main_, L"button", L"开始下载"), start_);
  EXPECT_EQ(probe::FindDescendant(main_, L"", L"开始下载"), start_);
  EXPECT_EQ(probe::FindDescendant(main_, L"edit", L"开始下载"), nullptr);
  SetWindowTextW(start_, L"开始下载 ");
  EXPECT_EQ(probe::FindDescendant(main_, L"button", L"开始下载"), nullptr);
  SetWindowTextW(start_, L"安装游戏");
  EXPECT_EQ(probe::FindDescendant(main_, L"button", L"安装游戏"), start_);
}

TEST_F(WindowProbeTest, FindsControlsInsideContainers) {
  EXPECT_EQ(probe::FindDescendant(main_, L"button", L"×"), close_);
  EXPECT_EQ(probe::FindDescendants(main_, L"button", L"").size(), 2u);
  EXPECT_EQ(probe::FindDescendant(main_, L"syslistview32", L""), list_);
}

TEST_F(WindowProbeTest, ReadsEditContentsOfAnyLength) {
  EXPECT_EQ(probe::TextOf(edit_), L"");
  SetWindowTextW(edit_, L"Z:\\游戏\\Brinemarch");
  EXPECT_EQ(probe::TextOf(edit_), L"Z:\\游戏\\Brinemarch");
  std::wstring longText(1500, L'盐');
  SetWindowTextW(edit_, longText.c_str());
  EXPECT_EQ(probe::TextOf(edit_), longText);
  EXPECT_EQ(probe::ClassOf(edit_), L"edit");
}

TEST_F(WindowProbeTest, FindsTheTopLevelWindowOfAProcessByTitle) {
  EXPECT_EQ(probe::FindTopLevel(GetCurrentProcessId(), L"", L"BrinemarchOL下载器 探测"), main_);
  EXPECT_EQ(probe::FindTopLevel(0, kClass, L"BrinemarchOL下载器 探测"), main_);
  EXPECT_EQ(probe::FindTopLevel(GetCurrentProcessId(), L"#32770", L"BrinemarchOL下载器 探测"), nullptr);
  EXPECT_EQ(probe::FindTopLevel(GetCurrentProcessId(), L"", L"BrinemarchOL下载器"), nullptr);
}

TEST_F(WindowProbeTest, APressArrivesAsAClickOfThatButton) {
  ASSERT_TRUE(probe::Press(start_));
  EXPECT_EQ(g_clicks, 0u);  // posted: nothing happens before the owner pumps
  WaitWithMessages(200);
  EXPECT_EQ(g_clicks, 1u);
  EXPECT_EQ(g_clicked, start_);
  ASSERT_TRUE(probe::Press(close_));
  WaitWithMessages(200);
  EXPECT_EQ(g_clicks, 2u);
  EXPECT_EQ(g_clicked, close_);
}

TEST_F(WindowProbeTest, ReadsListAndProgressState) {
  EXPECT_EQ(probe::ListItemCount(list_), 0);
  for (int i = 0; i < 3; ++i) {
    LVITEMW item{};
    item.iItem = i;
    SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  EXPECT_EQ(probe::ListItemCount(list_), 3);
  // A list three times as tall shows about three times the rows.
  MoveWindow(list_, 0, 0, 300, 100, FALSE);
  const int shortRows = probe::ListRowsPerPage(list_);
  MoveWindow(list_, 0, 0, 300, 300, FALSE);
  const int tallRows = probe::ListRowsPerPage(list_);
  EXPECT_GT(shortRows, 0);
  EXPECT_GE(tallRows, 3 * shortRows);
  SendMessageW(bar_, PBM_SETPOS, 45, 0);
  EXPECT_EQ(probe::ProgressPosition(bar_), 45);
}

TEST_F(WindowProbeTest, ReadsListCellsThroughTheOwnersMemory) {
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = 60;
  for (int c = 0; c < 3; ++c) SendMessageW(list_, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
  for (int i = 0; i < 2; ++i) {
    LVITEMW item{};
    item.iItem = i;
    SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  const std::wstring path(700, L'盐');
  LVITEMW cell{};
  cell.iSubItem = 2;
  cell.pszText = const_cast<wchar_t*>(L"完成");
  SendMessageW(list_, LVM_SETITEMTEXTW, 1, reinterpret_cast<LPARAM>(&cell));
  cell.iSubItem = 1;
  cell.pszText = const_cast<wchar_t*>(path.c_str());
  SendMessageW(list_, LVM_SETITEMTEXTW, 1, reinterpret_cast<LPARAM>(&cell));

  probe::RemoteListReader reader(list_);
  ASSERT_TRUE(reader.Ready());
  EXPECT_EQ(reader.CellText(1, 2), L"完成");
  EXPECT_EQ(reader.CellText(1, 1), path);
  EXPECT_EQ(reader.CellText(0, 2), L"");
  EXPECT_EQ(reader.CellText(5, 2), L"");
  // Every read starts afresh: a shorter text after a longer one is not padded with its rest.
  EXPECT_EQ(reader.CellText(1, 2), L"完成");
}

}  // namespace
