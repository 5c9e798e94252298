#include "runtime/text.h"

#include <gtest/gtest.h>

#include <string>

#include "test_print.h"

namespace {

TEST(Text, EmptyAndNeverSetAreTheSame) {
  CWString fromEmpty(L"");
  CWString never;
  CWString fromNull(static_cast<const wchar_t*>(nullptr));
  EXPECT_TRUE(fromEmpty.IsEmpty());
  EXPECT_TRUE(never.IsEmpty());
  EXPECT_TRUE(fromNull.IsEmpty());
  EXPECT_EQ(never.Length(), 0);
  EXPECT_EQ(fromEmpty.Length(), 0);
  EXPECT_TRUE(fromEmpty.Equals(never));
  EXPECT_EQ(never, L"");
  EXPECT_STREQ(never.GetText(), L"");
  CWString cleared(L"abc");
  cleared.Clear();
  EXPECT_TRUE(cleared.Equals(never));
  EXPECT_TRUE(CWConstString(L"").IsEmpty());
}

TEST(Text, EqualsAlsoComparesTheObjectWords) {
  CWString a(L"x"), b(L"x");
  EXPECT_TRUE(a.Equals(b));
  b.objectTag = 1;
  EXPECT_FALSE(a.Equals(b));
  EXPECT_TRUE(a == b);
  // A constant text and an owned one with the same characters are equal texts.
  EXPECT_TRUE(CWConstString(L"GET").Equals(CWString(L"GET")));
  EXPECT_TRUE(CWString(L"GET").Equals(CWConstString(L"GET")));
}

TEST(Text, SetCharsTakesCountUnitsOrZeros) {
  CWString t;
  t.SetChars(L"abcdef", 3);
  EXPECT_EQ(t, L"abc");
  t.SetChars(nullptr, 2);
  EXPECT_EQ(t.Length(), 2);
  EXPECT_EQ(t[0], 0);
  t.SetChars(L"abc", 0);
  EXPECT_TRUE(t.IsEmpty());
}

TEST(Text, AppendToALiteralNeverChangesTheLiteral) {
  static const wchar_t literal[] = L"GET";
  CWConstString method(literal);
  EXPECT_TRUE(method.IsConstant());
  EXPECT_EQ(method.GetText(), literal);
  CWString copy(method);
  EXPECT_EQ(copy.GetText(), literal);  // constants are shared, not copied
  copy.Append(L" /");
  method.Append(L"X");
  EXPECT_STREQ(literal, L"GET");
  EXPECT_EQ(copy, L"GET /");
  EXPECT_EQ(method, L"GETX");
  EXPECT_FALSE(method.IsConstant());
}

TEST(Text, InPlaceChangesCopyTheConstantFirst) {
  static const wchar_t literal[] = L"Hello World  ";
  CWConstString a(literal), b(literal), c(literal), d(literal);
  a.ToLowerAscii();
  b.TrimRight();
  c.SetLength(2);
  d.ReplaceAll(L"o", L"0", false);
  EXPECT_STREQ(literal, L"Hello World  ");
  EXPECT_EQ(a, L"hello world  ");
  EXPECT_EQ(b, L"Hello World");
  EXPECT_EQ(c, L"He");
  EXPECT_EQ(d, L"Hell0 W0rld  ");
}

TEST(Text, AppendCharIgnoresZero) {
  CWString t(L"a");
  t.AppendChar(0);
  t.AppendChar(L'中');
  EXPECT_EQ(t, L"a中");
  EXPECT_EQ(t.Length(), 2);
}

TEST(Text, AppendingItselfAndItsOwnPartsIsSafe) {
  CWString t(L"abcdefghij");
  for (int i = 0; i < 6; ++i) t.Append(t);  // the storage moves while appending
  EXPECT_EQ(t.Length(), 640);
  EXPECT_EQ(t.Find(L"jabc"), 9);
  CWString u(L"0123456789");
  u.Assign(CWTextRef(u.GetText() + 3, 4));
  EXPECT_EQ(u, L"3456");
  u.Format(L"%s+%s", u.GetText(), u.GetText());
  EXPECT_EQ(u, L"3456+3456");
}

TEST(Text, LongAppendSequenceKeepsEveryUnit) {
  CWString t;
  std::wstring expected;
  for (int i = 0; i < 3000; ++i) {
    const wchar_t c = static_cast<wchar_t>(L'A' + i % 26);
    t.AppendChar(c);
    expected += c;
  }
  EXPECT_EQ(t.ToStdString(), expected);
}

TEST(Text, ConcatCopiesEitherSide) {
  EXPECT_EQ(CWString::Concat(L"", L"b"), L"b");
  EXPECT_EQ(CWString::Concat(L"a", L""), L"a");
  EXPECT_EQ(CWString::Concat(L"a", L"b"), L"ab");
  EXPECT_EQ(CWString(L"x") + L"y", L"xy");
}

TEST(Text, LeftRightMidClip) {
  const CWString t(L"abcdef");
  EXPECT_EQ(t.Left(2), L"ab");
  EXPECT_EQ(t.Left(10), L"abcdef");
  EXPECT_TRUE(t.Left(0).IsEmpty());
  EXPECT_TRUE(t.Left(-3).IsEmpty());
  EXPECT_EQ(t.Right(2), L"ef");
  EXPECT_EQ(t.Right(6), L"abcdef");
  EXPECT_EQ(t.Right(60), L"abcdef");
  EXPECT_EQ(t.Mid(2, 3), L"cde");
  EXPECT_EQ(t.Mid(4, 100), L"ef");
  EXPECT_EQ(t.Mid(-2, 3), L"abc");
  EXPECT_TRUE(t.Mid(6, 1).IsEmpty());
  EXPECT_TRUE(t.Mid(9, 1).IsEmpty());
}

TEST(Text, FindForwardAndEdgeStarts) {
  const CWString t(L"banana");
  EXPECT_EQ(t.Find(L"", 0), 0);
  EXPECT_EQ(t.Find(L"", 7), -1);
  EXPECT_EQ(t.Find(L"", 3), 3);
  EXPECT_EQ(t.Find(L"", -5), 0);
  EXPECT_EQ(t.Find(L"an"), 1);
  EXPECT_EQ(t.Find(L"an", 2), 3);
  EXPECT_EQ(t.Find(L"an", -4), 1);
  EXPECT_EQ(t.Find(L"na", 5), -1);
  EXPECT_EQ(t.Find(L"a", 6), -1);
  EXPECT_EQ(t.Find(L"bananas"), -1);
  EXPECT_EQ(CWString().Find(L"a"), -1);
}

TEST(Text, FindBackwardStaysInsideTheRegion) {
  const CWString t(L"banana");
  EXPECT_EQ(t.Find(L"a", -1, false, true), 5);
  EXPECT_EQ(t.Find(L"a", 4, false, true), 3);
  EXPECT_EQ(t.Find(L"na", 5, false, true), 2);  // "na" at 4 would end beyond the region
  EXPECT_EQ(t.Find(L"b", 0, false, true), -1);
  EXPECT_EQ(t.Find(L"x", -1, false, true), -1);
}

TEST(Text, FindFoldsAsciiCaseOnly) {
  const CWString url(L"HTTP://Example.com/ÄB");
  EXPECT_EQ(url.Find(L"http://", 0, true), 0);
  EXPECT_EQ(url.Find(L"http://"), -1);
  EXPECT_EQ(url.Find(L"EXAMPLE", 0, true), 7);
  EXPECT_EQ(url.Find(L"äb", 0, true), -1);
  EXPECT_EQ(url.Find(L"Äb", 0, true), 19);
  EXPECT_EQ(url.Find(L"/", -1, true, true), 18);
}

TEST(Text, ReplaceAllDoesNotRescanReplacements) {
  CWString t(L"aaaa");
  t.ReplaceAll(L"aa", L"a", false);
  EXPECT_EQ(t, L"aa");
  CWString grow(L"aa");
  grow.ReplaceAll(L"a", L"aa", false);
  EXPECT_EQ(grow, L"aaaa");
  CWString u(L"one two one");
  u.ReplaceAll(L"one", L"1", false);
  EXPECT_EQ(u, L"1 two 1");
  CWString v(L"Cookie: a; COOKIE: b");
  v.ReplaceAll(L"cookie", L"c", true);
  EXPECT_EQ(v, L"c: a; c: b");
  CWString w(L"xyx");
  w.ReplaceAll(L"x", L"", false);
  EXPECT_EQ(w, L"y");
  CWString all(L"xx");
  all.ReplaceAll(L"x", L"", false);
  EXPECT_TRUE(all.IsEmpty());
}

TEST(Text, ReplaceAllLeavesShortOrEmptyTextsAlone) {
  CWString t(L"ab");
  t.ReplaceAll(L"abc", L"z", false);
  EXPECT_EQ(t, L"ab");
  t.ReplaceAll(L"", L"z", false);
  EXPECT_EQ(t, L"ab");
  CWString e;
  e.ReplaceAll(L"a", L"b", false);
  EXPECT_TRUE(e.IsEmpty());
}

TEST(Text, SetLengthPadsWithSpacesOrTruncates) {
  CWString t(L"ab");
  t.SetLength(5);
  EXPECT_EQ(t, L"ab   ");
  t.SetLength(1);
  EXPECT_EQ(t, L"a");
  t.SetLength(0);
  EXPECT_TRUE(t.IsEmpty());
  t.SetLength(2);
  EXPECT_EQ(t, L"  ");
}

TEST(Text, ToLowerAsciiLeavesOtherUnits) {
  CWString t(L"ABC xyz ÄÖ 中Z");
  t.ToLowerAscii();
  EXPECT_EQ(t, L"abc xyz ÄÖ 中z");
}

TEST(Text, TrimRightRemovesControlUnitsAndSpaces) {
  CWString t(L"  a b \t\r\n\x01 ");
  t.TrimRight();
  EXPECT_EQ(t, L"  a b");
  CWString blank(L" \t");
  blank.TrimRight();
  EXPECT_TRUE(blank.IsEmpty());
}

TEST(Text, StartsWithIgnoreCase) {
  const CWString t(L"Content-Length: 5");
  EXPECT_TRUE(t.StartsWithIgnoreCase(L"content-length"));
  EXPECT_TRUE(t.StartsWithIgnoreCase(L""));
  EXPECT_FALSE(t.StartsWithIgnoreCase(L"content-type"));
  EXPECT_FALSE(CWString(L"Con").StartsWithIgnoreCase(L"content"));
}

TEST(Text, BetweenFindsTheFirstRightAfterTheLeft) {
  EXPECT_EQ(CWString::Between(L"var x = 'abc'; var y = 'def';", L"'", L"'"), L"abc");
  EXPECT_EQ(CWString::Between(L"<A>one</a><a>two</a>", L"<a>", L"</A>"), L"one");
  EXPECT_EQ(CWString::Between(L"key=value;", L"", L";"), L"key=value");
  EXPECT_TRUE(CWString::Between(L"abc", L"x", L"c").IsEmpty());
  EXPECT_TRUE(CWString::Between(L"abc", L"a", L"x").IsEmpty());
  EXPECT_TRUE(CWString::Between(L"cab", L"a", L"c").IsEmpty());  // the right one must follow the left one
}

TEST(Text, LeftOfFromAStart) {
  EXPECT_EQ(CWString::LeftOf(L"a=b&c=d", L"&", 0), L"a=b");
  EXPECT_EQ(CWString::LeftOf(L"a&b&c", L"&", 2), L"a&b");
  EXPECT_TRUE(CWString::LeftOf(L"a&b", L"#", 0).IsEmpty());
  EXPECT_TRUE(CWString::LeftOf(L"ab", L"b", 5).IsEmpty());
  EXPECT_EQ(CWString::LeftOf(L"abcdef", L"", 3), L"abc");
  EXPECT_TRUE(CWString::LeftOf(L"abcdef", L"", 0).IsEmpty());
  EXPECT_EQ(CWString::LeftOf(L"nameXvalue", L"x", 0), L"name");
}

TEST(Text, LeftOfLastRightOfRightOfLast) {
  EXPECT_EQ(CWString::LeftOfLast(L"C:\\a\\b\\c.exe", L"\\"), L"C:\\a\\b");
  EXPECT_EQ(CWString::LeftOfLast(L"abc", L""), L"abc");
  EXPECT_TRUE(CWString::LeftOfLast(L"abc", L"x").IsEmpty());
  EXPECT_EQ(CWString::RightOf(L"k: v: w", L": "), L"v: w");
  EXPECT_EQ(CWString::RightOf(L"abc", L""), L"abc");
  EXPECT_TRUE(CWString::RightOf(L"abc", L"x").IsEmpty());
  EXPECT_EQ(CWString::RightOf(L"Location: X", L"location: "), L"X");
  EXPECT_EQ(CWString::RightOfLast(L"a/b/c", L"/"), L"c");
  EXPECT_TRUE(CWString::RightOfLast(L"a/b/c", L"").IsEmpty());
  EXPECT_TRUE(CWString::RightOfLast(L"abc", L"x").IsEmpty());
  EXPECT_EQ(CWString::RightOfLast(L"xAyaz", L"a"), L"z");
}

TEST(Text, FormatUsesWideStringsAndReplaces) {
  CWString t(L"old");
  t.Format(L"错误(%u): %s", 12029u, L"无法连接");
  EXPECT_EQ(t, L"错误(12029): 无法连接");
  t.AppendFormat(L" [%d/%I64d]", -3, static_cast<long long>(-9000000000LL));
  EXPECT_EQ(t, L"错误(12029): 无法连接 [-3/-9000000000]");
  t.Format(L"%s", L"");
  EXPECT_TRUE(t.IsEmpty());
}

TEST(Text, FormatKeepsTheObjectWords) {
  CWString t;
  t.objectTag = 5;
  t.Format(L"%d", 1);
  EXPECT_EQ(t.objectTag, 5u);
}

TEST(Text, BufferAccessForPlatformCalls) {
  CWString t(L"ab");
  wchar_t* p = t.GetBufferSetLength(10);
  EXPECT_EQ(p[0], L'a');
  EXPECT_EQ(p[2], 0);
  wcscpy(p, L"filled");
  t.ReleaseBuffer();
  EXPECT_EQ(t, L"filled");
  EXPECT_EQ(t.Length(), 6);
  p = t.GetBufferSetLength(3);
  t.ReleaseBuffer(2);
  EXPECT_EQ(t, L"fi");
  t.GetBufferSetLength(4);
  t.ReleaseBuffer(0);
  EXPECT_TRUE(t.IsEmpty());
}

TEST(Text, CopiesAreIndependent) {
  CWString a(L"abc");
  CWString b(a);
  b.Append(L"d");
  EXPECT_EQ(a, L"abc");
  CWString c;
  c = a;
  a.AppendChar(L'!');
  EXPECT_EQ(c, L"abc");
  CWString moved(std::move(a));
  EXPECT_EQ(moved, L"abc!");
  EXPECT_TRUE(a.IsEmpty());
}

}  // namespace
