// The report list: column descriptions, creation from properties, row operations, and cell
// updates sent from a worker thread while the user-interface thread waits dispatching messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "runtime/utils.h"
#include "waits.h"
#include "ui_test_support.h"

namespace {

const wchar_t kMainColumns[] =
    L"0\n-1\n0\n50\nID\n0\n-1\n0\n200\n文件名\n0\n-1\n0\n80\n文件大小\n0\n-1\n0\n80\n下载速度\n0\n-1\n0\n80\n下载进度\n0\n-1\n0\n100\n当前状态";

// Widths in characters: every character one unit wide.
TEST(PathColumn, TheEndOfAPathStaysInViewAndItsMiddleGivesWay) {
  const auto measure = [](const wchar_t*, int count) { return count; };
  const struct {
    const wchar_t* path;
    int width;
    const wchar_t* shown;
  } cases[] = {
      {L"Z:\\Games\\Brinemarch.part2.rar", 40, L"Z:\\Games\\Brinemarch.part2.rar"},
      {L"Z:\\Games\\Brinemarch\\Brinemarch.part2.rar", 31, L"Z:\\Games\\…\\Brinemarch.part2.rar"},
      {L"Z:/work/clone/build/run/Brinemarch.part12.rar", 29, L"Z:/wor…/Brinemarch.part12.rar"},
      // Not even the name fits: its end does, the part's number included.
      {L"Z:\\Games\\Brinemarch.part12.rar", 12, L"….part12.rar"},
      {L"no-separator-at-all.bin", 10, L"…t-all.bin"},
      {L"", 0, L""},
  };
  for (const auto& c : cases) {
    const std::wstring shown = FitPathToWidth(c.path, c.width, measure).ToStdString();
    EXPECT_EQ(shown, c.shown) << "case " << (&c - cases);
    EXPECT_LE(static_cast<int>(shown.size()), std::max(c.width, 0)) << "case " << (&c - cases);
  }
}

TEST(ColumnDescription, FiveFieldsPerColumnRemainderIgnored) {
  auto columns = ParseColumnDescription(L"1\n2\n2\n64\nA\n0\n-1\n3\n 12px\nB\nextra");
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_TRUE(columns[0].imageOnRight);
  EXPECT_EQ(columns[0].image, 2);
  EXPECT_EQ(columns[0].width, 64);
  EXPECT_EQ(columns[0].header.ToStdString(), L"A");
  EXPECT_EQ(columns[1].width, 12);

  LVCOLUMNW first = MakeListColumn(columns[0], 0);
  EXPECT_EQ(first.fmt, LVCFMT_CENTER | LVCFMT_BITMAP_ON_RIGHT | LVCFMT_IMAGE);
  EXPECT_TRUE(first.mask & LVCF_IMAGE);
  EXPECT_EQ(first.iImage, 2);
  LVCOLUMNW second = MakeListColumn(columns[1], 1);
  EXPECT_EQ(second.fmt, LVCFMT_LEFT);  // alignment 3 is left
  EXPECT_FALSE(second.mask & LVCF_IMAGE);
  EXPECT_EQ(second.iSubItem, 1);
}

TEST(ColumnDescription, EmptyFieldsAndShortDescriptions) {
  auto columns = ParseColumnDescription(L"\n\n1\n\n");
  ASSERT_EQ(columns.size(), 1u);
  EXPECT_EQ(columns[0].image, 0);
  EXPECT_EQ(columns[0].alignment, 1);
  EXPECT_EQ(columns[0].width, 0);
  EXPECT_TRUE(columns[0].header.IsEmpty());
  EXPECT_TRUE(ParseColumnDescription(L"0\n-1\n0\n50").empty());
  EXPECT_TRUE(ParseColumnDescription(L"").empty());
  EXPECT_EQ(ParseColumnDescription(kMainColumns).size(), 6u);
}

class ReportList : public ::testing::Test {
 protected:
  void Create() {
    form.createChildren = [this](HWND parent) { list.Create(parent, &form, 12, 30, 600, 258, 103); };
    ASSERT_TRUE(form.CreateTopLevel());
  }

  TestForm form;
  rg_ChaoJiLieBiaoKuang list;
};

TEST_F(ReportList, CreatedWithTheDescribedColumns) {
  list.SetViewType(3);
  list.SetColumnDescription(kMainColumns);
  list.SetFullRowSelect(true);
  form.designWidth = 624;
  form.designHeight = 375;
  Create();

  DWORD style = static_cast<DWORD>(GetWindowLongPtrW(list.GetHwnd(), GWL_STYLE));
  EXPECT_EQ(style & LVS_TYPEMASK, DWORD{LVS_REPORT});
  EXPECT_TRUE(style & LVS_SINGLESEL);
  EXPECT_TRUE(style & WS_TABSTOP);
  EXPECT_TRUE(GetWindowLongPtrW(list.GetHwnd(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  DWORD exStyle = static_cast<DWORD>(SendMessageW(list.GetHwnd(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
  EXPECT_EQ(exStyle & (LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_SUBITEMIMAGES),
            DWORD{LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_SUBITEMIMAGES});

  const wchar_t* headers[] = {L"ID", L"文件名", L"文件大小", L"下载速度", L"下载进度", L"当前状态"};
  const int widths[] = {50, 200, 80, 80, 80, 100};
  HWND header = reinterpret_cast<HWND>(SendMessageW(list.GetHwnd(), LVM_GETHEADER, 0, 0));
  EXPECT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 6);
  for (int i = 0; i < 6; ++i) {
    wchar_t text[32] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.pszText = text;
    column.cchTextMax = 32;
    ASSERT_TRUE(SendMessageW(list.GetHwnd(), LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(text, headers[i]);
    EXPECT_EQ(column.cx, widths[i]);
    EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
  }

  EXPECT_EQ(list.SetExtendedStyle(LVS_EX_DOUBLEBUFFER, LVS_EX_DOUBLEBUFFER) & LVS_EX_DOUBLEBUFFER, 0u);
  exStyle = static_cast<DWORD>(SendMessageW(list.GetHwnd(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
  EXPECT_TRUE(exStyle & LVS_EX_DOUBLEBUFFER);
  EXPECT_TRUE(exStyle & LVS_EX_FULLROWSELECT);
}

TEST_F(ReportList, OtherViewsIgnoreTheColumnDescription) {
  list.SetViewType(2);
  list.SetColumnDescription(kMainColumns);
  Create();
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  EXPECT_FALSE(SendMessageW(list.GetHwnd(), LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&column)));
  EXPECT_EQ(GetWindowLongPtrW(list.GetHwnd(), GWL_STYLE) & LVS_TYPEMASK, LVS_LIST);
}

TEST_F(ReportList, RowsAppendAtTheEndAndMissingRowsAreLeftAlone) {
  list.SetViewType(3);
  list.SetColumnDescription(kMainColumns);
  Create();
  EXPECT_EQ(list.GetRowCount(), 0);
  EXPECT_EQ(list.AppendEmptyRow(), 0);
  EXPECT_EQ(list.AppendEmptyRow(), 1);
  EXPECT_EQ(list.GetRowCount(), 2);
  EXPECT_TRUE(list.GetCellText(1, 0).IsEmpty());

  EXPECT_TRUE(list.SetCellText(1, 4, L"45.7%"));
  EXPECT_EQ(list.GetCellText(1, 4).ToStdString(), L"45.7%");
  EXPECT_FALSE(list.SetCellText(5, 0, L"x"));
  EXPECT_EQ(list.GetRowCount(), 2);
  EXPECT_TRUE(list.EnsureRowVisible(1));

  EXPECT_TRUE(list.DeleteAllRows());
  EXPECT_EQ(list.GetRowCount(), 0);
}

TEST_F(ReportList, InitialRowsAndSelection) {
  list.SetViewType(3);
  list.SetColumnDescription(L"0\n-1\n0\n50\nA\n0\n-1\n0\n50\nB");
  list.ListView().itemDescription = CWString(L"a\tb\nc\td");
  list.ListView().selectedRow = 1;
  Create();
  ASSERT_EQ(list.GetRowCount(), 2);
  EXPECT_EQ(list.GetCellText(1, 1).ToStdString(), L"d");
  EXPECT_EQ(SendMessageW(list.GetHwnd(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 1);
}

TEST_F(ReportList, OwnerDataRowsComeFromTheHandler) {
  struct Filler {
    void OnRowContents(rg_ChaoJiLieBiaoKuangBiaoXiangTianChong* item) {
      item->text = CWString(L"r");
      item->text.AppendInteger(item->row);
      item->text.AppendChar(L'c');
      item->text.AppendInteger(item->column);
    }
    EventTarget<Filler> events{this};
  } filler;
  list.SetViewType(3);
  list.SetColumnDescription(L"0\n-1\n0\n50\nA\n0\n-1\n0\n50\nB");
  list.ListView().ownerData = true;
  list.ListView().ownerDataCount = 5;
  list.onRowContents.Bind<&Filler::OnRowContents>(filler.events);
  Create();
  EXPECT_TRUE(list.IsOwnerData());
  EXPECT_EQ(list.GetRowCount(), 5);
  EXPECT_EQ(list.GetCellText(3, 1).ToStdString(), L"r3c1");
  EXPECT_FALSE(list.SetCellText(0, 0, L"x"));
}

TEST_F(ReportList, CellUpdatesFromAWorkerWhileTheInterfaceThreadWaits) {
  constexpr int kRows = 40;
  list.SetViewType(3);
  list.SetColumnDescription(kMainColumns);
  Create();
  for (int i = 0; i < kRows; ++i) ASSERT_EQ(list.AppendEmptyRow(), i);

  std::atomic<bool> done{false};
  std::atomic<DWORD> workerThread{0};
  std::thread worker([&] {
    workerThread = GetCurrentThreadId();
    for (int row = 0; row < kRows; ++row) {
      std::wstring r = std::to_wstring(row);
      list.SetCellText(row, 0, r.c_str());
      list.SetCellText(row, 1, (L"Brinemarch.part" + r + L".exe").c_str());
      list.SetCellText(row, 2, L"1.5 GB");
      list.SetCellText(row, 3, L"2.1 MB/s");
      list.SetCellText(row, 4, (r + L"%").c_str());
      list.SetCellText(row, 5, L"下载中");
      list.EnsureRowVisible(row);
    }
    done = true;
  });
  // The worker's messages run here, inside the dispatching wait.
  EXPECT_TRUE(PollUntil([&] { return done.load(); }, 20000, PollMode::kDispatchMessages))
      << "the worker's row updates did not all arrive within 20 s";
  worker.join();

  EXPECT_NE(workerThread.load(), GetCurrentThreadId());
  for (int row = 0; row < kRows; ++row) {
    std::wstring r = std::to_wstring(row);
    EXPECT_EQ(list.GetCellText(row, 0).ToStdString(), r);
    EXPECT_EQ(list.GetCellText(row, 1).ToStdString(), L"Brinemarch.part" + r + L".exe");
    EXPECT_EQ(list.GetCellText(row, 4).ToStdString(), r + L"%");
    EXPECT_EQ(list.GetCellText(row, 5).ToStdString(), L"下载中");
  }
}

}  // namespace
