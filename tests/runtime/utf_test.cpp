#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "runtime/convert.h"
#include "test_print.h"

namespace {

std::string Utf8Of(const CWString& text, bool validate) {
  CKelMem m = TextToUtf8(text, validate, false);
  return std::string(reinterpret_cast<const char*>(m.Data()), static_cast<size_t>(m.Size()));
}

std::wstring Utf16Of(const std::string& bytes, bool validate) {
  return Utf8ToText(bytes.data(), bytes.size(), validate).ToStdString();
}

TEST(Utf, ValidTextRoundTripsThroughEverySequenceLength) {
  // 1, 2, 3 and 4 byte sequences; the last one is a surrogate pair in UTF-16.
  const CWString text(L"a\u00E9\u4E2D\U0001F600z");
  EXPECT_EQ(text.Length(), 6);
  const std::string utf8 = Utf8Of(text, true);
  EXPECT_EQ(utf8, "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z");
  EXPECT_EQ(kelutf::Utf8LengthFromUtf16(text.GetText(), 6), 11u);
  EXPECT_EQ(kelutf::Utf16LengthFromUtf8(utf8.data(), utf8.size()), 6u);
  EXPECT_EQ(Utf16Of(utf8, true), text.ToStdString());
  EXPECT_EQ(Utf16Of(utf8, false), text.ToStdString());
}

TEST(Utf, AddZeroKeepsTheTerminatingByte) {
  CKelMem m = TextToUtf8(CWString(L"中"), true, true);
  ASSERT_EQ(m.Size(), 4);
  EXPECT_EQ(m.Data()[3], 0);
  EXPECT_TRUE(TextToUtf8(CWString(), true, true).IsEmpty());
}

TEST(Utf, LoneSurrogatesFailValidationAndBecomeReplacementsOtherwise) {
  const wchar_t high[] = {L'a', 0xD83D, L'b', 0};
  const wchar_t low[] = {0xDE00, L'c', 0};
  const wchar_t reversed[] = {0xDE00, 0xD83D, 0};
  const wchar_t highAtEnd[] = {L'x', 0xD83D, 0};
  for (const wchar_t* bad : {high, low, reversed, highAtEnd}) {
    EXPECT_TRUE(TextToUtf8(CWString(bad), true, false).IsEmpty());
    EXPECT_FALSE(kelutf::ValidateUtf16(bad, wcslen(bad)));
  }
  EXPECT_EQ(Utf8Of(CWString(high), false),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Utf8Of(CWString(reversed), false), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(Utf8Of(CWString(highAtEnd), false), "x\xEF\xBF\xBD");
}

TEST(Utf, InvalidUtf8GivesEmptyTextWhenValidating) {
  const std::string cases[] = {
      "\x80",              // stray continuation byte
      "ab\xC3",            // truncated two-byte sequence
      "\xE4\xB8",          // truncated three-byte sequence
      "\xF0\x9F\x98",      // truncated four-byte sequence
      "\xC0\x80",          // overlong zero
      "\xE0\x80\xAF",      // overlong slash
      "\xED\xA0\x80",      // encoded surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xFF",              // never valid
      "abc\xE4\x41xyz",    // leader followed by ASCII
  };
  for (const std::string& bad : cases) {
    EXPECT_TRUE(Utf8ToText(bad.data(), bad.size(), true).IsEmpty()) << bad.size();
    EXPECT_FALSE(kelutf::ValidateUtf8(bad.data(), bad.size()));
  }
}

TEST(Utf, InvalidUtf8IsReplacedBestEffortWhenNotValidating) {
  EXPECT_EQ(Utf16Of("ab\xC3", false), L"ab\uFFFD");
  EXPECT_EQ(Utf16Of("\xE4\xB8"
                    "c",
                    false),
            L"\uFFFD"
            L"c");
  EXPECT_EQ(Utf16Of("\xF0\x9F\x98", false), L"\uFFFD");
  EXPECT_EQ(Utf16Of("abc\xE4\x41xyz", false),
            L"abc\uFFFD"
            L"Axyz");
  EXPECT_EQ(Utf16Of("\xC0\x80", false), L"\uFFFD\uFFFD");
  EXPECT_EQ(Utf16Of("\xED\xA0\x80"
                    "z",
                    false),
            L"\uFFFD\uFFFD\uFFFD"
            L"z");
  EXPECT_EQ(Utf16Of("a\x80\x80"
                    "b",
                    false),
            L"a\uFFFD\uFFFD"
            L"b");
  EXPECT_EQ(Utf16Of("\xF4\x90\x80\x80", false), L"\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(Utf, AsciiRunsOfEveryLengthAroundMultiByteCharacters) {
  for (int run = 0; run < 20; ++run) {
    std::wstring expected(static_cast<size_t>(run), L'q');
    expected += L"中é";
    expected += std::wstring(static_cast<size_t>(run % 7), L'r');
    expected += L"\U00010348";
    const std::string utf8 = Utf8Of(CWString(expected), true);
    ASSERT_EQ(Utf16Of(utf8, true), expected) << run;
  }
}

TEST(Utf, AgreesWithThePlatformOnRandomValidText) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<uint32_t> pick(0, 99);
  for (int round = 0; round < 300; ++round) {
    std::wstring text;
    const int length = static_cast<int>(rng() % 200);
    for (int i = 0; i < length; ++i) {
      const uint32_t kind = pick(rng);
      uint32_t cp;
      if (kind < 50) {
        cp = 0x20 + rng() % 0x5F;
      } else if (kind < 65) {
        cp = 0x80 + rng() % 0x780;
      } else if (kind < 90) {
        cp = 0x800 + rng() % 0xF800;
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0x4E2D;
      } else {
        cp = 0x10000 + rng() % 0x100000;
      }
      if (cp >= 0x10000) {
        text += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
        text += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        text += static_cast<wchar_t>(cp);
      }
    }
    const std::string ours = Utf8Of(CWString(text), true);
    std::string platform;
    if (!text.empty()) {
      const int n =
          WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
      platform.resize(static_cast<size_t>(n));
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), platform.data(), n, nullptr, nullptr);
    }
    ASSERT_EQ(ours, platform) << round;
    ASSERT_EQ(Utf16Of(ours, true), text) << round;
  }
}

// Random bytes and units: the length covers exactly what is written, and nothing beyond it
// is touched.
TEST(Utf, ConversionsStayWithinTheLengthOnArbitraryInput) {
  std::mt19937 rng(777);
  const char kGuard = 0x5A;
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(rng() % 40, '\0');
    for (char& b : bytes) b = static_cast<char>(rng() % 4 == 0 ? 0x41 : 0x80 + rng() % 0x80);
    const size_t units = kelutf::Utf16LengthFromUtf8(bytes.data(), bytes.size());
    std::vector<wchar_t> out(units + 4, static_cast<wchar_t>(0x5A5A));
    ASSERT_EQ(kelutf::ConvertUtf8ToUtf16Lossy(bytes.data(), bytes.size(), out.data()), units);
    const size_t valid = kelutf::ConvertUtf8ToUtf16(bytes.data(), bytes.size(), out.data());
    ASSERT_TRUE(valid == 0 || valid == units);
    for (size_t i = units; i < out.size(); ++i) ASSERT_EQ(out[i], 0x5A5A);

    std::wstring wide(rng() % 40, L'\0');
    for (wchar_t& w : wide) w = static_cast<wchar_t>(rng() % 3 == 0 ? 0xD800 + rng() % 0x800 : rng() % 0x10000);
    const size_t need = kelutf::Utf8LengthFromUtf16(wide.data(), wide.size());
    std::vector<char> out8(need + 4, kGuard);
    ASSERT_EQ(kelutf::ConvertUtf16ToUtf8Lossy(wide.data(), wide.size(), out8.data()), need);
    const size_t valid8 = kelutf::ConvertUtf16ToUtf8(wide.data(), wide.size(), out8.data());
    ASSERT_TRUE(valid8 == 0 || valid8 == need);
    for (size_t i = need; i < out8.size(); ++i) ASSERT_EQ(out8[i], kGuard);
    // Best effort output is always valid UTF-8.
    ASSERT_TRUE(kelutf::ValidateUtf8(out8.data(), need));
  }
}

TEST(Utf, CharsToTextUsesThePlatformConversion) {
  EXPECT_EQ(Utf8CharsToText("\xE4\xB8\x8B\xE8\xBD\xBD ok").ToStdString(), L"下载 ok");
  EXPECT_TRUE(Utf8CharsToText(nullptr).IsEmpty());
  EXPECT_TRUE(Utf8CharsToText("").IsEmpty());
}

TEST(Utf, EmptyBytesGiveEmptyText) {
  EXPECT_TRUE(Utf8ToText(CKelMem(), true).IsEmpty());
  EXPECT_TRUE(Utf8ToText(nullptr, 5, false).IsEmpty());
}

}  // namespace
