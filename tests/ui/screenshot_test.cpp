// Paints a visible form with the toolkit's controls through the normal WM_PAINT path, checks
// pixels of the composite and keeps it as ui_sample_form.png beside the test program.
#include <windows.h>
#include <objbase.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <string>

#include "program_folder.h"
#include "ui_test_support.h"

namespace {

constexpr COLORREF kFormColor = RGB(30, 60, 90);
constexpr COLORREF kTitleBar = 0x191919;

bool SavePng(HBITMAP bitmap, const std::wstring& path) {
  // The PNG encoder of GDI+.
  static const CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
  Gdiplus::GpBitmap* image = nullptr;
  if (Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) != Gdiplus::Ok) return false;
  bool saved = Gdiplus::DllExports::GdipSaveImageToFile(image, path.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
  Gdiplus::DllExports::GdipDisposeImage(image);
  return saved;
}

TEST(Screenshot, VisibleFormPaintsItsControls) {
  TestForm form;
  rg_ChaoJiAnNiu close;
  rg_ChaoJiLieBiaoKuang list;
  rg_button2 start;
  rg_edit_box folder;
  rg_process_bar bar;
  form.designWidth = 624;
  form.designHeight = 375;
  form.SetBorderStyle(kKelBorderNone);
  form.SetBackColor(kFormColor);
  form.Show();
  close.SetText(L"×");
  close.SetColors(
      KelButtonColors{kTitleBar, kTitleBar, RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), 0x714BF1});
  close.SetDrawHotFrame(false);
  close.SetFontDescription(L", 11, 0, 0, 0, 0, 0");
  list.SetViewType(3);
  list.SetFullRowSelect(true);
  list.SetColumnDescription(L"0\n-1\n0\n50\nID\n0\n-1\n0\n200\n文件名\n0\n-1\n0\n100\n当前状态");
  list.SetPathColumn(1);
  start.SetText(L"开始下载");
  folder.SetText(L"C:\\Games\\Brinemarch");
  bar.SetPosition(45);
  form.createChildren = [&](HWND parent) {
    close.Create(parent, &form, 579, 0, 45, 29, 101);
    list.Create(parent, &form, 12, 30, 600, 258, 103);
    start.Create(parent, &form, 532, 336, 80, 32, 105);
    folder.Create(parent, &form, 12, 300, 512, 24, 106);
    bar.Create(parent, &form, 12, 340, 512, 24, 107);
  };
  ASSERT_TRUE(form.CreateTopLevel());
  list.AppendEmptyRow();
  list.SetCellText(0, 0, L"0");
  const std::wstring path = L"Z:\\work\\clone\\build\\run\\app\\Brinemarch\\Brinemarch.part12.rar";
  list.SetCellText(0, 1, path);
  list.SetCellText(0, 2, L"下载中");
  bar.SetText(L"45%  1.53GB / 3.41GB  12.5MB/S  剩余 2分31秒");
  RedrawWindow(form.GetHwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  PumpMessages();
  // The path is wider than its column: drawn with its middle given way, the name whole.
  const std::wstring drawn = list.ListView().DrawnPathText(0).ToStdString();
  EXPECT_TRUE(drawn.ends_with(L"\\Brinemarch.part12.rar")) << testing::PrintToString(drawn);
  EXPECT_TRUE(drawn.starts_with(L"Z:\\")) << testing::PrintToString(drawn);
  EXPECT_NE(drawn.find(L"…"), std::wstring::npos) << testing::PrintToString(drawn);
  EXPECT_EQ(list.GetCellText(0, 1).ToStdString(), path) << "the cell keeps the whole path";

  Canvas canvas(624, 375);
  {
    WindowDc source(form.GetHwnd());
    ASSERT_TRUE(source);
    ASSERT_TRUE(BitBlt(canvas.Dc(), 0, 0, 624, 375, source.Get(), 0, 0, SRCCOPY));
  }
  EXPECT_EQ(canvas.Pixel(300, 10), kFormColor);  // the form's own background
  EXPECT_EQ(canvas.Pixel(582, 3), kTitleBar);    // the owner-drawn button
  EXPECT_EQ(canvas.Pixel(600, 26), kTitleBar);
  EXPECT_NE(canvas.Pixel(300, 200), kFormColor);  // the list covers its rectangle
  EXPECT_NE(canvas.Pixel(20, 352), kFormColor);   // the progress bar at 45 %
  // The bar's text: dark strokes in its middle, over the filled part and over the empty one.
  int darkFilled = 0, darkEmpty = 0;
  for (int y = 342; y < 362; ++y) {
    for (int x = 14; x < 522; ++x) {
      const COLORREF pixel = canvas.Pixel(x, y);
      if (GetRValue(pixel) + GetGValue(pixel) + GetBValue(pixel) > 120) continue;
      ++(x < 12 + 512 * 45 / 100 ? darkFilled : darkEmpty);
    }
  }
  EXPECT_GT(darkFilled, 20);
  EXPECT_GT(darkEmpty, 20);

  HBITMAP pixels = static_cast<HBITMAP>(GetCurrentObject(canvas.Dc(), OBJ_BITMAP));
  EXPECT_TRUE(SavePng(pixels, ProgramFolder() + L"ui_sample_form.png"));
}

}  // namespace
