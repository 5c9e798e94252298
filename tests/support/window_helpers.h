// Small window helpers of the test programs: message dispatching (on the thread whose queue it
// is) and window geometry.
#pragma once

#include <windows.h>

// Dispatches every message already queued for this thread (WM_QUIT included, which is dropped).
inline void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// The window's rectangle in its parent's client coordinates.
inline RECT RectInParent(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}
