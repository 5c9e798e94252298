// Helpers of the toolkit tests: a form whose children come from the test, an off-screen
// canvas to render windows into, and message pumping on the test (user-interface) thread.
#pragma once

#include <windows.h>

#include <functional>

#include "window_helpers.h"
#include "ui/ui.h"

// Created hidden unless a test shows it: hiding or destroying a visible top-level window costs
// seconds on a display without a window manager.
class TestForm : public CKelWinForm {
 public:
  TestForm() { SetStoredStyle(WS_VISIBLE, 0); }
  int DesignWidth() const override { return designWidth; }
  int DesignHeight() const override { return designHeight; }
  void CreateChildren() override {
    if (createChildren) createChildren(GetHwnd());
  }

  int designWidth = 320;
  int designHeight = 200;
  std::function<void(HWND parent)> createChildren;
};

// A 32-bit top-down bitmap selected into a memory DC, pre-filled with magenta.
class Canvas {
 public:
  Canvas(int width, int height);
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  ~Canvas() {
    if (dc_) SelectObject(dc_.Get(), previous_);
  }

  HDC Dc() const { return dc_.Get(); }
  COLORREF Pixel(int x, int y) const;

 private:
  int width_;
  int height_;
  const unsigned char* bits_ = nullptr;
  UniqueDc dc_;
  UniqueBitmap bitmap_;
  HGDIOBJ previous_ = nullptr;
};

// Renders the window's client area through WM_PRINTCLIENT.
void RenderClient(HWND window, Canvas& canvas);
// Channel-wise distance of two colours.
int ColorDistance(COLORREF a, COLORREF b);
