// Matching semantics the drive page readers rely on, through the platform's script engine.
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <thread>

#include "../runtime/test_print.h"
#include "regex/regex.h"

namespace {

TEST(Regex, BlockAcrossLinesStopsAtTheFirstBrace) {
  rg_ZhengZeLei_n regex;
  const wchar_t page[] =
      L"<script>\n  var pgs;\n  $.ajax({\n  data : { 'lx':2,\n    'fid':1234,\n    'pg':pgs },\n"
      L"  success : function(msg) { }\n});\n</script>";
  ASSERT_TRUE(regex.Execute(L"data : { [\\s\\S]*?}", page));
  EXPECT_EQ(regex.MatchCount(), 1);
  EXPECT_EQ(regex.FirstMatchText(), L"data : { 'lx':2,\n    'fid':1234,\n    'pg':pgs }");
}

TEST(Regex, DotStopsAtTheLineEnd) {
  rg_ZhengZeLei_n regex;
  ASSERT_TRUE(regex.Execute(L"(var )?sign\\s?=\\s?.*;?", L"  var sign = 'a_b';\n  var other = 1;"));
  EXPECT_EQ(regex.MatchCount(), 1);
  EXPECT_EQ(regex.FirstMatchText(), L"var sign = 'a_b';");
  ASSERT_TRUE(regex.Execute(L"first.*", L"first line\nsecond line"));
  EXPECT_EQ(regex.FirstMatchText(), L"first line");
}

TEST(Regex, CaseIsIgnored) {
  rg_ZhengZeLei_n regex;
  ASSERT_TRUE(regex.Execute(L"(var )?pwd\\s?=", L"VAR PWD='x'"));
  EXPECT_EQ(regex.FirstMatchText(), L"VAR PWD=");
  ASSERT_TRUE(regex.Execute(L"(var )?", L"VAR x"));
  EXPECT_EQ(regex.FirstMatchText(), L"VAR ");
}

TEST(Regex, LinesAnchorAndTheLeftmostMatchComesFirst) {
  rg_ZhengZeLei_n regex;
  ASSERT_TRUE(regex.Execute(L"^id=\\d+$", L"x\nid=12\nid=345\nid=6x"));
  EXPECT_EQ(regex.MatchCount(), 2);
  EXPECT_EQ(regex.FirstMatchText(), L"id=12");
  ASSERT_TRUE(regex.Execute(L"b\\d", L"a b2 b1 B3"));
  EXPECT_EQ(regex.MatchCount(), 3);
  EXPECT_EQ(regex.FirstMatchText(), L"b2");
}

TEST(Regex, TokenOfSeventyWordCharacters) {
  const std::wstring token(70, L'A');
  const std::wstring page = L"short" + std::wstring(64, L'b') + L" '" + token + L"' x";
  rg_ZhengZeLei_n regex;
  ASSERT_TRUE(regex.Execute(L"[\\d\\w\\_]{70,}", page));
  EXPECT_EQ(regex.MatchCount(), 1);
  EXPECT_EQ(regex.FirstMatchText(), CWString(token));
}

TEST(Regex, NothingFound) {
  rg_ZhengZeLei_n regex;
  ASSERT_TRUE(regex.Execute(L"data : { [\\s\\S]*?}", L"no block here"));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.FirstMatchText(), L"");
  ASSERT_TRUE(regex.Execute(L"a", L""));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.FirstMatchText(), L"");
}

TEST(Regex, RejectedPatternGivesEmptyResults) {
  rg_ZhengZeLei_n regex;
  ASSERT_TRUE(regex.Execute(L"x", L"x"));
  ASSERT_EQ(regex.MatchCount(), 1);
  const wchar_t* rejected[] = {L"(", L"a)", L"[a", L"x{2,1}", L"*a"};
  for (const wchar_t* pattern : rejected) {
    EXPECT_FALSE(regex.Execute(pattern, L"x (a) [a x")) << testing::PrintToString(std::wstring(pattern));
    EXPECT_EQ(regex.regExp.lastError, ComResult::kException);
    EXPECT_FALSE(regex.matches.HasObject());
    EXPECT_EQ(regex.MatchCount(), 0);
    EXPECT_EQ(regex.matches.lastError, ComResult::kNoObject);
    EXPECT_EQ(regex.FirstMatchText(), L"");
  }
}

TEST(Regex, PatternsThatMatchEmptyTextReturn) {
  rg_ZhengZeLei_n regex;
  ASSERT_TRUE(regex.Execute(L"x*", L"abc"));
  EXPECT_GE(regex.MatchCount(), 1);
  EXPECT_EQ(regex.FirstMatchText(), L"");
  ASSERT_TRUE(regex.Execute(L"", L"abc"));
  EXPECT_GE(regex.MatchCount(), 1);
  ASSERT_TRUE(regex.Execute(L"\\d*", L"12ab"));
  EXPECT_EQ(regex.FirstMatchText(), L"12");
}

TEST(Regex, TextIsKeptWhole) {
  rg_ZhengZeLei_n regex;
  CWString text;
  text.SetChars(L"a\0名称=蓝奏云;", 9);
  ASSERT_TRUE(regex.Execute(L"名称=[^;]*", text));
  EXPECT_EQ(regex.FirstMatchText(), L"名称=蓝奏云");
  EXPECT_EQ(regex.subject.Get().vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(regex.subject.Get().bstrVal), 9u);
}

TEST(Regex, LargePage) {
  std::wstring page;
  page.reserve(4 * 1024 * 1024 + 200);
  for (int i = 0; i < 64 * 1024; ++i) page += L"<div class=\"x\">" + std::wstring(48, L'-') + L"</div>\n";
  page += L"var sign = '" + std::wstring(80, L'z') + L"';";
  rg_ZhengZeLei_n regex;
  ASSERT_TRUE(regex.Execute(L"[\\d\\w\\_]{70,}", page));
  EXPECT_EQ(regex.MatchCount(), 1);
  EXPECT_EQ(regex.FirstMatchText().Length(), 80);
}

TEST(Regex, EachExecuteReplacesTheLast) {
  rg_ZhengZeLei_n regex;
  ASSERT_TRUE(regex.Execute(L"a", L"a a a"));
  const CKelComObject firstEngine = regex.regExp;
  ASSERT_TRUE(regex.Execute(L"b", L"b"));
  EXPECT_FALSE(regex.regExp.Equals(firstEngine));
  EXPECT_EQ(regex.MatchCount(), 1);
  EXPECT_EQ(regex.subject.Get().vt, VT_BSTR);
  EXPECT_STREQ(regex.subject.Get().bstrVal, L"b");
}

// COM state of a thread: S_OK from a fresh single-threaded start means it was not initialised.
HRESULT ProbeAndUndo(DWORD model) {
  const HRESULT hr = CoInitializeEx(nullptr, model);
  if (SUCCEEDED(hr)) CoUninitialize();
  return hr;
}

TEST(Regex, ComIsInitialisedForTheLifetimeOnly) {
  HRESULT during = E_FAIL;
  HRESULT after = E_FAIL;
  bool matched = false;
  std::thread worker([&] {
    {
      rg_ZhengZeLei_n regex;
      matched = regex.Execute(L"\\d+", L"abc 42") && regex.FirstMatchText() == L"42";
      during = ProbeAndUndo(COINIT_APARTMENTTHREADED);
    }
    after = ProbeAndUndo(COINIT_APARTMENTTHREADED);
  });
  worker.join();
  EXPECT_TRUE(matched);
  EXPECT_EQ(during, S_FALSE);
  EXPECT_EQ(after, S_OK);
}

TEST(Regex, LeavesAnotherApartmentAlone) {
  HRESULT after = E_FAIL;
  bool matched = false;
  std::thread worker([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    {
      rg_ZhengZeLei_n regex;
      matched = regex.Execute(L"\\d+", L"abc 42") && regex.FirstMatchText() == L"42";
    }
    after = ProbeAndUndo(COINIT_MULTITHREADED);
    CoUninitialize();
  });
  worker.join();
  EXPECT_TRUE(matched);
  EXPECT_EQ(after, S_FALSE) << "the thread's own initialisation must survive";
}

}  // namespace
