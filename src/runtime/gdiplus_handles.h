// Owners of GDI+ handles, beside the Win32 ones of runtime/win_handles.h: the token of a
// started GDI+ and a flat-API bitmap. Close them before the GDI+ session they belong to ends.
#pragma once

#include <windows.h>
#include <gdiplus.h>

#include "runtime/win_handles.h"

namespace win_handle_traits {

struct GdiplusToken {
  using Type = ULONG_PTR;
  static Type Empty() { return 0; }
  static bool IsValid(Type h) { return h != 0; }
  static void Close(Type h) { Gdiplus::GdiplusShutdown(h); }
};

struct GpBitmap {
  using Type = Gdiplus::GpBitmap*;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { Gdiplus::DllExports::GdipDisposeImage(h); }
};

}  // namespace win_handle_traits

using UniqueGdiplusToken = UniqueResource<win_handle_traits::GdiplusToken>;  // from GdiplusStartup
using UniqueGpBitmap = UniqueResource<win_handle_traits::GpBitmap>;
