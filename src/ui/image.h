// Images for the toolkit: GDI+ started on first use under one process-wide lock, PNG (and
// the other formats GDI+ reads) decoded into device-independent bitmaps, and the module that
// holds the program's resources (icons, images, sounds).
// Any thread may decode; the GDI+ start and shutdown are serialised by the lock. Shutdown is
// for the end of the process, after every decode has returned.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>

#include "runtime/mem.h"
#include "runtime/win_handles.h"

// The module resources are loaded from: the one set by SetResourceModule, or the program's
// own module before one was set.
HMODULE ResourceModule();
void SetResourceModule(HMODULE module);

// Decodes an image file held in memory into a top-down DIB section: 32 bits per pixel with
// premultiplied alpha when the image has an alpha channel, otherwise 24 bits. Null when the
// bytes are not an image or GDI+ cannot be started (the start is retried next time).
HBITMAP DecodeImage(const void* bytes, size_t length);

// Kinds of LoadImageResource.
enum KelImageKind : int {
  kKelImageBitmap = 0,     // RCDATA holding an image file, decoded to a DIB (HBITMAP)
  kKelImageCursor = 1,     // cursor resource (HCURSOR)
  kKelImageIcon = 2,       // group icon resource at the default icon size (HICON)
  kKelImageImageList = 3,  // RCDATA image cut into square cells (HIMAGELIST)
};
// The handle of the kind asked for, owned by the caller; null for id 0 or a failure.
HANDLE LoadImageResource(int kind, int id);
// An image list of square cells cut from a strip (cells as high as the strip and as wide as
// its height rounded up to even; magenta is the mask colour). The strip stays the caller's.
HIMAGELIST ImageListFromStrip(HBITMAP strip);
// An RCDATA image of ResourceModule() decoded as by DecodeImage.
HBITMAP LoadBitmapResource(int id);

// Copies a resource of the resource module; false when it is missing (id 0 gives an empty
// set and true).
bool LoadRawResource(int id, const wchar_t* type, CKelMem& bytes);

// True while GDI+ is started.
bool IsGdiplusStarted();
// Shuts GDI+ down if it was started (under the lock).
void ShutdownGdiplus();

// Size of a bitmap in pixels and whether it carries alpha (32 bits per pixel).
struct KelBitmapInfo {
  int width = 0;
  int height = 0;
  bool hasAlpha = false;
};
KelBitmapInfo GetBitmapInfo(HBITMAP bitmap);
