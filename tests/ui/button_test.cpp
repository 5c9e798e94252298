// Buttons: owner-drawn colours in the normal, hot and toggled states (rendered and read back
// pixel by pixel), hot tracking rules, default colours, and click events through reflection.
#include <gtest/gtest.h>

#include "ui_test_support.h"

namespace {

constexpr COLORREF kTitleBar = 0x191919;
constexpr COLORREF kCloseHover = 0x714BF1;

struct Clicks {
  void OnClick(CKelObject* sender, int32_t extra) {
    lastSender = sender;
    lastExtra = extra;
    ++count;
  }
  CKelObject* lastSender = nullptr;
  int32_t lastExtra = 0;
  int count = 0;
  EventTarget<Clicks> events{this};
};

KelButtonColors TitleBarScheme(COLORREF hover) {
  return KelButtonColors{kTitleBar, kTitleBar, RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), hover};
}

class OwnerDrawnButton : public ::testing::Test {
 protected:
  void SetUp() override {
    close.SetText(L"×");
    close.SetColors(TitleBarScheme(kCloseHover));
    close.SetDrawHotFrame(false);
    close.SetFontDescription(L", 11, 0, 0, 0, 0, 0");
    form.SetBorderStyle(kKelBorderNone);
    form.createChildren = [this](HWND parent) { close.Create(parent, &form, 100, 0, 45, 29, 101); };
    ASSERT_TRUE(form.CreateTopLevel());
  }

  COLORREF Corner() {
    Canvas canvas(45, 29);
    RenderClient(close.GetHwnd(), canvas);
    return canvas.Pixel(2, 2);
  }

  TestForm form;
  rg_ChaoJiAnNiu close;
};

TEST_F(OwnerDrawnButton, NormalThenHotThenNormalAgain) {
  EXPECT_EQ(Corner(), kTitleBar);
  EXPECT_FALSE(close.Properties().IsHot());

  SendMessageW(close.GetHwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
  EXPECT_TRUE(close.Properties().IsHot());
  EXPECT_EQ(Corner(), kCloseHover);

  SendMessageW(close.GetHwnd(), WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(close.Properties().IsHot());
  EXPECT_EQ(Corner(), kTitleBar);
}

TEST_F(OwnerDrawnButton, TextUsesTheSchemeColour) {
  // The glyph's pixels (smoothed at their edges) take the scheme's text colour, and follow it
  // when the scheme changes; the dark background matches neither test.
  auto pixelsWhere = [this](bool (*matches)(COLORREF)) {
    Canvas canvas(45, 29);
    RenderClient(close.GetHwnd(), canvas);
    int count = 0;
    for (int y = 0; y < 29; ++y) {
      for (int x = 0; x < 45; ++x) count += matches(canvas.Pixel(x, y)) ? 1 : 0;
    }
    return count;
  };
  auto light = [](COLORREF c) { return GetRValue(c) > 128 && GetGValue(c) > 128 && GetBValue(c) > 128; };
  auto green = [](COLORREF c) { return GetGValue(c) > 100 && GetGValue(c) > GetRValue(c) + 60; };
  EXPECT_GE(pixelsWhere(light), 4);
  EXPECT_EQ(pixelsWhere(green), 0);
  const COLORREF text = RGB(0, 200, 0);
  close.SetColors(KelButtonColors{kTitleBar, kTitleBar, text, text, text, kCloseHover});
  EXPECT_GE(pixelsWhere(green), 4);
  EXPECT_EQ(pixelsWhere(light), 0);
}

TEST_F(OwnerDrawnButton, NoHotStateWhileAMouseButtonIsDown) {
  SendMessageW(close.GetHwnd(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(10, 10));
  EXPECT_FALSE(close.Properties().IsHot());
}

TEST_F(OwnerDrawnButton, NonFlatButtonsDoNotTrack) {
  close.SetFlat(false);
  SendMessageW(close.GetHwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
  EXPECT_FALSE(close.Properties().IsHot());
  // The raised border frames a non-flat button; the inside keeps the normal background.
  Canvas canvas(45, 29);
  RenderClient(close.GetHwnd(), canvas);
  EXPECT_NE(canvas.Pixel(0, 0), kTitleBar);
  EXPECT_EQ(canvas.Pixel(4, 4), kTitleBar);
}

TEST_F(OwnerDrawnButton, ClickFiresThroughReflectionAndTogglesInToggleMode) {
  Clicks clicks;
  close.onClicked.Bind<&Clicks::OnClick>(clicks.events, 7);
  SendMessageW(form.GetHwnd(), WM_COMMAND, MAKEWPARAM(101, BN_CLICKED), reinterpret_cast<LPARAM>(close.GetHwnd()));
  EXPECT_EQ(clicks.count, 1);
  EXPECT_EQ(clicks.lastSender, &close);
  EXPECT_EQ(clicks.lastExtra, 7);
  EXPECT_FALSE(close.IsToggled());

  close.SetToggleMode(true);
  SendMessageW(form.GetHwnd(), WM_COMMAND, MAKEWPARAM(101, BN_CLICKED), reinterpret_cast<LPARAM>(close.GetHwnd()));
  EXPECT_EQ(clicks.count, 2);
  EXPECT_TRUE(close.IsToggled());
  EXPECT_EQ(Corner(), kCloseHover);  // a toggled button shows the pressed colours
}

TEST_F(OwnerDrawnButton, UnboundClickDoesNothing) {
  SendMessageW(form.GetHwnd(), WM_COMMAND, MAKEWPARAM(101, BN_CLICKED), reinterpret_cast<LPARAM>(close.GetHwnd()));
  EXPECT_TRUE(close.HasWindow());
  EXPECT_FALSE(close.IsToggled());
  EXPECT_EQ(Corner(), kTitleBar);
  // Nothing of it is left over for a handler bound afterwards: that one sees its own click.
  Clicks clicks;
  close.onClicked.Bind<&Clicks::OnClick>(clicks.events, 1);
  SendMessageW(form.GetHwnd(), WM_COMMAND, MAKEWPARAM(101, BN_CLICKED), reinterpret_cast<LPARAM>(close.GetHwnd()));
  EXPECT_EQ(clicks.count, 1);
}

TEST(ButtonColors, HotBackgroundLightensEveryChannelEqually) {
  INT element = COLOR_BTNFACE;
  COLORREF saved = GetSysColor(COLOR_BTNFACE);
  COLORREF face = RGB(200, 230, 100);  // lifts 32, 25, 32: the smallest is 25
  ASSERT_TRUE(SetSysColors(1, &element, &face));
  KelButtonColors colors = DefaultButtonColors();
  COLORREF bright = RGB(240, 250, 10);  // lifts 15, 5, 32
  SetSysColors(1, &element, &bright);
  KelButtonColors brightColors = DefaultButtonColors();
  SetSysColors(1, &element, &saved);

  EXPECT_EQ(colors.normalBack, face);
  EXPECT_EQ(colors.focusBack, face);
  EXPECT_EQ(colors.hotBack, RGB(225, 255, 125));
  EXPECT_EQ(brightColors.hotBack, RGB(245, 255, 15));
}

TEST(PushButton, ClickFiresWithTheButtonAsSender) {
  Clicks clicks;
  TestForm form;
  rg_button2 browse;
  rg_button2 start;
  browse.SetText(L"浏览");
  browse.onClicked.Bind<&Clicks::OnClick>(clicks.events);
  form.createChildren = [&](HWND parent) {
    browse.Create(parent, &form, 0, 0, 80, 32, 104);
    start.Create(parent, &form, 0, 40, 80, 32, 105);
  };
  ASSERT_TRUE(form.CreateTopLevel());
  SendMessageW(browse.GetHwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks.count, 1);
  EXPECT_EQ(clicks.lastSender, &browse);
  SendMessageW(start.GetHwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks.count, 1);

  browse.UnregisterListener();
  SendMessageW(browse.GetHwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks.count, 1);
  browse.RegisterListener();
  SendMessageW(browse.GetHwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks.count, 2);
}

}  // namespace
