#include "runtime/arrays.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "test_print.h"

namespace {

std::vector<std::wstring> Items(const rg_WenBenShuZuLei& a) {
  std::vector<std::wstring> items;
  for (int64_t i = 0; i < a.Count(); ++i) items.emplace_back(a.GetText(i));
  return items;
}

using W = std::vector<std::wstring>;

TEST(TextArray, AddKeepsOrderAndEmptyElementsReadEmpty) {
  rg_WenBenShuZuLei a;
  a.Add(L"one");
  a.Add(L"", CWString(L"three"), CWConstString(L"four"));
  EXPECT_EQ(a.Count(), 4);
  EXPECT_EQ(Items(a), (W{L"one", L"", L"three", L"four"}));
  EXPECT_EQ(a.Get(2), L"three");
  EXPECT_TRUE(a.Get(1).IsEmpty());
  EXPECT_TRUE(a.Get(9).IsEmpty());
  EXPECT_TRUE(a.Get(-1).IsEmpty());
}

TEST(TextArray, ElementsAreCopies) {
  rg_WenBenShuZuLei a;
  CWString source(L"abc");
  a.Add(source);
  source.Append(L"d");
  EXPECT_EQ(a.Get(0), L"abc");
  rg_WenBenShuZuLei b(a);
  b.Add(L"more");
  EXPECT_EQ(a.Count(), 1);
  rg_WenBenShuZuLei c;
  c.Add(L"x");
  c = b;
  EXPECT_EQ(Items(c), (W{L"abc", L"more"}));
  EXPECT_NE(c.GetText(0), b.GetText(0));
}

TEST(TextArray, ManyElementsGrowThePointerStore) {
  rg_WenBenShuZuLei a;
  for (int i = 0; i < 1000; ++i) {
    CWString t;
    t.AppendInteger(i);
    a.Add(t);
  }
  EXPECT_EQ(a.Count(), 1000);
  EXPECT_EQ(a.Get(999), L"999");
  a.Clear();
  EXPECT_EQ(a.Count(), 0);
}

TEST(TextArray, SplitTrimAndSkip) {
  rg_WenBenShuZuLei a;
  const wchar_t* text = L" a ; ; b ";
  EXPECT_EQ(a.Split(text, L";", true, true), 2);
  EXPECT_EQ(Items(a), (W{L"a", L"b"}));
  EXPECT_EQ(a.Split(text, L";", false, false), 3);
  EXPECT_EQ(Items(a), (W{L" a ", L" ", L" b "}));
  // Skipping without trimming drops blank parts but keeps the others as they are.
  EXPECT_EQ(a.Split(text, L";", false, true), 2);
  EXPECT_EQ(Items(a), (W{L" a ", L" b "}));
}

TEST(TextArray, SplitTrailingAndDoubledDelimiters) {
  rg_WenBenShuZuLei a;
  EXPECT_EQ(a.Split(L"a,b,", L",", false, false), 3);
  EXPECT_EQ(Items(a), (W{L"a", L"b", L""}));
  EXPECT_EQ(a.Split(L"a,b,", L",", false, true), 2);
  EXPECT_EQ(a.Split(L"a,,b", L",", false, false), 3);
  EXPECT_EQ(Items(a), (W{L"a", L"", L"b"}));
  EXPECT_EQ(a.Split(L"a,,b", L",", false, true), 2);
  EXPECT_EQ(a.Split(L",a", L",", false, false), 2);
  EXPECT_EQ(Items(a), (W{L"", L"a"}));
}

TEST(TextArray, SplitAtAnyOfSeveralDelimiters) {
  rg_WenBenShuZuLei a;
  EXPECT_EQ(a.Split(L"k=v;x=y&z", L";&", false, false), 3);
  EXPECT_EQ(Items(a), (W{L"k=v", L"x=y", L"z"}));
  EXPECT_EQ(a.Split(L"no delimiter", L";", false, false), 1);
  EXPECT_EQ(a.Split(L"", L";", false, false), 0);
  // Refills: the earlier elements are gone.
  EXPECT_EQ(a.Count(), 0);
}

TEST(TextArray, SplitByTextTrimsAndDropsEmptyParts) {
  rg_WenBenShuZuLei a;
  EXPECT_EQ(a.SplitByText(L" a <br> b<br><br> c ", L"<br>"), 3);
  EXPECT_EQ(Items(a), (W{L"a", L"b", L"c"}));
  EXPECT_EQ(a.SplitByText(L"<br>x<br>", L"<br>"), 1);
  EXPECT_EQ(a.SplitByText(L"whole text", L""), 1);
  EXPECT_EQ(a.Get(0), L"whole text");
  EXPECT_EQ(a.SplitByText(L"a<BR>b", L"<br>"), 1);  // exact match only
}

TEST(TextArray, DebugTextQuotesEveryMember) {
  rg_WenBenShuZuLei a;
  a.Add(L"a\tb", L"", L"中");
  CWString out;
  a.DebugText(out, 0);
  EXPECT_EQ(out, L"<数组> 总共 3 个成员:\r\n1. \"a\\tb\"\r\n2. \"\"\r\n3. \"中\"");
  a.DebugText(out, 2);
  EXPECT_EQ(out, L"<数组> 总共 3 个成员,输出了 2 个,还有 1 个未被输出.\r\n1. \"a\\tb\"\r\n2. \"\"");
}

TEST(TextArray, DebugTextDefaultLimitIsSixtyFour) {
  rg_WenBenShuZuLei a;
  for (int i = 0; i < 70; ++i) a.Add(L"x");
  CWString out;
  a.DebugText(out, 0);
  EXPECT_TRUE(out.StartsWithIgnoreCase(L"<数组> 总共 70 个成员,输出了 64 个,还有 6 个未被输出."));
  EXPECT_GE(out.Find(L"\r\n64. "), 0);
  EXPECT_LT(out.Find(L"\r\n65. "), 0);
  a.DebugText(out, -1);
  EXPECT_GE(out.Find(L"\r\n70. "), 0);
}

TEST(TextArray, EqualsComparesElements) {
  rg_WenBenShuZuLei a, b;
  a.Add(L"x", L"");
  b.Add(L"x", L"");
  EXPECT_TRUE(a.Equals(b));
  b.Add(L"y");
  EXPECT_FALSE(a.Equals(b));
}

TEST(IntegerArray, AddGetSetAndBounds) {
  rg_ZhengShuShuZuLei a;
  for (int i = 0; i < 100; ++i) a.Add(i * 3 - 50);
  EXPECT_EQ(a.Count(), 100);
  EXPECT_EQ(a.Get(0), -50);
  EXPECT_EQ(a.Get(99), 247);
  a.Set(5, 12345);
  EXPECT_EQ(a.Get(5), 12345);
  EXPECT_EQ(a.Get(100), 0);
  a.Set(100, 1);
  EXPECT_EQ(a.Count(), 100);
  rg_ZhengShuShuZuLei b(a);
  EXPECT_TRUE(b.Equals(a));
  b.Set(0, 1);
  EXPECT_FALSE(b.Equals(a));
  a.Clear();
  EXPECT_EQ(a.Count(), 0);
}

class Tracked : public CKelObject {
  KEL_DECLARE_CLASS(Tracked, CKelObject)

  Tracked() = default;
  explicit Tracked(int* live) : live_(live) {
    if (live_) ++*live_;
  }
  Tracked(const Tracked& other) : CKelObject(other), live_(other.live_) {
    if (live_) ++*live_;
  }
  Tracked& operator=(const Tracked&) = default;
  ~Tracked() override {
    if (live_) --*live_;
  }

 private:
  int* live_ = nullptr;
};

TEST(ObjectArray, ClearAndDestructionDeleteTheElements) {
  int live = 0;
  {
    CKelObjectArray a;
    a.Add(new Tracked(&live));
    a.Add(new Tracked(&live));
    a.Add(nullptr);
    EXPECT_EQ(a.Count(), 3);
    EXPECT_EQ(live, 2);
    a.Clear();
    EXPECT_EQ(live, 0);
    EXPECT_EQ(a.Count(), 0);
    a.Add(new Tracked(&live));
  }
  EXPECT_EQ(live, 0);
}

TEST(ObjectArray, CopiesCloneTheElements) {
  int live = 0;
  CKelObjectArray a;
  a.Add(new Tracked(&live));
  a.Add(new CWString(L"text"));
  {
    CKelObjectArray b(a);
    EXPECT_EQ(live, 2);
    EXPECT_NE(b.Get(0), a.Get(0));
    EXPECT_TRUE(b.Equals(a));
    EXPECT_TRUE(b.Get(1)->Equals(CWString(L"text")));
  }
  EXPECT_EQ(live, 1);
  EXPECT_EQ(a.Get(5), nullptr);
}

TEST(ObjectArray, DebugTextDescribesEachElement) {
  CKelObjectArray a;
  auto* text = new CWString(L"t");
  a.Add(text);
  auto* empty = new CKelMem();
  empty->SetNullObject(true);
  a.Add(empty);
  CWString out;
  a.DebugText(out, 0);
  CWString first;
  text->DebugText(first, 0);
  CWString expected;
  expected.Format(
      L"<数组> 总共 2 个成员:\r\n1. 对象输出类名: \"CWString\", 地址: 0x%I64X, 内容:\r\n%s"
      L"\r\n2. 对象输出类名: \"CKelMem\", 地址: 0x%I64X, 为空对象",
      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(text)), first.GetText(),
      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(empty)));
  EXPECT_EQ(out, expected);
}

}  // namespace
