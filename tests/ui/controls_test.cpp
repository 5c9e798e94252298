// Creation of controls from their stored properties: ids, rectangles, texts, styles, the
// visible and enabled states recorded before creation, and fonts from descriptions.
#include <gtest/gtest.h>

#include "ui_test_support.h"

namespace {

int ScreenDpi() {
  WindowDc screen(nullptr);
  return GetDeviceCaps(screen.Get(), LOGPIXELSY);
}

LOGFONTW FontOf(HFONT font) {
  LOGFONTW logFont{};
  GetObjectW(font, sizeof logFont, &logFont);
  return logFont;
}

TEST(Controls, CreatedFromStoredProperties) {
  TestForm form;
  form.SetBorderStyle(kKelBorderNone);
  rg_button2 browse;
  rg_edit_box folder;
  rg_process_bar bar;
  rg_ChaoJiAnNiu close;
  browse.SetText(L"浏览");
  folder.Hide();
  bar.Disable();
  close.SetText(L"×");
  ASSERT_TRUE(close.SetFontDescription(L", 11, 0, 0, 0, 0, 0"));
  form.createChildren = [&](HWND parent) {
    ASSERT_TRUE(browse.Create(parent, &form, 232, 96, 80, 32, 104));
    ASSERT_TRUE(folder.Create(parent, &form, 12, 100, 200, 24, 106));
    ASSERT_TRUE(bar.Create(parent, &form, 12, 140, 200, 24, 107));
    ASSERT_TRUE(close.Create(parent, &form, 275, 0, 45, 29, 101));
  };
  ASSERT_TRUE(form.CreateTopLevel());

  EXPECT_EQ(GetDlgCtrlID(browse.GetHwnd()), 104);
  EXPECT_EQ(GetDlgCtrlID(close.GetHwnd()), 101);
  RECT rect = RectInParent(browse.GetHwnd());
  EXPECT_EQ(rect.left, 232);
  EXPECT_EQ(rect.top, 96);
  EXPECT_EQ(rect.right - rect.left, 80);
  EXPECT_EQ(rect.bottom - rect.top, 32);
  EXPECT_EQ(GetParent(browse.GetHwnd()), form.GetHwnd());

  EXPECT_EQ(browse.GetText().ToStdString(), L"浏览");
  wchar_t caption[16] = {};
  GetWindowTextW(close.GetHwnd(), caption, 16);
  EXPECT_STREQ(caption, L"×");

  DWORD buttonStyle = static_cast<DWORD>(GetWindowLongPtrW(browse.GetHwnd(), GWL_STYLE));
  EXPECT_EQ(buttonStyle & (WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | BS_MULTILINE),
            DWORD{WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | BS_MULTILINE});
  DWORD closeStyle = static_cast<DWORD>(GetWindowLongPtrW(close.GetHwnd(), GWL_STYLE));
  EXPECT_EQ(closeStyle & BS_TYPEMASK, DWORD{BS_OWNERDRAW});
  DWORD editExStyle = static_cast<DWORD>(GetWindowLongPtrW(folder.GetHwnd(), GWL_EXSTYLE));
  EXPECT_TRUE(editExStyle & WS_EX_CLIENTEDGE);

  // States recorded while no window existed.
  EXPECT_FALSE(IsWindowVisible(folder.GetHwnd()));
  EXPECT_FALSE(IsWindowEnabled(bar.GetHwnd()));
  EXPECT_TRUE(IsWindowEnabled(browse.GetHwnd()));

  // Fonts: the description's 11 points on the close button, the 9-point default elsewhere.
  LOGFONTW closeFont = FontOf(close.GetFont());
  EXPECT_EQ(closeFont.lfHeight, -MulDiv(11, ScreenDpi(), 72));
  EXPECT_EQ(closeFont.lfWeight, FW_NORMAL);
  EXPECT_STREQ(closeFont.lfFaceName, DefaultLogFont().lfFaceName);
  EXPECT_EQ(FontOf(browse.GetFont()).lfHeight, -MulDiv(9, ScreenDpi(), 72));

  // A second create changes nothing.
  HWND before = browse.GetHwnd();
  EXPECT_FALSE(browse.Create(form.GetHwnd(), &form, 0, 0, 10, 10, 999));
  EXPECT_EQ(browse.GetHwnd(), before);
  EXPECT_EQ(GetDlgCtrlID(before), 104);
}

TEST(Controls, StateChangesActOnExistingWindows) {
  TestForm form;
  rg_button2 start;
  start.SetText(L"开始下载");
  form.createChildren = [&](HWND parent) { start.Create(parent, &form, 10, 10, 80, 32, 105); };
  ASSERT_TRUE(form.CreateTopLevel());

  start.Disable();
  EXPECT_FALSE(IsWindowEnabled(start.GetHwnd()));
  start.Enable();
  EXPECT_TRUE(IsWindowEnabled(start.GetHwnd()));
  start.Hide();
  EXPECT_FALSE(start.IsVisible());
  start.Show();
  EXPECT_TRUE(start.IsVisible());
  start.SetText(L"安装游戏");
  wchar_t caption[16] = {};
  GetWindowTextW(start.GetHwnd(), caption, 16);
  EXPECT_STREQ(caption, L"安装游戏");
  EXPECT_EQ(start.GetText().ToStdString(), L"安装游戏");
}

TEST(Controls, HidingBeforeCreationClearsTheStoredVisibleBit) {
  rg_ChaoJiLieBiaoKuang list;
  EXPECT_TRUE(list.GetStoredStyle() & WS_VISIBLE);
  list.Hide();
  EXPECT_EQ(list.GetStoredStyle() & WS_VISIBLE, 0u);
  list.Disable();
  EXPECT_TRUE(list.GetStoredStyle() & WS_DISABLED);
  list.Enable();
  EXPECT_EQ(list.GetStoredStyle() & WS_DISABLED, 0u);
  EXPECT_TRUE(list.GetStoredStyle() & WS_TABSTOP);
  EXPECT_TRUE(list.GetStoredExStyle() & WS_EX_CLIENTEDGE);
}

TEST(FontDescription, FacePointsBoldAndDefaults) {
  LOGFONTW arial = ParseFontDescription(L"Arial,12,1");
  EXPECT_STREQ(arial.lfFaceName, L"Arial");
  EXPECT_EQ(arial.lfHeight, -MulDiv(12, ScreenDpi(), 72));
  EXPECT_EQ(arial.lfWeight, FW_BOLD);
  EXPECT_FALSE(arial.lfItalic);

  LOGFONTW plain = ParseFontDescription(L", 11, 0, 0, 0, 0, 0");
  LOGFONTW base = DefaultLogFont();
  EXPECT_STREQ(plain.lfFaceName, base.lfFaceName);
  EXPECT_EQ(plain.lfHeight, -MulDiv(11, ScreenDpi(), 72));
  EXPECT_EQ(plain.lfEscapement, 0);

  LOGFONTW styled = ParseFontDescription(L" Tahoma , 0 , 0 , 1 , 1 , 1 , -10");
  EXPECT_STREQ(styled.lfFaceName, L"Tahoma");
  EXPECT_EQ(styled.lfHeight, base.lfHeight);  // 0 points keeps the default height
  EXPECT_TRUE(styled.lfItalic);
  EXPECT_TRUE(styled.lfUnderline);
  EXPECT_TRUE(styled.lfStrikeOut);
  EXPECT_EQ(styled.lfEscapement, 3590);
  EXPECT_EQ(styled.lfOrientation, 3590);

  LOGFONTW turned = ParseFontDescription(L",,,,,,7250");
  EXPECT_EQ(turned.lfEscapement, 50);

  LOGFONTW garbage = ParseFontDescription(L"");
  EXPECT_EQ(garbage.lfHeight, base.lfHeight);
  EXPECT_STREQ(garbage.lfFaceName, base.lfFaceName);
}

TEST(FontDescription, LongFaceNamesAreCut) {
  LOGFONTW font = ParseFontDescription(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789,10");
  EXPECT_EQ(std::wstring(font.lfFaceName), L"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
}

TEST(FontDescription, ReplacingTheFontOfAnExistingControl) {
  TestForm form;
  rg_ChaoJiAnNiu button;
  form.createChildren = [&](HWND parent) { button.Create(parent, &form, 0, 0, 45, 29, 1); };
  ASSERT_TRUE(form.CreateTopLevel());
  ASSERT_TRUE(button.SetFontDescription(L"Arial,20,1"));
  LOGFONTW font = FontOf(reinterpret_cast<HFONT>(SendMessageW(button.GetHwnd(), WM_GETFONT, 0, 0)));
  EXPECT_EQ(font.lfHeight, -MulDiv(20, ScreenDpi(), 72));
  EXPECT_EQ(font.lfWeight, FW_BOLD);
}

TEST(EditBox, InputTypesRejectOtherCharacters) {
  struct Recorder {
    void OnChanged() { ++changes; }
    int changes = 0;
    EventTarget<Recorder> events{this};
  } recorder;
  TestForm form;
  rg_edit_box digits;
  rg_edit_box decimal;
  digits.SetInputType(kKelInputUnsigned);
  decimal.SetInputType(kKelInputDecimal);
  digits.onChanged.Bind<&Recorder::OnChanged>(recorder.events);
  form.createChildren = [&](HWND parent) {
    digits.Create(parent, &form, 0, 0, 100, 24, 1);
    decimal.Create(parent, &form, 0, 30, 100, 24, 2);
  };
  ASSERT_TRUE(form.CreateTopLevel());

  for (wchar_t ch : std::wstring(L"a7-.3")) SendMessageW(digits.GetHwnd(), WM_CHAR, ch, 0);
  EXPECT_EQ(digits.GetText().ToStdString(), L"73");
  EXPECT_GE(recorder.changes, 2);
  for (wchar_t ch : std::wstring(L"-1.5x")) SendMessageW(decimal.GetHwnd(), WM_CHAR, ch, 0);
  EXPECT_EQ(decimal.GetText().ToStdString(), L"-1.5");
}

TEST(ProgressBar, RangeAndPositionStoredThenApplied) {
  TestForm form;
  rg_process_bar bar;
  bar.SetMinimum(10);
  bar.SetMaximum(50);
  bar.SetPosition(30);
  EXPECT_EQ(bar.GetPosition(), 30);
  form.createChildren = [&](HWND parent) { bar.Create(parent, &form, 0, 0, 200, 20, 107); };
  ASSERT_TRUE(form.CreateTopLevel());

  PBRANGE range{};
  SendMessageW(bar.GetHwnd(), PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 10);
  EXPECT_EQ(range.iHigh, 50);
  EXPECT_EQ(SendMessageW(bar.GetHwnd(), PBM_GETPOS, 0, 0), 30);
  EXPECT_EQ(GetWindowLongPtrW(bar.GetHwnd(), GWL_STYLE) & PBS_VERTICAL, 0);

  // Changing one bound keeps the other.
  bar.SetMaximum(200);
  SendMessageW(bar.GetHwnd(), PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 10);
  EXPECT_EQ(range.iHigh, 200);
  bar.SetMinimum(0);
  SendMessageW(bar.GetHwnd(), PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 200);
  bar.SetPosition(150);
  EXPECT_EQ(SendMessageW(bar.GetHwnd(), PBM_GETPOS, 0, 0), 150);
  EXPECT_EQ(bar.GetPosition(), 150);
}

TEST(ProgressBar, VerticalStyleBit) {
  TestForm form;
  rg_process_bar bar;
  bar.SetVertical(true);
  form.createChildren = [&](HWND parent) { bar.Create(parent, &form, 0, 0, 20, 200, 1); };
  ASSERT_TRUE(form.CreateTopLevel());
  EXPECT_TRUE(GetWindowLongPtrW(bar.GetHwnd(), GWL_STYLE) & PBS_VERTICAL);
}

}  // namespace
