#include "runtime/object.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "runtime/arrays.h"
#include "runtime/exception.h"
#include "runtime/mem.h"
#include "runtime/text.h"
#include "test_print.h"

namespace {

// A class with a field, as application classes declare them.
class Point : public CKelObject {
  KEL_DECLARE_CLASS(Point, CKelObject)

  Point() = default;
  Point(int px, int py) : x(px), y(py) {}
  bool Equals(const CKelObject& other) const override {
    if (!CKelObject::Equals(other)) return false;
    const auto& p = static_cast<const Point&>(other);
    return p.x == x && p.y == y;
  }
  void BeforeChange() override { ++changes; }

  int x = 0;
  int y = 0;
  static inline int changes = 0;
};

class Point3 : public Point {
  KEL_DECLARE_CLASS(Point3, Point)

  int z = 7;
};

// Holds something that cannot be copied.
class Unique : public CKelObject {
  KEL_DECLARE_CLASS(Unique, CKelObject)

  Unique() = default;
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
};

TEST(ClassInfo, NameHashFollowsTheRuntimeFormula) {
  // "A": no following byte, c = 0, b = 'A'.
  EXPECT_EQ(ClassNameHash("A", 1), 65u);
  // "AB": c = 'A' = 65, b = 'B' = 66; 4 * 65 + ((65 + 66) | 1) = 391.
  EXPECT_EQ(ClassNameHash("AB", 2), 391u);
  // "ABC": c = 65 then 66 + 5 * 65 = 391, b = 'C' = 67; 4 * 391 + ((391 + 67) | 1) = 2023.
  EXPECT_EQ(ClassNameHash("ABC", 3), 2023u);
  // The result always fits in 31 bits.
  const char* longName = "rg_WangLaoFangWenXiangYingLei_n_with_a_rather_long_tail";
  EXPECT_EQ(ClassNameHash(longName, strlen(longName)) & 0x80000000u, 0u);
}

TEST(ClassInfo, RecordDescribesItsClass) {
  const CKelClassInfo& info = rg_WenBenShuZuLei::StaticClassInfo();
  EXPECT_STREQ(info.name, "rg_WenBenShuZuLei");
  EXPECT_EQ(info.length, strlen("rg_WenBenShuZuLei"));
  EXPECT_EQ(info.hash, ClassNameHash(info.name, info.length));
  EXPECT_EQ(info.base, &rg_KuoZhanDuiXiangLei::StaticClassInfo());
  std::unique_ptr<CKelObject> made(info.factory());
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(&made->ClassInfo(), &info);
}

TEST(ClassInfo, IsKindOfWalksTheBaseChain) {
  rg_WenBenShuZuLei array;
  CWString text;
  EXPECT_TRUE(array.IsKindOf(rg_WenBenShuZuLei::StaticClassInfo()));
  EXPECT_TRUE(array.IsKindOf(rg_KuoZhanDuiXiangLei::StaticClassInfo()));
  EXPECT_TRUE(array.IsKindOf(CKelObject::StaticClassInfo()));
  EXPECT_FALSE(text.IsKindOf(rg_WenBenShuZuLei::StaticClassInfo()));
  EXPECT_FALSE(array.IsKindOf(CWString::StaticClassInfo()));
  EXPECT_FALSE(Point().IsKindOf(Point3::StaticClassInfo()));
}

TEST(ClassInfo, SeparateRecordWithTheSameNameCountsAsTheSameClass) {
  const CKelClassInfo twin("CWString", nullptr, nullptr);
  EXPECT_NE(&twin, &CWString::StaticClassInfo());
  EXPECT_TRUE(CWString(L"a").IsKindOf(twin));
  const CKelClassInfo other("CWStrinG", nullptr, nullptr);
  EXPECT_FALSE(CWString(L"a").IsKindOf(other));
}

TEST(Object, EqualsComparesClassNullBitTagAndFields) {
  Point a(1, 2), b(1, 2);
  EXPECT_TRUE(a.Equals(b));
  b.objectTag = 9;
  EXPECT_FALSE(a.Equals(b));
  b.objectTag = 0;
  b.SetNullObject(true);
  EXPECT_FALSE(a.Equals(b));
  b.SetNullObject(false);
  // Flag bits other than the null bit do not count.
  b.objectFlags = 4;
  EXPECT_TRUE(a.Equals(b));
  b.y = 3;
  EXPECT_FALSE(a.Equals(b));
  Point3 c;
  EXPECT_FALSE(Point().Equals(c));
}

TEST(Object, CopyFromUnrelatedClassReturnsFalseAndChangesNothing) {
  Point::changes = 0;
  Point p(4, 5);
  p.objectTag = 11;
  CWString text(L"zz");
  EXPECT_FALSE(p.CopyFrom(text));
  EXPECT_EQ(p.x, 4);
  EXPECT_EQ(p.y, 5);
  EXPECT_EQ(p.objectTag, 11u);
  EXPECT_EQ(Point::changes, 0);
  // Nor in the other direction: a base is not one of the derived class.
  Point3 q;
  EXPECT_FALSE(q.CopyFrom(p));
  EXPECT_EQ(q.x, 0);
}

TEST(Object, CopyFromSameOrDerivedClassCallsBeforeChangeAndCopiesTheWords) {
  Point::changes = 0;
  Point target;
  Point3 source;
  source.x = 8;
  source.y = 9;
  source.objectTag = 5;
  ASSERT_TRUE(target.CopyFrom(source));
  EXPECT_EQ(target.x, 8);
  EXPECT_EQ(target.y, 9);
  EXPECT_EQ(target.objectTag, 5u);
  EXPECT_EQ(Point::changes, 1);
}

TEST(Object, CloneAndCreateInstanceMakePoolObjectsOfTheSameClass) {
  Point p(3, 4);
  p.objectTag = 2;
  std::unique_ptr<CKelObject> clone(p.Clone());
  ASSERT_NE(clone, nullptr);
  EXPECT_TRUE(clone->Equals(p));
  EXPECT_TRUE(CPoolMem::Instance().Contains(clone.get()));
  std::unique_ptr<CKelObject> fresh(p.CreateInstance());
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(fresh->Equals(Point()));
  EXPECT_EQ(&fresh->ClassInfo(), &Point::StaticClassInfo());
}

TEST(Object, NonCopyableClassHasNoCloneAndNoCopy) {
  Unique u;
  EXPECT_EQ(u.Clone(), nullptr);
  Unique v;
  EXPECT_FALSE(u.CopyFrom(v));
  std::unique_ptr<CKelObject> fresh(u.CreateInstance());
  EXPECT_NE(fresh, nullptr);
}

TEST(Object, ResetMakesTheObjectEqualToANewOne) {
  Point p(1, 1);
  p.objectTag = 3;
  p.SetNullObject(true);
  p.Reset();
  EXPECT_TRUE(p.Equals(Point()));
  CWString text(L"abc");
  text.Reset();
  EXPECT_TRUE(text.IsEmpty());
}

TEST(Object, DeleteReturnsTheBlockToThePool) {
  CKelObject* p = new Point(1, 2);
  ASSERT_TRUE(CPoolMem::Instance().Contains(p));
  const size_t before = CPoolMem::Instance().FreeBlockCount();
  p->Delete();
  EXPECT_EQ(CPoolMem::Instance().FreeBlockCount(), before + 1);
}

TEST(Object, GenericDebugTextNamesClassAndAddress) {
  Point p;
  CWString out;
  p.DebugText(out, 0);
  CWString expected;
  expected.Format(L"无法解析的对象数据,其输出类名为: \"Point\", 地址为: 0x%I64X",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&p)));
  EXPECT_EQ(out, expected);
  // Upper-case hexadecimal digits only.
  const int64_t at = out.Find(L"0x");
  for (int64_t i = at + 2; i < out.Length(); ++i) EXPECT_FALSE(out[i] >= L'a' && out[i] <= L'f');
  p.SetNullObject(true);
  p.DebugText(out, 0);
  EXPECT_EQ(out, expected + L", 为空对象");
}

TEST(Object, BoxedIntegerComparesAndDescribesItsValue) {
  rg_ZhengShuLei a(5), b(5), c(6);
  EXPECT_TRUE(a.Equals(b));
  EXPECT_FALSE(a.Equals(c));
  EXPECT_TRUE(a.IsKindOf(CKelBaseDataType::StaticClassInfo()));
  CWString out;
  c.DebugText(out, 0);
  EXPECT_EQ(out, L"6");
}

TEST(Stream, FieldsRoundTripInOrder) {
  CKelMem buffer;
  CKelMemStream out(buffer);
  CWString text(L"中文 text");
  CKelMem bytes("\x01\x02\x03", 3);
  rg_WenBenShuZuLei array;
  array.Add(L"one", L"", L"三");
  rg_ZhengShuShuZuLei numbers;
  numbers.Add(-1);
  numbers.Add(7);
  rg_ZhengShuLei boxed(42);
  ASSERT_TRUE(text.WriteTo(out));
  ASSERT_TRUE(bytes.WriteTo(out));
  ASSERT_TRUE(array.WriteTo(out));
  ASSERT_TRUE(numbers.WriteTo(out));
  ASSERT_TRUE(boxed.WriteTo(out));
  EXPECT_EQ(out.Error(), 0);

  // A text is the byte set of its characters with the terminating zero.
  int32_t textBytes = 0;
  memcpy(&textBytes, buffer.Data(), 4);
  EXPECT_EQ(textBytes, (text.Length() + 1) * 2);

  CKelMemStream in(buffer);
  CWString text2;
  CKelMem bytes2;
  rg_WenBenShuZuLei array2;
  rg_ZhengShuShuZuLei numbers2;
  rg_ZhengShuLei boxed2;
  ASSERT_TRUE(text2.ReadFrom(in));
  ASSERT_TRUE(bytes2.ReadFrom(in));
  ASSERT_TRUE(array2.ReadFrom(in));
  ASSERT_TRUE(numbers2.ReadFrom(in));
  ASSERT_TRUE(boxed2.ReadFrom(in));
  EXPECT_EQ(text2, text);
  EXPECT_TRUE(bytes2.Equals(bytes));
  EXPECT_TRUE(array2.Equals(array));
  EXPECT_TRUE(numbers2.Equals(numbers));
  EXPECT_EQ(boxed2.value, 42);
  EXPECT_EQ(in.ReadPosition(), buffer.Size());
}

TEST(Stream, ShortReadSetsMinusThreeAndStopsTheStream) {
  CKelMem buffer;
  CKelMemStream out(buffer);
  out.WriteInt32(100);  // claims 100 bytes that are not there
  out.WriteInt64(5);
  CKelMemStream in(buffer);
  CKelMem bytes(L"keep", 8);
  EXPECT_FALSE(bytes.ReadFrom(in));
  EXPECT_EQ(in.Error(), CKelStream::kShortRead);
  EXPECT_EQ(bytes.Size(), 8);  // untouched
  int32_t v = 0;
  EXPECT_FALSE(in.ReadInt32(v));
  EXPECT_EQ(in.Error(), CKelStream::kShortRead);
}

class FailingStream : public CKelStream {
 public:
  int writes = 0;

 protected:
  bool RawRead(void*, size_t) override { return false; }
  bool RawWrite(const void*, size_t) override {
    ++writes;
    return false;
  }
};

TEST(Stream, FailedWriteSetsMinusFourAndLaterWritesDoNothing) {
  FailingStream stream;
  EXPECT_FALSE(CWString(L"a").WriteTo(stream));
  EXPECT_EQ(stream.Error(), CKelStream::kWriteFailed);
  EXPECT_FALSE(stream.WriteInt32(1));
  EXPECT_EQ(stream.writes, 1);
}

class Counted : public CKelRefCounted {
 public:
  explicit Counted(int* finals, int* destroyed) : finals_(finals), destroyed_(destroyed) {}
  ~Counted() override { ++*destroyed_; }

 protected:
  void FinalRelease() override { ++*finals_; }

 private:
  int* finals_;
  int* destroyed_;
};

TEST(RefObject, CopiesShareTheInnerObjectUntilTheLastOneGoes) {
  int finals = 0, destroyed = 0;
  {
    CKelRefObject a(new Counted(&finals, &destroyed));
    {
      CKelRefObject b(a);
      CKelRefObject c;
      c = b;
      EXPECT_EQ(a.Inner(), c.Inner());
      EXPECT_EQ(a.Inner()->RefCount(), 3);
      EXPECT_TRUE(a.Equals(c));
      CKelRefObject moved(std::move(c));
      EXPECT_EQ(c.Inner(), nullptr);
      EXPECT_EQ(a.Inner()->RefCount(), 3);
    }
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(a.Inner()->RefCount(), 1);
  }
  EXPECT_EQ(finals, 1);
  EXPECT_EQ(destroyed, 1);
}

TEST(RefObject, AttachReleasesThePreviousInnerObject) {
  int finals = 0, destroyed = 0;
  CKelRefObject holder(new Counted(&finals, &destroyed));
  holder.Attach(new Counted(&finals, &destroyed));
  EXPECT_EQ(destroyed, 1);
  CKelRefObject& same = holder;
  holder = same;  // self-assignment keeps it
  EXPECT_EQ(destroyed, 1);
  holder.Attach(nullptr);
  EXPECT_EQ(destroyed, 2);
  EXPECT_EQ(finals, 2);
}

TEST(Exception, CarriesCodeAndDescription) {
  bool caught = false;
  try {
    throw CKelException(-7, CWString(L"描述"));
  } catch (const CKelException& e) {
    caught = true;
    EXPECT_EQ(e.Code(), -7);
    EXPECT_EQ(e.Description(), L"描述");
  }
  EXPECT_TRUE(caught);
}

}  // namespace
