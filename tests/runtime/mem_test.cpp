#include "runtime/mem.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/text.h"
#include "test_print.h"

namespace {

std::string Bytes(const CKelMem& m) {
  return std::string(reinterpret_cast<const char*>(m.Data()), static_cast<size_t>(m.Size()));
}

CWString TempPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, dir);
  CWString path(dir);
  path.Append(name);
  return path;
}

TEST(ByteSet, CapacityIsTheNextStepMultipleAboveTheNeed) {
  CKelMem m;
  m.SetSize(64);
  EXPECT_EQ(m.Capacity(), 128);
  m.SetSize(10);
  EXPECT_EQ(m.Capacity(), 64);
  m.SetSize(63);
  EXPECT_EQ(m.Capacity(), 64);
  m.SetSize(0);
  EXPECT_EQ(m.Data(), nullptr);
  EXPECT_EQ(m.Capacity(), 0);
  EXPECT_EQ(m.Size(), 0);
}

TEST(ByteSet, StepBelowOneCountsAsSixtyFour) {
  CKelMem m(0);
  m.SetSize(1);
  EXPECT_EQ(m.Capacity(), 64);
  CKelMem big(1048576);
  big.SetSize(5);
  EXPECT_EQ(big.Capacity(), 1048576);
}

TEST(ByteSet, KeepsTheBlockWhileTheSpareRoomIsWithinOneStep) {
  CKelMem m;
  m.SetSize(100);  // capacity 128
  const unsigned char* block = m.Data();
  m.SetSize(70);  // 58 spare, not more than a step
  EXPECT_EQ(m.Data(), block);
  EXPECT_EQ(m.Capacity(), 128);
}

TEST(ByteSet, SmallAppendsIntoSpareRoomDoNotMoveTheData) {
  CKelMem m;
  m.AppendBytes("abc", 3);
  const unsigned char* block = m.Data();
  const uint64_t eight = 0x0102030405060708ull;
  m.AppendBytes("d", 1);
  m.AppendBytes("ef", 2);
  m.AppendBytes("ghij", 4);
  m.AppendBytes(&eight, 8);
  EXPECT_EQ(m.Data(), block);
  EXPECT_EQ(m.Size(), 18);
  EXPECT_EQ(Bytes(m).substr(0, 10), "abcdefghij");
}

TEST(ByteSet, AppendingANullSourceAddsZeros) {
  CKelMem m("xy", 2);
  m.AppendBytes(nullptr, 3);
  EXPECT_EQ(Bytes(m), std::string("xy\0\0\0", 5));
}

TEST(ByteSet, GrowsAcrossManyAppends) {
  CKelMem m;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    const char c = static_cast<char>('a' + i % 26);
    m.AppendBytes(&c, 1);
    expected += c;
    ASSERT_LE(m.Size(), m.Capacity());
  }
  EXPECT_EQ(Bytes(m), expected);
  EXPECT_EQ(m.Capacity(), 5056);  // 64 + 5000 - 5000 % 64
}

TEST(ByteSet, ReplaceRangeReplacesInsertsAndRemoves) {
  CKelMem m("0123456789", 10);
  m.ReplaceRange(2, 3, "ab", 2);
  EXPECT_EQ(Bytes(m), "01ab56789");
  m.ReplaceRange(0, 0, "xyz", 3);
  EXPECT_EQ(Bytes(m), "xyz01ab56789");
  m.ReplaceRange(3, 2, nullptr, 0);
  EXPECT_EQ(Bytes(m), "xyzab56789");
  // The count is clipped at the end.
  m.ReplaceRange(8, 100, "END", 3);
  EXPECT_EQ(Bytes(m), "xyzab567END");
  m.ReplaceRange(1, 1, "LONGER-THAN-BEFORE", 18);
  EXPECT_EQ(Bytes(m), "xLONGER-THAN-BEFOREzab567END");
}

TEST(ByteSet, ReplaceRangeAcceptsItsOwnBytesAsSource) {
  CKelMem m;
  for (int i = 0; i < 60; ++i) m.AppendBytes("ab", 2);
  const std::string before = Bytes(m);
  // Growing moves the storage; the source must be read before that.
  m.ReplaceRange(0, 0, m.Data(), m.Size());
  EXPECT_EQ(Bytes(m), before + before);
}

TEST(ByteSet, RemoveRangeFromTheEndAndEverything) {
  CKelMem m("abcdef", 6);
  m.RemoveRange(-1, 2);
  EXPECT_EQ(Bytes(m), "abcd");
  m.RemoveRange(1, 2);
  EXPECT_EQ(Bytes(m), "ad");
  m.RemoveRange(-1, 10);
  EXPECT_EQ(m.Size(), 0);
  EXPECT_EQ(m.Data(), nullptr);
}

TEST(ByteSet, SetSizeZeroedClearsEveryByte) {
  CKelMem m("zzzz", 4);
  m.SetSizeZeroed(6);
  EXPECT_EQ(Bytes(m), std::string(6, '\0'));
}

TEST(ByteSet, CopiesAreDeepAndMovesEmptyTheSource) {
  CKelMem a("abc", 3);
  a.objectTag = 4;
  CKelMem b(a);
  b.Data()[0] = 'X';
  EXPECT_EQ(Bytes(a), "abc");
  EXPECT_EQ(b.objectTag, 4u);
  CKelMem c;
  c = a;
  EXPECT_NE(c.Data(), a.Data());
  EXPECT_TRUE(c.Equals(a));
  CKelMem d(std::move(c));
  EXPECT_EQ(c.Size(), 0);
  EXPECT_EQ(c.Data(), nullptr);
  EXPECT_EQ(Bytes(d), "abc");
}

TEST(ByteSet, EqualsNeedsSameWordsAndBytes) {
  CKelMem a("abc", 3), b("abc", 3), c("abd", 3);
  EXPECT_TRUE(a.Equals(b));
  EXPECT_FALSE(a.Equals(c));
  b.objectTag = 1;
  EXPECT_FALSE(a.Equals(b));
  EXPECT_TRUE(a.SameBytes(b));
  EXPECT_FALSE(a.Equals(CWString(L"abc")));
}

TEST(ByteSet, WritesAllBytesToAFile) {
  const CWString path = TempPath(L"runtime 字节集.bin");
  CKelMem m("\x00\x01\x02\xFF", 4);
  ASSERT_TRUE(m.WriteToFile(path));
  FILE* f = _wfopen(path.GetText(), L"rb");
  ASSERT_NE(f, nullptr);
  unsigned char back[8] = {};
  EXPECT_EQ(fread(back, 1, sizeof back, f), 4u);
  fclose(f);
  EXPECT_EQ(memcmp(back, "\x00\x01\x02\xFF", 4), 0);
  DeleteFileW(path.GetText());
}

TEST(ByteSet, WriteToFileFailsForEmptyPathOrMissingFolder) {
  CKelMem m("a", 1);
  EXPECT_FALSE(m.WriteToFile(CWString()));
  EXPECT_FALSE(m.WriteToFile(TempPath(L"no such folder 9f3\\x.bin")));
}

TEST(ByteSet, DebugTextOfTwentyBytesHasTwoLines) {
  CKelMem m("ABCDEFGHIJKLMNOP\x01QR~", 20);
  CWString out;
  m.DebugText(out, 0);
  const CWString expected(
      L"<字节集> 总共 20 个字节:"
      L"\r\n[00000000]: 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 | ABCDEFGHIJKLMNOP"
      L"\r\n[10]: 01 51 52 7E                                     | .QR~");
  EXPECT_EQ(out, expected);
}

TEST(ByteSet, DebugTextHonoursTheLimit) {
  CKelMem m;
  m.SetSizeZeroed(2000);
  CWString out;
  m.DebugText(out, 0);
  EXPECT_TRUE(out.StartsWithIgnoreCase(L"<字节集> 总共 2000 个字节,输出了 1024 个,还有 976 个未被输出."));
  EXPECT_GE(out.Find(L"\r\n[3F0]:"), 0);
  EXPECT_LT(out.Find(L"\r\n[400]:"), 0);
  m.DebugText(out, -1);
  EXPECT_TRUE(out.StartsWithIgnoreCase(L"<字节集> 总共 2000 个字节:"));
  EXPECT_GE(out.Find(L"\r\n[7C0]:"), 0);
  m.DebugText(out, 17);
  EXPECT_TRUE(out.StartsWithIgnoreCase(L"<字节集> 总共 2000 个字节,输出了 17 个,还有 1983 个未被输出."));
  EXPECT_GE(out.Find(L"\r\n[10]: 00                                              | ."), 0);
}

}  // namespace
