// PNG decoding through GDI+ (from RCDATA and from memory) and the picture box, whose alpha
// pixels must be blended over its own background or, when transparent, over its parent.
#include <gtest/gtest.h>

#include "ui_test_support.h"

namespace {

constexpr int kAlphaPng = 601;   // 16 x 8: left half red at alpha 128, right half transparent
constexpr int kOpaquePng = 602;  // 6 x 4 green 200, no alpha

// Red 255 at alpha 128 over a background colour.
COLORREF HalfRedOver(COLORREF back) {
  auto mix = [](int top, int bottom) { return (top * 128 + bottom * 127 + 127) / 255; };
  return RGB(mix(255, GetRValue(back)), mix(0, GetGValue(back)), mix(0, GetBValue(back)));
}

const unsigned char* DibPixel(HBITMAP bitmap, int x, int y) {
  DIBSECTION section{};
  if (GetObjectW(bitmap, sizeof section, &section) != sizeof section) return nullptr;
  const auto* bits = static_cast<const unsigned char*>(section.dsBm.bmBits);
  return bits + y * section.dsBm.bmWidthBytes + x * (section.dsBm.bmBitsPixel / 8);
}

TEST(Image, DecodesAlphaPngFromMemoryPremultiplied) {
  CKelMem bytes;
  ASSERT_TRUE(LoadRawResource(kAlphaPng, RT_RCDATA, bytes));
  ASSERT_GT(bytes.Size(), 8);
  UniqueBitmap bitmap(DecodeImage(bytes.Data(), static_cast<size_t>(bytes.Size())));
  ASSERT_TRUE(bitmap);
  EXPECT_TRUE(IsGdiplusStarted());
  KelBitmapInfo info = GetBitmapInfo(bitmap.Get());
  EXPECT_EQ(info.width, 16);
  EXPECT_EQ(info.height, 8);
  EXPECT_TRUE(info.hasAlpha);
  const unsigned char* red = DibPixel(bitmap.Get(), 2, 3);
  ASSERT_NE(red, nullptr);
  EXPECT_NEAR(red[3], 128, 1);  // alpha
  EXPECT_NEAR(red[2], 128, 1);  // red, premultiplied
  EXPECT_EQ(red[1], 0);
  EXPECT_EQ(red[0], 0);
  const unsigned char* clear = DibPixel(bitmap.Get(), 12, 3);
  EXPECT_EQ(clear[3], 0);
  EXPECT_EQ(clear[1], 0);  // premultiplied away
}

TEST(Image, OpaquePngGivesTwentyFourBits) {
  UniqueBitmap bitmap(LoadBitmapResource(kOpaquePng));
  ASSERT_TRUE(bitmap);
  KelBitmapInfo info = GetBitmapInfo(bitmap.Get());
  EXPECT_EQ(info.width, 6);
  EXPECT_EQ(info.height, 4);
  EXPECT_FALSE(info.hasAlpha);
  const unsigned char* pixel = DibPixel(bitmap.Get(), 5, 3);
  EXPECT_EQ(pixel[0], 0);
  EXPECT_EQ(pixel[1], 200);
  EXPECT_EQ(pixel[2], 0);
}

TEST(Image, FailuresGiveNothing) {
  const char junk[] = "not an image at all";
  EXPECT_EQ(DecodeImage(junk, sizeof junk), nullptr);
  EXPECT_EQ(DecodeImage(nullptr, 10), nullptr);
  EXPECT_EQ(LoadBitmapResource(0), nullptr);
  EXPECT_EQ(LoadBitmapResource(999), nullptr);
  CKelMem bytes;
  EXPECT_FALSE(LoadRawResource(999, RT_RCDATA, bytes));
  EXPECT_TRUE(LoadRawResource(0, RT_RCDATA, bytes));
  EXPECT_TRUE(bytes.IsEmpty());
  EXPECT_EQ(LoadImageResource(kKelImageBitmap, 0), nullptr);
}

TEST(Image, GdiplusStartsAgainAfterShutdown) {
  ShutdownGdiplus();
  EXPECT_FALSE(IsGdiplusStarted());
  UniqueBitmap bitmap(LoadBitmapResource(kOpaquePng));
  EXPECT_TRUE(bitmap);
  EXPECT_TRUE(IsGdiplusStarted());
}

TEST(Image, ImageListCellsAreSquareAndEven) {
  HIMAGELIST list = static_cast<HIMAGELIST>(LoadImageResource(kKelImageImageList, kAlphaPng));
  ASSERT_NE(list, nullptr);
  int width = 0, height = 0;
  ImageList_GetIconSize(list, &width, &height);
  EXPECT_EQ(width, 8);
  EXPECT_EQ(height, 8);
  EXPECT_EQ(ImageList_GetImageCount(list), 2);
  ImageList_Destroy(list);
}

TEST(PictureBox, TransparentBoxBlendsOverItsParent) {
  const COLORREF blue = RGB(0, 0, 255);
  TestForm form;
  rg_TuPianKuang picture;
  form.SetBorderStyle(kKelBorderNone);
  form.SetBackColor(blue);
  ASSERT_TRUE(picture.SetImageResource(kAlphaPng));
  picture.SetTransparent(true);
  form.createChildren = [&](HWND parent) { picture.Create(parent, &form, 20, 10, 40, 30, 108); };
  ASSERT_TRUE(form.CreateTopLevel());
  EXPECT_TRUE(GetWindowLongPtrW(picture.GetHwnd(), GWL_EXSTYLE) & WS_EX_TRANSPARENT);
  EXPECT_EQ(GetWindowLongPtrW(picture.GetHwnd(), GWLP_USERDATA), kKelWindowMark);
  wchar_t className[32] = {};
  GetClassNameW(picture.GetHwnd(), className, 32);
  EXPECT_STREQ(className, L"KelContainer");

  Canvas canvas(40, 30);
  RenderClient(picture.GetHwnd(), canvas);
  EXPECT_LE(ColorDistance(canvas.Pixel(2, 2), HalfRedOver(blue)), 2);
  EXPECT_EQ(canvas.Pixel(12, 2), blue);   // transparent pixels show the form
  EXPECT_EQ(canvas.Pixel(30, 20), blue);  // beyond the image
}

TEST(PictureBox, OpaqueBoxBlendsOverItsOwnColour) {
  const COLORREF green = RGB(0, 255, 0);
  TestForm form;
  rg_TuPianKuang picture;
  form.SetBackColor(RGB(0, 0, 255));
  picture.SetBackColor(green);
  ASSERT_TRUE(picture.SetImageResource(kAlphaPng));
  form.createChildren = [&](HWND parent) { picture.Create(parent, &form, 0, 0, 40, 30, 1); };
  ASSERT_TRUE(form.CreateTopLevel());
  EXPECT_EQ(GetWindowLongPtrW(picture.GetHwnd(), GWL_EXSTYLE) & WS_EX_TRANSPARENT, 0);

  Canvas canvas(40, 30);
  RenderClient(picture.GetHwnd(), canvas);
  EXPECT_LE(ColorDistance(canvas.Pixel(3, 5), HalfRedOver(green)), 2);
  EXPECT_EQ(canvas.Pixel(14, 5), green);
}

TEST(PictureBox, FitModeScalesDownAndCentres) {
  const COLORREF white = RGB(255, 255, 255);
  TestForm form;
  rg_TuPianKuang picture;
  picture.SetBackColor(white);
  ASSERT_TRUE(picture.SetImageResource(kAlphaPng));
  picture.SetImageMode(kKelImageFit);
  // 16 x 8 into 8 x 8: drawn at 8 x 4 from row 2.
  form.createChildren = [&](HWND parent) { picture.Create(parent, &form, 0, 0, 8, 8, 1); };
  ASSERT_TRUE(form.CreateTopLevel());
  Canvas canvas(8, 8);
  RenderClient(picture.GetHwnd(), canvas);
  EXPECT_EQ(canvas.Pixel(1, 0), white);
  EXPECT_EQ(canvas.Pixel(1, 7), white);
  EXPECT_LE(ColorDistance(canvas.Pixel(1, 3), HalfRedOver(white)), 3);
  EXPECT_EQ(canvas.Pixel(6, 3), white);
}

TEST(PictureBox, UndecodableImageLeavesNoImage) {
  rg_TuPianKuang picture;
  EXPECT_FALSE(picture.SetImageResource(999));
  EXPECT_FALSE(picture.HasImage());
  EXPECT_TRUE(picture.SetImageResource(kOpaquePng));
  EXPECT_TRUE(picture.HasImage());
  const char junk[] = "\x89PNG broken";
  EXPECT_FALSE(picture.SetImageBytes(junk, sizeof junk));
  EXPECT_FALSE(picture.HasImage());
}

TEST(PictureBox, FormBackgroundImage) {
  TestForm form;
  form.SetBorderStyle(kKelBorderNone);
  form.SetBackColor(RGB(0, 0, 0));
  ASSERT_TRUE(form.SetImageResource(kOpaquePng));
  ASSERT_TRUE(form.CreateTopLevel());
  Canvas canvas(20, 20);
  RenderClient(form.GetHwnd(), canvas);
  EXPECT_EQ(canvas.Pixel(0, 0), RGB(0, 200, 0));
  EXPECT_EQ(canvas.Pixel(5, 3), RGB(0, 200, 0));
  EXPECT_EQ(canvas.Pixel(6, 4), RGB(0, 0, 0));
}

}  // namespace
