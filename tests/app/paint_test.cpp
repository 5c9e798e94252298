// What the list shows on screen during a fast run: every row that has its texts must show
// them in pixels, not only in the control's data.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "runtime/win_handles.h"

namespace {

// The list's client area as 32-bit pixels, taken from the screen or through PrintWindow.
std::vector<uint32_t> Capture(HWND list, bool fromScreen, int& width, int& height) {
  RECT client{};
  GetClientRect(list, &client);
  width = client.right;
  height = client.bottom;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, bitmap);
  if (fromScreen) {
    POINT origin{0, 0};
    ClientToScreen(list, &origin);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
  } else {
    PrintWindow(list, memory, PW_CLIENTONLY);
  }
  GdiFlush();
  std::vector<uint32_t> pixels(static_cast<const uint32_t*>(bits), static_cast<const uint32_t*>(bits) + width * height);
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(bitmap);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// Rows whose band holds dark (text) pixels.
int RowsWithTextPixels(HWND list, const std::vector<uint32_t>& pixels, int width, int rows) {
  int painted = 0;
  for (int row = 0; row < rows; ++row) {
    RECT band{LVIR_BOUNDS, 0, 0, 0};
    SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&band));
    int dark = 0;
    for (int y = std::max<LONG>(band.top, 0); y < band.bottom && y < static_cast<int>(pixels.size() / width); ++y) {
      for (int x = 0; x < width; ++x) {
        const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
        dark += ((p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF)) < 3 * 110 ? 1 : 0;
      }
    }
    painted += dark >= 20 ? 1 : 0;
  }
  return painted;
}

using PaintTest = EngineRunTest;

TEST_F(PaintTest, EveryRowWithTextsShowsThemOnScreen) {
  // The moment the most rows have their texts (at full speed the first finish before the last
  // start): what the screen and what the list's own painting show then.
  int best = 0, onScreen = -1, printed = -1;
  CreateWindowWithTheEngine([&](TestMainWindow& window, const RunSample& sample) {
    const int withTexts = sample.RowsWithStatus();
    if (withTexts <= best) return;
    HWND list = window.fileList.GetHwnd();
    int width = 0, height = 0;
    const auto screen = Capture(list, true, width, height);
    const auto print = Capture(list, false, width, height);
    best = withTexts;
    onScreen = RowsWithTextPixels(list, screen, width, sample.Rows());
    printed = RowsWithTextPixels(list, print, width, sample.Rows());
  });
  ShowWindow(window_->GetHwnd(), SW_SHOWNA);
  UpdateWindow(window_->GetHwnd());
  Click(*window_, window_->startButton);
  std::printf(
      "figures: %zu samples; at most %d rows with texts, of them with text pixels on screen %d, "
      "through PrintWindow %d\n",
      watch_->samples.size(), best, onScreen, printed);
  ASSERT_GT(best, 1) << "the run ended before rows had texts";
  // The list's own painting is taken a moment later, when a row more may have its texts; and
  // every row shows its listed size from the start, before its state.
  EXPECT_GE(printed, best);
  EXPECT_GE(onScreen, best);
}

}  // namespace
