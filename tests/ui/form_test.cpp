// The form: styles by border style and title, size and centring, position states, window
// shapes, the pre-translation protocol (Escape, drag to move, the handler first) and closing.
#include <gtest/gtest.h>

#include "ui_test_support.h"

namespace {

struct FormEvents {
  int32_t OnPreTranslate(MSG*) { return consumePreTranslate ? 1 : 0; }
  int32_t OnCloseRequest() { return vetoClose ? 1 : 0; }
  void OnDestroyed() { ++destroyed; }
  void OnCreated() { ++created; }
  void OnTaskbarButton() { ++taskbarButtons; }

  bool consumePreTranslate = false;
  int taskbarButtons = 0;
  bool vetoClose = false;
  int destroyed = 0;
  int created = 0;
  EventTarget<FormEvents> events{this};
};

LRESULT PreTranslate(HWND form, MSG& msg, LPARAM mark = kKelWindowMark) {
  return SendMessageW(form, kKelMsgPreTranslate, reinterpret_cast<WPARAM>(&msg), mark);
}

MSG MakeMsg(HWND target, UINT message, WPARAM wp, LPARAM lp = 0) {
  MSG msg{};
  msg.hwnd = target;
  msg.message = message;
  msg.wParam = wp;
  msg.lParam = lp;
  return msg;
}

bool TakePosted(HWND window, UINT message, MSG& out) {
  return PeekMessageW(&out, window, message, message, PM_REMOVE) != FALSE;
}

TEST(Form, BorderNoneHasNoCaptionAndTheDesignSize) {
  TestForm form;
  form.designWidth = 624;
  form.designHeight = 375;
  form.SetBorderStyle(kKelBorderNone);
  form.SetTitle(L"BrinemarchOL下载器");
  ASSERT_TRUE(form.CreateTopLevel());

  DWORD style = static_cast<DWORD>(GetWindowLongPtrW(form.GetHwnd(), GWL_STYLE));
  EXPECT_EQ(style & WS_CAPTION, 0u);
  EXPECT_EQ(style & WS_THICKFRAME, 0u);
  // Shown by nothing without a caption, but the taskbar button minimises and restores only
  // a window that has them.
  EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), DWORD{WS_SYSMENU | WS_MINIMIZEBOX});
  EXPECT_TRUE(style & WS_CLIPCHILDREN);
  EXPECT_TRUE(GetWindowLongPtrW(form.GetHwnd(), GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
  RECT outer{};
  GetWindowRect(form.GetHwnd(), &outer);
  EXPECT_EQ(outer.right - outer.left, 624);
  EXPECT_EQ(outer.bottom - outer.top, 375);
  RECT client{};
  GetClientRect(form.GetHwnd(), &client);
  EXPECT_EQ(client.right, 624);
  EXPECT_EQ(client.bottom, 375);
  EXPECT_EQ(GetWindowLongPtrW(form.GetHwnd(), GWLP_USERDATA), kKelWindowMark);
  wchar_t className[32] = {};
  GetClassNameW(form.GetHwnd(), className, 32);
  EXPECT_STREQ(className, L"KelWinForm");
}

TEST(Form, ControlBoxWithEmptyTitleGetsTheDefaultTitle) {
  TestForm form;
  ASSERT_TRUE(form.CreateTopLevel());
  EXPECT_EQ(form.GetTitle().ToStdString(), std::wstring(kKelDefaultFormTitle));
  DWORD style = static_cast<DWORD>(GetWindowLongPtrW(form.GetHwnd(), GWL_STYLE));
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX), DWORD{WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX});
  EXPECT_EQ(style & WS_MAXIMIZEBOX, 0u);
  // The outer size holds the design client size plus the frame.
  RECT client{};
  GetClientRect(form.GetHwnd(), &client);
  EXPECT_EQ(client.right, 320);
  EXPECT_EQ(client.bottom, 200);
}

TEST(Form, NoControlBoxAndTheDefaultTitleShowsNoCaption) {
  TestForm form;
  form.SetControlBox(false);
  form.SetTitle(kKelDefaultFormTitle);
  ASSERT_TRUE(form.CreateTopLevel());
  EXPECT_EQ(GetWindowLongPtrW(form.GetHwnd(), GWL_STYLE) & WS_SYSMENU, 0);
  EXPECT_NE(GetWindowLongPtrW(form.GetHwnd(), GWL_STYLE) & WS_CAPTION, WS_CAPTION);
  form.SetTitle(L"工具");
  EXPECT_EQ(GetWindowLongPtrW(form.GetHwnd(), GWL_STYLE) & WS_CAPTION, WS_CAPTION);
}

TEST(Form, CentredStateCentresOnTheNearestMonitor) {
  TestForm form;
  form.SetBorderStyle(kKelBorderNone);
  form.designWidth = 300;
  form.designHeight = 160;
  form.Show();
  ASSERT_TRUE(form.CreateTopLevel());
  SetWindowPos(form.GetHwnd(), nullptr, 7, 9, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  form.SetPositionState(kKelPositionCentred);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(form.GetHwnd(), MONITOR_DEFAULTTOPRIMARY), &monitor));
  // The work area: a window centred on the whole monitor can lie under the taskbar.
  const RECT& area = monitor.rcWork;
  RECT rect{};
  GetWindowRect(form.GetHwnd(), &rect);
  EXPECT_EQ(rect.right - rect.left, 300);
  EXPECT_EQ(rect.bottom - rect.top, 160);
  EXPECT_EQ(rect.left, area.left + (area.right - area.left - 300) / 2);
  EXPECT_EQ(rect.top, area.top + (area.bottom - area.top - 160) / 2);
}

TEST(Form, DefaultPositionCentresOnThePrimaryWorkArea) {
  TestForm form;
  form.SetBorderStyle(kKelBorderNone);
  form.designWidth = 200;
  form.designHeight = 100;
  ASSERT_TRUE(form.CreateTopLevel());
  RECT area{};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
  RECT rect{};
  GetWindowRect(form.GetHwnd(), &rect);
  EXPECT_EQ(rect.left, area.left + (area.right - area.left - 200) / 2);
  EXPECT_EQ(rect.top, area.top + (area.bottom - area.top - 100) / 2);
}

TEST(Form, PositionStatesAreClamped) {
  TestForm form;
  form.SetMaximizeBox(true);
  form.Show();
  ASSERT_TRUE(form.CreateTopLevel());
  form.SetPositionState(7);
  EXPECT_EQ(form.GetPositionState(), kKelPositionMaximised);
  EXPECT_TRUE(IsZoomed(form.GetHwnd()));
  form.SetPositionState(-1);
  EXPECT_EQ(form.GetPositionState(), kKelPositionNormal);
  EXPECT_FALSE(IsZoomed(form.GetHwnd()));
  form.SetPositionState(kKelPositionMinimised);
  EXPECT_TRUE(IsIconic(form.GetHwnd()));
  form.SetPositionState(kKelPositionCentred);
  EXPECT_FALSE(IsIconic(form.GetHwnd()));
}

TEST(Form, RoundedShapeUsesAFifthOfTheSmallerSide) {
  EXPECT_EQ(KelRoundShapeDiameter(624, 375), 75);
  TestForm form;
  form.designWidth = 624;
  form.designHeight = 375;
  form.SetBorderStyle(kKelBorderNone);
  form.SetWindowShape(kKelShapeRoundRect);
  ASSERT_TRUE(form.CreateTopLevel());
  UniqueRegion region(CreateRectRgn(0, 0, 0, 0));
  ASSERT_NE(GetWindowRgn(form.GetHwnd(), region.Get()), ERROR);
  // Corner radius 37.5: (8, 8) lies outside the arc, (15, 15) inside (a diameter of 124 would
  // leave it outside), the middle of the top edge inside.
  EXPECT_FALSE(PtInRegion(region.Get(), 0, 0));
  EXPECT_FALSE(PtInRegion(region.Get(), 8, 8));
  EXPECT_TRUE(PtInRegion(region.Get(), 15, 15));
  EXPECT_TRUE(PtInRegion(region.Get(), 312, 0));
  EXPECT_FALSE(PtInRegion(region.Get(), 623, 374));

  form.SetWindowShape(kKelShapeRectangle);
  EXPECT_EQ(GetWindowRgn(form.GetHwnd(), region.Get()), ERROR);
}

TEST(Form, EscapeClosesThroughThePreTranslationProtocol) {
  FormEvents recorder;
  TestForm form;
  form.onDestroyed.Bind<&FormEvents::OnDestroyed>(recorder.events);
  ASSERT_TRUE(form.CreateTopLevel());
  HWND window = form.GetHwnd();

  MSG other = MakeMsg(window, WM_KEYDOWN, 'A');
  EXPECT_EQ(PreTranslate(window, other), 0);
  MSG escape = MakeMsg(window, WM_KEYDOWN, VK_ESCAPE);
  EXPECT_EQ(PreTranslate(window, escape, 0x1234), 0);  // without the mark: not ours
  EXPECT_EQ(PreTranslate(window, escape), kKelWindowMark);
  PumpMessages();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(form.HasWindow());
  EXPECT_EQ(recorder.destroyed, 1);
}

TEST(Form, TheTaskbarsButtonAnnouncementReachesTheForm) {
  FormEvents recorder;
  TestForm form;
  form.onTaskbarButtonCreated.Bind<&FormEvents::OnTaskbarButton>(recorder.events);
  ASSERT_TRUE(form.CreateTopLevel());
  const UINT announcement = RegisterWindowMessageW(L"TaskbarButtonCreated");
  ASSERT_NE(announcement, 0u);
  SendMessageW(form.GetHwnd(), announcement, 0, 0);
  SendMessageW(form.GetHwnd(), RegisterWindowMessageW(L"SomethingElse"), 0, 0);
  EXPECT_EQ(recorder.taskbarButtons, 1);
}

TEST(Form, EscapeIsIgnoredWhenCloseOnEscapeIsOff) {
  TestForm form;
  form.SetCloseOnEscape(false);
  ASSERT_TRUE(form.CreateTopLevel());
  MSG escape = MakeMsg(form.GetHwnd(), WM_KEYDOWN, VK_ESCAPE);
  EXPECT_EQ(PreTranslate(form.GetHwnd(), escape), 0);
  PumpMessages();
  EXPECT_TRUE(form.HasWindow());
}

TEST(Form, PreTranslateHandlerComesFirst) {
  FormEvents recorder;
  recorder.consumePreTranslate = true;
  TestForm form;
  form.onPreTranslate.Bind<&FormEvents::OnPreTranslate>(recorder.events);
  ASSERT_TRUE(form.CreateTopLevel());
  MSG escape = MakeMsg(form.GetHwnd(), WM_KEYDOWN, VK_ESCAPE);
  EXPECT_EQ(PreTranslate(form.GetHwnd(), escape), kKelWindowMark);
  MSG posted;
  EXPECT_FALSE(TakePosted(form.GetHwnd(), WM_CLOSE, posted));
  PumpMessages();
  EXPECT_TRUE(form.HasWindow());
}

TEST(Form, DragToMoveTurnsPressesIntoCaptionDrags) {
  TestForm form;
  rg_edit_box edit;
  rg_TuPianKuang picture;
  form.SetBorderStyle(kKelBorderNone);
  form.SetDragToMove(true);
  form.createChildren = [&](HWND parent) {
    edit.Create(parent, &form, 0, 0, 100, 24, 1);
    picture.Create(parent, &form, 0, 40, 100, 50, 2);
  };
  ASSERT_TRUE(form.CreateTopLevel());
  MSG posted;

  MSG onForm = MakeMsg(form.GetHwnd(), WM_LBUTTONDOWN, MK_LBUTTON);
  onForm.pt = POINT{40, 50};
  EXPECT_EQ(PreTranslate(form.GetHwnd(), onForm), kKelWindowMark);
  ASSERT_TRUE(TakePosted(form.GetHwnd(), WM_NCLBUTTONDOWN, posted));
  EXPECT_EQ(posted.wParam, static_cast<WPARAM>(HTCAPTION));
  EXPECT_EQ(posted.lParam, MAKELPARAM(40, 50));

  // A container child reports itself static; an edit does not.
  MSG onPicture = MakeMsg(picture.GetHwnd(), WM_LBUTTONDOWN, MK_LBUTTON);
  EXPECT_EQ(PreTranslate(form.GetHwnd(), onPicture), kKelWindowMark);
  EXPECT_TRUE(TakePosted(form.GetHwnd(), WM_NCLBUTTONDOWN, posted));
  MSG onEdit = MakeMsg(edit.GetHwnd(), WM_LBUTTONDOWN, MK_LBUTTON);
  EXPECT_EQ(PreTranslate(form.GetHwnd(), onEdit), 0);
  EXPECT_FALSE(TakePosted(form.GetHwnd(), WM_NCLBUTTONDOWN, posted));

  form.SetDragToMove(false);
  EXPECT_EQ(PreTranslate(form.GetHwnd(), onForm), 0);
}

TEST(Form, CloseRequestCanVeto) {
  FormEvents recorder;
  recorder.vetoClose = true;
  TestForm form;
  form.onCloseRequest.Bind<&FormEvents::OnCloseRequest>(recorder.events);
  ASSERT_TRUE(form.CreateTopLevel());
  SendMessageW(form.GetHwnd(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(form.HasWindow());
  recorder.vetoClose = false;
  SendMessageW(form.GetHwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(form.HasWindow());
}

TEST(Form, CreatedFiresAfterTheChildrenExist) {
  struct Watcher {
    void OnCreated() { childExisted = child->HasWindow(); }
    rg_button2* child = nullptr;
    bool childExisted = false;
    EventTarget<Watcher> events{this};
  } watcher;
  TestForm form;
  rg_button2 button;
  watcher.child = &button;
  form.onCreated.Bind<&Watcher::OnCreated>(watcher.events);
  form.createChildren = [&](HWND parent) { button.Create(parent, &form, 0, 0, 50, 20, 1); };
  ASSERT_TRUE(form.CreateTopLevel());
  EXPECT_TRUE(watcher.childExisted);
}

TEST(Form, DetachedTargetsAreNotCalled) {
  TestForm form;
  int destroyed = 0;
  {
    FormEvents recorder;
    form.onDestroyed.Bind<&FormEvents::OnDestroyed>(recorder.events);
    ASSERT_TRUE(form.CreateTopLevel());
    recorder.events.Detach();
    destroyed = recorder.destroyed;
  }
  form.Window()->DestroyWindow();
  EXPECT_EQ(destroyed, 0);
  EXPECT_FALSE(form.HasWindow());
}

}  // namespace

namespace {

TEST(Form, IconFallsBackToGroupIconOneHundred) {
  TestForm form;
  EXPECT_FALSE(form.SetIconResource(501));  // not in this program
  ASSERT_TRUE(form.CreateTopLevel());
  EXPECT_NE(SendMessageW(form.GetHwnd(), WM_GETICON, ICON_SMALL, 0), 0);
  EXPECT_NE(SendMessageW(form.GetHwnd(), WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_TRUE(form.SetIconResource(100));
}

}  // namespace
