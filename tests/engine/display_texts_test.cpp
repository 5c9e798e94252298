#include "engine/display_texts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

std::wstring Size(double bytes) { return FormatSize(bytes).ToStdString(); }
std::wstring Percent(double completed, double total) { return FormatPercent(completed, total).ToStdString(); }
std::wstring Remaining(double total, double completed, double speed) {
  return FormatRemaining(total, completed, speed).ToStdString();
}
std::wstring Description(const wchar_t* code) { return ErrorDescription(CWString(code)).ToStdString(); }

TEST(FormatSize, BytesBelowOneKibibyte) {
  EXPECT_EQ(Size(0), L"0Byte");
  EXPECT_EQ(Size(1023), L"1023Byte");
  EXPECT_EQ(Size(-5), L"-5Byte");
}

TEST(FormatSize, UnitsOfPowersOf1024RoundedToTwoDecimals) {
  EXPECT_EQ(Size(1024), L"1KB");
  EXPECT_EQ(Size(1536), L"1.5KB");
  EXPECT_EQ(Size(2684354560.0), L"2.5GB");
  EXPECT_EQ(Size(1048576.0 * 3), L"3MB");
  EXPECT_EQ(Size(std::pow(1024.0, 4) * 7.25), L"7.25TB");
  EXPECT_EQ(Size(std::pow(1024.0, 5) * 2), L"2PB");
}

TEST(FormatSize, DivisionStopsBelow1024BeforeRounding) { EXPECT_EQ(Size(1048575), L"1024KB"); }

TEST(FormatSize, SixDivisionsOrMoreReadMaxSize) {
  EXPECT_EQ(Size(std::pow(1024.0, 6)), L"MaxSize");
  EXPECT_EQ(Size(1e30), L"MaxSize");
  EXPECT_EQ(Size(HUGE_VAL), L"MaxSize");
}

TEST(FormatPercent, TwoDecimalsRoundedHalfUp) {
  EXPECT_EQ(Percent(1, 3), L"33.33%");
  EXPECT_EQ(Percent(2, 3), L"66.67%");
  EXPECT_EQ(Percent(5, 5), L"100%");
  EXPECT_EQ(Percent(0, 7), L"0%");
  EXPECT_EQ(Percent(1, 8), L"12.5%");
}

TEST(FormatPercent, CompletedAboveTotalReadsZero) { EXPECT_EQ(Percent(11, 10), L"0%"); }

TEST(FormatRemaining, HoursMinutesSecondsWithoutLeadingZeros) {
  EXPECT_EQ(Remaining(10000, 0, 100), L"0:1:40");
  EXPECT_EQ(Remaining(36000000, 0, 1000), L"10:0:0");
  EXPECT_EQ(Remaining(3725, 0, 1), L"1:2:5");
}

TEST(FormatRemaining, NoSpeedReadsZero) {
  EXPECT_EQ(Remaining(10000, 0, 0.5), L"0:0:0");
  EXPECT_EQ(Remaining(10000, 0, 0), L"0:0:0");
  EXPECT_EQ(Remaining(10000, 0, -3), L"0:0:0");
}

TEST(FormatRemaining, CompletedAboveTotalCountsBackwards) { EXPECT_EQ(Remaining(100, 165, 1), L"0:-1:-5"); }

TEST(FormatRemaining, FilesOfTwoGibibytesAndMore) {
  // 3 GiB at 1 MiB/s is 3072 s; 32-bit arithmetic would wrap the length.
  EXPECT_EQ(Remaining(3.0 * 1073741824, 0, 1048576), L"0:51:12");
  EXPECT_EQ(Remaining(2147483648.0, 1073741824.0, 1024), L"291:16:16");
  EXPECT_EQ(Remaining(8e12, 0, 1), L"2222222222:13:20");
}

TEST(ErrorDescription, CodesOneToThirtyTwo) {
  EXPECT_EQ(Description(L"1"), L"未知错误");
  EXPECT_EQ(Description(L"9"), L"磁盘空间不足");
  EXPECT_EQ(Description(L"17"), L"发生文件I/O错误");
  EXPECT_EQ(Description(L"25"), L"无法解析bencoded文件（通常是“种子”文件）");
  EXPECT_EQ(Description(L"32"), L"校验和失败");
}

TEST(ErrorDescription, LeadingDigitsCount) { EXPECT_EQ(Description(L"3xyz"), L"找不到资源"); }

TEST(ErrorDescription, OtherCodesNameTheCodeInAtLeastThreeCharacters) {
  for (const wchar_t* code : {L"0", L"33", L"-1", L"abc", L"99999999999999999999"}) {
    const std::wstring text = Description(code);
    EXPECT_GE(text.size(), 3u) << code;
    EXPECT_NE(text.find(code), std::wstring::npos) << code;
  }
  EXPECT_GE(Description(L"").size(), 3u);
}

TEST(VerificationStateText, OnlyWhileTheEngineChecksOrWaitsToCheck) {
  const struct {
    const wchar_t* verifiedLength;
    const wchar_t* pending;
    const wchar_t* state;
  } cases[] = {{L"", L"", L""},
               {L"0", L"", L"校验中"},
               {L"1048576", L"", L"校验中"},
               {L"", L"true", L"校验中"},
               {L"", L"false", L""}};
  for (const auto& c : cases) {
    EXPECT_EQ(VerificationStateText(c.verifiedLength, c.pending), c.state) << c.verifiedLength << "," << c.pending;
  }
}

}  // namespace
