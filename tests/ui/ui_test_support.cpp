#include "ui_test_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

// The common controls are registered once for the whole test program, as the program does
// at start-up.
class CommonControlsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), 0xFF};
    InitCommonControlsEx(&init);
  }
  void TearDown() override { ShutdownGdiplus(); }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new CommonControlsEnvironment);

}  // namespace

Canvas::Canvas(int width, int height) : width_(width), height_(height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  bits_ = static_cast<const unsigned char*>(bits);
  dc_.Reset(CreateCompatibleDC(nullptr));
  previous_ = SelectObject(dc_.Get(), bitmap_.Get());
  UniqueBrush magenta(CreateSolidBrush(RGB(255, 0, 255)));
  RECT all{0, 0, width, height};
  FillRect(dc_.Get(), &all, magenta.Get());
}

COLORREF Canvas::Pixel(int x, int y) const {
  GdiFlush();
  if (!bits_ || x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
  const unsigned char* p = bits_ + (static_cast<size_t>(y) * width_ + x) * 4;
  return RGB(p[2], p[1], p[0]);
}

void RenderClient(HWND window, Canvas& canvas) {
  SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()), PRF_CLIENT);
}

int ColorDistance(COLORREF a, COLORREF b) {
  return std::max({std::abs(GetRValue(a) - GetRValue(b)), std::abs(GetGValue(a) - GetGValue(b)),
                   std::abs(GetBValue(a) - GetBValue(b))});
}
