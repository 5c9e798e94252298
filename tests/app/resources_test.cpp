// The runtime state's resource services over the program's own resources and a few test ones.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "app/app_instance.h"
#include "ui/image.h"

namespace {

constexpr int kShortString = 7001;
constexpr int kLongString = 7002;  // 5000 characters: more than one first buffer
constexpr int kTextWithMark = 7101;
constexpr int kTextWithoutMark = 7102;

TEST(ResourcesTest, StringsLoadWhateverTheirLength) {
  const CKelAppInstance& app = KelAppInstance();
  CWString text;
  ASSERT_TRUE(app.LoadStringResource(kShortString, text));
  EXPECT_EQ(text, L"潮汐之境");
  ASSERT_TRUE(app.LoadStringResource(kLongString, text));
  ASSERT_EQ(text.Length(), 5000);
  EXPECT_EQ(text.Left(10), L"Brinemarch");
  EXPECT_EQ(text.Right(10), L"Brinemarch");
}

TEST(ResourcesTest, StringIdZeroIsEmptyAndAMissingOneFails) {
  const CKelAppInstance& app = KelAppInstance();
  CWString text(L"old");
  EXPECT_TRUE(app.LoadStringResource(0, text));
  EXPECT_TRUE(text.IsEmpty());
  text = L"old";
  EXPECT_FALSE(app.LoadStringResource(7999, text));
  EXPECT_EQ(text, L"old");
}

TEST(ResourcesTest, TheProgramsImagesDecodeAtWindowSize) {
  const CKelAppInstance& app = KelAppInstance();
  for (int id : {500, 502}) {
    UniqueBitmap image(static_cast<HBITMAP>(app.LoadImageResource(kKelImageBitmap, id)));
    ASSERT_TRUE(image) << id;
    KelBitmapInfo info = GetBitmapInfo(image.Get());
    EXPECT_EQ(info.width, 624) << id;
    EXPECT_EQ(info.height, 375) << id;
  }
  EXPECT_EQ(app.LoadImageResource(kKelImageBitmap, 0), nullptr);
}

TEST(ResourcesTest, TheProgramsIconsAndSoundArePresent) {
  const CKelAppInstance& app = KelAppInstance();
  for (int id : {100, 501}) {
    UniqueIcon icon(static_cast<HICON>(app.LoadImageResource(kKelImageIcon, id)));
    EXPECT_TRUE(icon) << id;
  }
  CKelMem sound;
  ASSERT_TRUE(app.LoadRawResource(29185, sound, L"WAVE"));
  ASSERT_GT(sound.Size(), 44);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sound.Data()), 4), "RIFF");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sound.Data()) + 8, 4), "WAVE");
}

TEST(ResourcesTest, RawResourcesKeepTheirBytes) {
  const CKelAppInstance& app = KelAppInstance();
  CKelMem png;
  ASSERT_TRUE(app.LoadDataResource(500, png));
  ASSERT_GT(png.Size(), 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(png.Data()) + 1, 3), "PNG");
  UniqueBitmap decoded(app.DecodeImage(png.Data(), static_cast<size_t>(png.Size())));
  EXPECT_EQ(GetBitmapInfo(decoded.Get()).width, 624);

  CKelMem none(png);
  EXPECT_TRUE(app.LoadDataResource(0, none));
  EXPECT_TRUE(none.IsEmpty());
  CKelMem kept(png);
  EXPECT_FALSE(app.LoadDataResource(7998, kept));
  EXPECT_TRUE(kept.SameBytes(png));
}

TEST(ResourcesTest, TextResourcesDropTheirByteOrderMark) {
  const CKelAppInstance& app = KelAppInstance();
  CWString text;
  ASSERT_TRUE(app.LoadTextResource(kTextWithMark, text));
  EXPECT_EQ(text, L"潮汐之境 Brinemarch");
  ASSERT_TRUE(app.LoadTextResource(kTextWithoutMark, text));
  EXPECT_EQ(text, L"无标记");
}

TEST(ResourcesTest, ImagesLoadFromFilesToo) {
  const CKelAppInstance& app = KelAppInstance();
  CKelMem png;
  ASSERT_TRUE(app.LoadDataResource(502, png));
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  const std::wstring path = std::wstring(folder) + L"bm_app_image_file.png";
  ASSERT_TRUE(png.WriteToFile(CWString(path.c_str())));
  UniqueBitmap image(static_cast<HBITMAP>(app.LoadImageFile(kKelImageBitmap, path.c_str())));
  ASSERT_TRUE(image);
  EXPECT_EQ(GetBitmapInfo(image.Get()).height, 375);
  // Cells as high as the image and as wide as its height rounded up to even: 375 -> 376.
  HIMAGELIST list = static_cast<HIMAGELIST>(app.LoadImageFile(kKelImageImageList, path.c_str()));
  ASSERT_NE(list, nullptr);
  int width = 0, height = 0;
  ImageList_GetIconSize(list, &width, &height);
  EXPECT_EQ(width, 376);
  EXPECT_EQ(height, 375);
  ImageList_Destroy(list);
  EXPECT_EQ(app.LoadImageFile(kKelImageBitmap, L""), nullptr);
  EXPECT_EQ(app.LoadImageFile(kKelImageBitmap, (std::wstring(folder) + L"bm_app_missing.png").c_str()), nullptr);
  DeleteFileW(path.c_str());
}

}  // namespace
