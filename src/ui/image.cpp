#include "ui/image.h"

#include <objbase.h>
#include <shlwapi.h>
#include <gdiplus.h>

#include <atomic>

#include "concurrency/lock_guards.h"
#include "runtime/gdiplus_handles.h"

namespace gp = Gdiplus;
namespace gpflat = Gdiplus::DllExports;

namespace {

std::atomic<HMODULE> resourceModule{nullptr};

SRWLOCK gdiplusLock = SRWLOCK_INIT;

// The started GDI+, under gdiplusLock.
UniqueGdiplusToken& Session() {
  static UniqueGdiplusToken session;
  return session;
}

bool EnsureGdiplus() {
  CKelSrwExclusiveGuard guard(gdiplusLock);
  if (Session()) return true;
  gp::GdiplusStartupInput input;  // version 1, no debug callback, background thread on
  ULONG_PTR token = 0;
  if (gp::GdiplusStartup(&token, &input, nullptr) != gp::Ok) return false;  // retried on the next request
  Session().Reset(token);
  return true;
}

}  // namespace

HMODULE ResourceModule() {
  HMODULE module = resourceModule.load(std::memory_order_acquire);
  return module ? module : GetModuleHandleW(nullptr);
}

void SetResourceModule(HMODULE module) { resourceModule.store(module, std::memory_order_release); }

bool IsGdiplusStarted() {
  CKelSrwExclusiveGuard guard(gdiplusLock);
  return Session().IsValid();
}

void ShutdownGdiplus() {
  CKelSrwExclusiveGuard guard(gdiplusLock);
  Session().Reset();
}

HBITMAP DecodeImage(const void* bytes, size_t length) {
  if (!bytes || length == 0 || length > 0x7FFFFFFF) return nullptr;
  if (!EnsureGdiplus()) return nullptr;
  ComPtr<IStream> stream(SHCreateMemStream(static_cast<const BYTE*>(bytes), static_cast<UINT>(length)));
  if (!stream) return nullptr;
  UniqueGpBitmap image;
  if (gpflat::GdipCreateBitmapFromStream(stream.Get(), image.Address()) != gp::Ok || !image.Get()) {
    return nullptr;
  }
  UINT width = 0, height = 0, flags = 0;
  gp::PixelFormat format = 0;
  gpflat::GdipGetImageWidth(image.Get(), &width);
  gpflat::GdipGetImageHeight(image.Get(), &height);
  gpflat::GdipGetImagePixelFormat(image.Get(), &format);
  gpflat::GdipGetImageFlags(image.Get(), &flags);
  if (width == 0 || height == 0 || width > 0x7FFF || height > 0x7FFF) return nullptr;
  bool alpha = (format & (PixelFormatAlpha | PixelFormatPAlpha)) != 0 || (flags & gp::ImageFlagsHasAlpha) != 0;

  int bitsPerPixel = alpha ? 32 : 24;
  int stride = ((static_cast<int>(width) * bitsPerPixel / 8) + 3) & ~3;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<WORD>(bitsPerPixel);
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  UniqueBitmap dib(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
  if (!dib || !pixels) return nullptr;

  gp::GpRect rect(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  gp::BitmapData data{};
  data.Width = width;
  data.Height = height;
  data.Stride = stride;
  // Premultiplied, as AlphaBlend wants it.
  data.PixelFormat = alpha ? PixelFormat32bppPARGB : PixelFormat24bppRGB;
  data.Scan0 = pixels;
  GdiFlush();
  if (gpflat::GdipBitmapLockBits(image.Get(), &rect, gp::ImageLockModeRead | gp::ImageLockModeUserInputBuf,
                                 data.PixelFormat, &data) != gp::Ok) {
    return nullptr;
  }
  gpflat::GdipBitmapUnlockBits(image.Get(), &data);
  return dib.Release();
}

bool LoadRawResource(int id, const wchar_t* type, CKelMem& bytes) {
  if (id == 0) {
    bytes.Clear();
    return true;
  }
  HMODULE module = ResourceModule();
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  DWORD size = SizeofResource(module, found);
  if (!data) return false;
  CKelMem copy(data, static_cast<int64_t>(size));
  bytes = std::move(copy);
  return true;
}

HBITMAP LoadBitmapResource(int id) {
  CKelMem bytes;
  if (id == 0 || !LoadRawResource(id, RT_RCDATA, bytes)) return nullptr;
  return DecodeImage(bytes.Data(), static_cast<size_t>(bytes.Size()));
}

HANDLE LoadImageResource(int kind, int id) {
  if (id == 0) return nullptr;
  switch (kind) {
    case kKelImageBitmap:
      return LoadBitmapResource(id);
    case kKelImageCursor:
      return LoadImageW(ResourceModule(), MAKEINTRESOURCEW(id), IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE);
    case kKelImageIcon:
      return LoadImageW(ResourceModule(), MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
    case kKelImageImageList: {
      UniqueBitmap strip(LoadBitmapResource(id));
      return ImageListFromStrip(strip.Get());
    }
    default:
      return nullptr;
  }
}

HIMAGELIST ImageListFromStrip(HBITMAP strip) {
  KelBitmapInfo size = GetBitmapInfo(strip);
  if (!strip || size.height <= 0) return nullptr;
  int cell = (size.height + 1) & ~1;
  HIMAGELIST list = ImageList_Create(cell, size.height, ILC_COLOR32 | ILC_MASK, (size.width + cell - 1) / cell, 0);
  if (list) ImageList_AddMasked(list, strip, RGB(255, 0, 255));
  return list;
}

KelBitmapInfo GetBitmapInfo(HBITMAP bitmap) {
  KelBitmapInfo result;
  BITMAP header{};
  if (!bitmap || !GetObjectW(bitmap, sizeof header, &header)) return result;
  result.width = header.bmWidth;
  result.height = header.bmHeight < 0 ? -header.bmHeight : header.bmHeight;
  result.hasAlpha = header.bmBitsPixel == 32;
  return result;
}
