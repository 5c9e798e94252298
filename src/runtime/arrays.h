// Arrays with value semantics, indexed from 0: texts, integers and owned objects.
// Not thread-safe; copies are independent.
#pragma once

#include <cstdint>

#include "runtime/mem.h"
#include "runtime/text.h"

// Pointers to owned zero-terminated copies of the elements; an empty element is a null
// pointer and reads "".
class CMStringArray {
 public:
  static constexpr int64_t kGrowStep = 256;

  CMStringArray() = default;
  CMStringArray(const CMStringArray& other);
  CMStringArray(CMStringArray&& other) noexcept;
  CMStringArray& operator=(const CMStringArray& other);
  CMStringArray& operator=(CMStringArray&& other) noexcept;
  ~CMStringArray();

  int64_t Count() const { return pointers_.Size() / static_cast<int64_t>(sizeof(wchar_t*)); }
  const wchar_t* At(int64_t index) const;  // "" for an empty element
  void Add(const wchar_t* chars, int64_t length);
  void Clear();

 private:
  wchar_t* const* Slots() const { return reinterpret_cast<wchar_t* const*>(pointers_.Data()); }
  void CopyElementsFrom(const CMStringArray& other);

  CKelMem pointers_{kGrowStep};
};

class rg_WenBenShuZuLei : public rg_KuoZhanDuiXiangLei {
  KEL_DECLARE_CLASS(rg_WenBenShuZuLei, rg_KuoZhanDuiXiangLei)

  rg_WenBenShuZuLei() = default;

  bool Equals(const CKelObject& other) const override;
  void DebugText(CWString& out, int64_t limit) const override;  // limit 0: 64 members
  bool ReadFrom(CKelStream& stream) override;
  bool WriteTo(CKelStream& stream) const override;

  int64_t Count() const { return items_.Count(); }
  // Index outside 0 .. Count()-1 reads "".
  CWString Get(int64_t index) const;
  const wchar_t* GetText(int64_t index) const;
  void Add(CWTextRef text);
  template <class... More>
  void Add(CWTextRef first, CWTextRef second, More&&... more) {
    Add(first);
    Add(second, static_cast<More&&>(more)...);
  }
  void Clear() { items_.Clear(); }

  // Cuts at any unit of delimiters; returns the element count.
  int64_t Split(CWTextRef text, CWTextRef delimiters, bool trim, bool skipEmpty);
  // Cuts at every delimiter text; parts trimmed, empty parts dropped.
  int64_t SplitByText(CWTextRef text, CWTextRef delimiter);

 private:
  CMStringArray items_;
};

class rg_ZhengShuShuZuLei : public rg_KuoZhanDuiXiangLei {
  KEL_DECLARE_CLASS(rg_ZhengShuShuZuLei, rg_KuoZhanDuiXiangLei)

  static constexpr int64_t kGrowStep = 128;

  rg_ZhengShuShuZuLei() = default;

  bool Equals(const CKelObject& other) const override;
  bool ReadFrom(CKelStream& stream) override;
  bool WriteTo(CKelStream& stream) const override;

  int64_t Count() const { return values_.Size() / static_cast<int64_t>(sizeof(int)); }
  int Get(int64_t index) const;        // 0 outside 0 .. Count()-1
  void Set(int64_t index, int value);  // ignored outside 0 .. Count()-1
  void Add(int value);
  void Clear() { values_.Clear(); }

 private:
  CKelMem values_{kGrowStep};
};

// Owns the objects it holds: clearing or destroying it deletes them; copying clones them.
class CKelObjectArray : public CKelObject {
  KEL_DECLARE_CLASS(CKelObjectArray, CKelObject)

  CKelObjectArray() = default;
  CKelObjectArray(const CKelObjectArray& other);
  CKelObjectArray(CKelObjectArray&& other) noexcept;
  CKelObjectArray& operator=(const CKelObjectArray& other);
  CKelObjectArray& operator=(CKelObjectArray&& other) noexcept;
  ~CKelObjectArray() override;

  bool Equals(const CKelObject& other) const override;
  void DebugText(CWString& out, int64_t limit) const override;  // limit 0: 64 members

  int64_t Count() const { return pointers_.Size() / static_cast<int64_t>(sizeof(CKelObject*)); }
  CKelObject* Get(int64_t index) const;  // null outside 0 .. Count()-1
  // Takes ownership of an object made with new (null is stored as a missing element).
  void Add(CKelObject* object);
  void Clear();

 private:
  CKelObject* const* Slots() const { return reinterpret_cast<CKelObject* const*>(pointers_.Data()); }
  void CloneElementsFrom(const CKelObjectArray& other);

  CKelMem pointers_;
};
