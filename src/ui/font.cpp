#include "ui/font.h"

#include <cwchar>

#include "runtime/arrays.h"
#include "runtime/convert.h"

LOGFONTW DefaultLogFont() {
  LOGFONTW font{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = PROOF_QUALITY;
  font.lfPitchAndFamily = static_cast<BYTE>((font.lfPitchAndFamily & 0xF0) | DEFAULT_PITCH);
  return font;
}

int PointsToFontHeight(int points) {
  WindowDc screen(nullptr);
  int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 96;
  return -MulDiv(points, dpi, 72);
}

LOGFONTW ParseFontDescription(CWTextRef description) {
  LOGFONTW font = DefaultLogFont();
  rg_WenBenShuZuLei fields;
  int64_t count = fields.Split(description, L",", true, false);
  auto isOne = [&](int64_t index) { return index < count && fields.Get(index) == L"1"; };
  if (count > 0 && !fields.Get(0).IsEmpty()) {
    // LF_FACESIZE holds 31 characters and the terminator.
    CWString face = fields.Get(0).Left(LF_FACESIZE - 1);
    wmemset(font.lfFaceName, 0, LF_FACESIZE);
    wmemcpy(font.lfFaceName, face.GetText(), static_cast<size_t>(face.Length()));
  }
  if (count > 1) {
    int64_t points = TextToInt64(fields.Get(1));
    if (points > 0 && points < 0x10000) font.lfHeight = PointsToFontHeight(static_cast<int>(points));
  }
  if (count > 2) font.lfWeight = isOne(2) ? FW_BOLD : FW_NORMAL;
  if (count > 3) font.lfItalic = isOne(3) ? TRUE : FALSE;
  if (count > 4) font.lfUnderline = isOne(4) ? TRUE : FALSE;
  if (count > 5) font.lfStrikeOut = isOne(5) ? TRUE : FALSE;
  if (count > 6) {
    int64_t rotation = TextToInt64(fields.Get(6)) % 3600;
    if (rotation < 0) rotation += 3600;
    font.lfEscapement = static_cast<LONG>(rotation);
    font.lfOrientation = static_cast<LONG>(rotation);
  }
  return font;
}

UniqueFont CreateDefaultControlFont() {
  LOGFONTW font = DefaultLogFont();
  font.lfHeight = PointsToFontHeight(9);
  return UniqueFont(CreateFontIndirectW(&font));
}
