// Which patterns may match empty text.
#include <gtest/gtest.h>

#include "regex/pattern_scan.h"

namespace {

TEST(PatternScan, PatternsThatAlwaysConsume) {
  const wchar_t* patterns[] = {
      L"data : { [\\s\\S]*?}",
      L"(var )?sign\\s?=\\s?.*;?",
      L"[\\d\\w\\_]{70,}",
      L"a",
      L"a|b",
      L"(a|b)+",
      L"x{2}",
      L"x{1,}",
      L"\\d+",
      L"[]a",
      L"(?:ab)",
      L"a(?=b)",
      L"\\x41*B",
      L"\\u0041?\\(",
      L"a{,5}",
      L"{",
      L"(a)\\1",
      L"[)]",
      L"[\\]]x*",
      L"\\cJ",
  };
  for (const wchar_t* pattern : patterns) {
    EXPECT_FALSE(PatternCanMatchEmpty(pattern)) << testing::PrintToString(std::wstring(pattern));
  }
}

TEST(PatternScan, PatternsThatMayMatchEmpty) {
  const wchar_t* patterns[] = {
      L"",         L"(var )?", L"x*",      L"a?",    L"a|",  L"|a",      L"(a|)", L"^",      L"$",
      L"\\b",      L"\\B",     L"(?=a)",   L"(?!a)", L"\\1", L"(a)?\\1", L"a{0}", L"a{0,3}", L"(x*)",
      L"(?:a*|b)", L"((a)?)+", L"[abc]*?", L"^$",    L"(",   L"a)",      L"((a)", L"\\",     L"a*(?=b)",
  };
  for (const wchar_t* pattern : patterns) {
    EXPECT_TRUE(PatternCanMatchEmpty(pattern)) << testing::PrintToString(std::wstring(pattern));
  }
}

}  // namespace
