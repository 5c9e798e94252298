#include "runtime/convert.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cwchar>

#include "test_print.h"

namespace {

CWString Double(double v) {
  CWString t;
  t.AppendDouble(v);
  return t;
}

CWString Float(float v) {
  CWString t;
  t.AppendFloat(v);
  return t;
}

TEST(Numbers, AppendDoubleUsesFifteenSignificantDigits) {
  EXPECT_EQ(Double(0.0000005), L"0");
  EXPECT_EQ(Double(-0.000001), L"0");
  EXPECT_EQ(Double(765.25), L"765.25");
  EXPECT_EQ(Double(1e20), L"1E+20");
  EXPECT_EQ(Double(0.000002), L"2E-06");
  EXPECT_EQ(Double(-1234567.5), L"-1234567.5");
  EXPECT_EQ(Double(0.1 + 0.2), L"0.3");
  EXPECT_EQ(Double(123456789012345678.0), L"1.23456789012346E+17");
}

TEST(Numbers, AppendFloatWidensAndUsesEightDigits) {
  EXPECT_EQ(Float(0.1f), L"0.1");
  EXPECT_EQ(Float(0.0f), L"0");
  EXPECT_EQ(Float(3.14159265f), L"3.1415927");
  EXPECT_EQ(Float(1e10f), L"1E+10");
}

TEST(Numbers, AppendIntegerAndInt64) {
  CWString t;
  t.AppendInteger(-2147483647 - 1);
  t.AppendChar(L' ');
  t.AppendInt64(INT64_MAX);
  EXPECT_EQ(t, L"-2147483648 9223372036854775807");
}

TEST(Numbers, FormattingIgnoresTheThreadLocale) {
  const char* set = setlocale(LC_ALL, "German_Germany.1252");
  wchar_t probe[32] = {};
  swprintf(probe, 32, L"%.2f", 1.5);
  const bool commaLocale = set && wcschr(probe, L',') != nullptr;
  const CWString value = Double(765.25);
  setlocale(LC_ALL, "C");
  if (!commaLocale) GTEST_SKIP() << "no locale with a decimal comma here";
  EXPECT_EQ(value, L"765.25");
}

TEST(Numbers, Int64ToTextCoversTheWholeRange) {
  EXPECT_EQ(Int64ToText(0), L"0");
  EXPECT_EQ(Int64ToText(-5), L"-5");
  EXPECT_EQ(Int64ToText(1234567890123LL), L"1234567890123");
  EXPECT_EQ(Int64ToText(INT64_MIN), L"-9223372036854775808");
  EXPECT_EQ(Int64ToText(INT64_MAX), L"9223372036854775807");
}

TEST(Numbers, ParseWholeNumberTakesDigitsAndNothingElse) {
  const struct {
    const wchar_t* text;
    bool whole;
    int64_t value;
  } cases[] = {{L"0", true, 0},
               {L"12", true, 12},
               {L"-1", true, -1},
               {L"9223372036854775807", true, INT64_MAX},
               {L"9223372036854775808", false, 0},
               {L"", false, 0},
               {L"-", false, 0},
               {L" 1", false, 0},
               {L"+1", false, 0},
               {L"1e3", false, 0},
               {L"12abc", false, 0}};
  for (const auto& c : cases) {
    int64_t value = 77;
    EXPECT_EQ(ParseWholeNumber(c.text, value), c.whole) << "case " << (&c - cases);
    EXPECT_EQ(value, c.whole ? c.value : 77) << "case " << (&c - cases);
  }
}

TEST(Numbers, TextToInt64SkipsBlanksStopsAtLettersAndSaturates) {
  EXPECT_EQ(TextToInt64(L"  -12abc"), -12);
  EXPECT_EQ(TextToInt64(L"\t\r\n+42"), 42);
  EXPECT_EQ(TextToInt64(L"99999999999999999999"), INT64_MAX);
  EXPECT_EQ(TextToInt64(L"-99999999999999999999"), INT64_MIN);
  EXPECT_EQ(TextToInt64(L"9223372036854775807"), INT64_MAX);
  EXPECT_EQ(TextToInt64(L"-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(TextToInt64(L"9223372036854775808"), INT64_MAX);
  EXPECT_EQ(TextToInt64(L"abc"), 0);
  EXPECT_EQ(TextToInt64(L""), 0);
  EXPECT_EQ(TextToInt64(L"- 5"), 0);
}

TEST(Numbers, HexTextToInt64) {
  EXPECT_EQ(HexTextToInt64(L"0x1F"), 31);
  EXPECT_EQ(HexTextToInt64(L"0XfF"), 255);
  EXPECT_EQ(HexTextToInt64(L"a0g1"), 160);
  EXPECT_EQ(HexTextToInt64(L"xyz"), 0);
  EXPECT_EQ(HexTextToInt64(L"ghij"), 0);
  EXPECT_EQ(HexTextToInt64(L"FFFFFFFFFFFFFFFF"), -1);
}

TEST(Numbers, RoundTo2HalfUpWithTheSmallLift) {
  EXPECT_DOUBLE_EQ(RoundTo2(1.005), 1.01);
  EXPECT_DOUBLE_EQ(RoundTo2(-2.344), -2.34);
  EXPECT_DOUBLE_EQ(RoundTo2(-2.345), -2.35);
  EXPECT_DOUBLE_EQ(RoundTo2(2.5), 2.5);
  EXPECT_DOUBLE_EQ(RoundTo2(12.344999), 12.34);
  EXPECT_EQ(RoundTo2(0.0000004), 0.0000004);
  EXPECT_EQ(RoundTo2(-0.000001), -0.000001);
}

TEST(Dates, WesternAndChineseTextOmitZeroTimeFields) {
  const double midnight = MakeDateTime(2024, 3, 5, 0, 0, 0, 0);
  EXPECT_EQ(DateTimeToText(midnight, false), L"3/5/2024");
  EXPECT_EQ(DateTimeToText(midnight, true), L"2024年3月5日");
  const double morning = MakeDateTime(2024, 3, 5, 8, 0, 30, 0);
  EXPECT_EQ(DateTimeToText(morning, false), L"3/5/2024 8:0:30");
  EXPECT_EQ(DateTimeToText(morning, true), L"2024年3月5日8时0分30秒");
  EXPECT_EQ(DateTimeToText(MakeDateTime(2024, 3, 5, 8, 7, 0, 0), false), L"3/5/2024 8:7");
  EXPECT_EQ(DateTimeToText(MakeDateTime(2024, 3, 5, 8, 0, 0, 0), true), L"2024年3月5日8时");
}

TEST(Dates, OutOfRangeValuesGiveEmptyText) {
  EXPECT_TRUE(DateTimeToText(2958466.0, false).IsEmpty());
  EXPECT_TRUE(DateTimeToText(-657435.0, true).IsEmpty());
  EXPECT_FALSE(DateTimeToText(2958465.0, false).IsEmpty());
}

TEST(Dates, MakeDateTimeClampsEveryField) {
  const double clamped = MakeDateTime(2023, 2, 30, 25, 61, 61, 0);
  EXPECT_EQ(DateTimeToText(clamped, false), L"2/28/2023 23:59:59");
  EXPECT_EQ(DateTimeToText(MakeDateTime(2024, 2, 31, 0, 0, 0, 0), false), L"2/29/2024");
  EXPECT_EQ(DateTimeToText(MakeDateTime(1900, 2, 29, 0, 0, 0, 0), false), L"2/28/1900");
  EXPECT_EQ(DateTimeToText(MakeDateTime(2000, 2, 29, 0, 0, 0, 0), false), L"2/29/2000");
  EXPECT_EQ(DateTimeToText(MakeDateTime(5, 13, 0, -1, -1, -1, 0), false), L"12/1/100");
  EXPECT_DOUBLE_EQ(MakeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(MakeDateTime(1900, 1, 1, 12, 0, 0, 0), 2.5);
  EXPECT_NEAR(MakeDateTime(1900, 1, 1, 0, 0, 0, 500) - 2.0, 500.0 / 86400000.0, 1e-12);
}

TEST(Dates, TextToDateTimeReadsBothForms) {
  const double expected = MakeDateTime(2024, 3, 5, 8, 0, 30, 0);
  EXPECT_DOUBLE_EQ(TextToDateTime(L"3/5/2024 8:0:30", false), expected);
  EXPECT_DOUBLE_EQ(TextToDateTime(L"2024年3月5日8时0分30秒", true), expected);
  EXPECT_DOUBLE_EQ(TextToDateTime(L"2024-03-05 08:00:30", true), expected);
  EXPECT_DOUBLE_EQ(TextToDateTime(L"3/5/2024", false), MakeDateTime(2024, 3, 5, 0, 0, 0, 0));
  EXPECT_DOUBLE_EQ(TextToDateTime(L"2024年3月5日", true), MakeDateTime(2024, 3, 5, 0, 0, 0, 0));
}

TEST(Dates, TextToDateTimeRejectsTrailingCharacters) {
  EXPECT_EQ(TextToDateTime(L"3/5/2024 8:0:30x", false), kInvalidDateTime);
  EXPECT_EQ(TextToDateTime(L"3/5/2024 8:0:30:", false), kInvalidDateTime);
  EXPECT_EQ(TextToDateTime(L"2024年3月5日8时0分30秒!", true), kInvalidDateTime);
  EXPECT_EQ(TextToDateTime(L"", true), kInvalidDateTime);
  EXPECT_EQ(TextToDateTime(L"3/5/2024 8:0:30秒", false), kInvalidDateTime);
}

TEST(Dates, TextRoundTripsThroughBothForms) {
  for (double day = 1000.0; day < 80000.0; day += 3571.37) {
    for (bool chinese : {false, true}) {
      const CWString text = DateTimeToText(day, chinese);
      ASSERT_FALSE(text.IsEmpty());
      EXPECT_EQ(DateTimeToText(TextToDateTime(text, chinese), chinese), text);
    }
  }
}

TEST(Dates, NowIsTheLocalTime) {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  const double now = Now();
  const double then = MakeDateTime(st.wYear, st.wMonth, st.wDay, 0, 0, 0, 0);
  EXPECT_GE(now, then);
  EXPECT_LT(now, then + 2.0);
}

TEST(TimeStamps, UnixMillisTextMatchesTheSystemClock) {
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  const int64_t before = static_cast<int64_t>(ticks / 10000) - 11644473600000LL;
  const CWString text = UnixMillisText();
  const int64_t value = TextToInt64(text);
  EXPECT_GE(value, before);
  EXPECT_LT(value, before + 60000);
  EXPECT_GT(value, 1600000000000LL);  // after September 2020
  EXPECT_EQ(Int64ToText(value), text);
}

TEST(Display, QuoteForDisplayEscapes) {
  EXPECT_EQ(QuoteForDisplay(L"\t"), L"\"\\t\"");
  EXPECT_EQ(QuoteForDisplay(L"\t").Length(), 4);
  EXPECT_EQ(QuoteForDisplay(L""), L"\"\"");
  EXPECT_EQ(QuoteForDisplay(L"a\"b'c\\d"), L"\"a\\\"b\\'c\\\\d\"");
  EXPECT_EQ(QuoteForDisplay(L"\b\n\f\r"), L"\"\\b\\n\\f\\r\"");
  EXPECT_EQ(QuoteForDisplay(CWTextRef(L"a\0b", 3)), L"\"a\\0b\"");
  EXPECT_EQ(QuoteForDisplay(L"\x01\x7F"), L"\"\\x01\\x7F\"");
  EXPECT_EQ(QuoteForDisplay(L"下载"), L"\"下载\"");
  EXPECT_EQ(QuoteForDisplay(L"\xFFFF"), L"\"\\uFFFF\"");
}

}  // namespace
