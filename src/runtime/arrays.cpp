#include "runtime/arrays.h"

#include <cstring>
#include <cwchar>
#include <utility>

#include "runtime/convert.h"

namespace {

bool AllBlank(const wchar_t* s, int64_t n) {
  for (int64_t i = 0; i < n; ++i) {
    if (s[i] > 32) return false;
  }
  return true;
}

void TrimBlank(const wchar_t*& s, int64_t& n) {
  while (n > 0 && *s <= 32) {
    ++s;
    --n;
  }
  while (n > 0 && s[n - 1] <= 32) --n;
}

// "<数组>" header; returns the number of members to show.
int64_t ArrayHeader(CWString& out, int64_t count, int64_t limit) {
  if (limit == 0) limit = 64;
  const int64_t shown = limit > 0 && count > limit ? limit : count;
  if (shown < count) {
    out.Format(L"<数组> 总共 %d 个成员,输出了 %d 个,还有 %d 个未被输出.", static_cast<int>(count),
               static_cast<int>(shown), static_cast<int>(count - shown));
  } else {
    out.Format(L"<数组> 总共 %d 个成员:", static_cast<int>(count));
  }
  return shown;
}

}  // namespace

CMStringArray::CMStringArray(const CMStringArray& other) { CopyElementsFrom(other); }

CMStringArray::CMStringArray(CMStringArray&& other) noexcept : pointers_(std::move(other.pointers_)) {}

CMStringArray& CMStringArray::operator=(const CMStringArray& other) {
  if (this != &other) {
    Clear();
    CopyElementsFrom(other);
  }
  return *this;
}

CMStringArray& CMStringArray::operator=(CMStringArray&& other) noexcept {
  if (this != &other) {
    Clear();
    pointers_ = std::move(other.pointers_);
  }
  return *this;
}

CMStringArray::~CMStringArray() { Clear(); }

void CMStringArray::CopyElementsFrom(const CMStringArray& other) {
  for (int64_t i = 0, n = other.Count(); i < n; ++i) {
    const wchar_t* element = other.Slots()[i];
    Add(element, element ? static_cast<int64_t>(wcslen(element)) : 0);
  }
}

const wchar_t* CMStringArray::At(int64_t index) const {
  if (index < 0 || index >= Count()) return L"";
  const wchar_t* element = Slots()[index];
  return element ? element : L"";
}

void CMStringArray::Add(const wchar_t* chars, int64_t length) {
  wchar_t* copy = nullptr;
  if (chars && length > 0) {
    copy = static_cast<wchar_t*>(CPoolMem::Instance().Allocate(static_cast<size_t>(length + 1) * sizeof(wchar_t)));
    wmemcpy(copy, chars, static_cast<size_t>(length));
    copy[length] = 0;
  }
  pointers_.AppendBytes(&copy, sizeof copy);
}

void CMStringArray::Clear() {
  for (int64_t i = 0, n = Count(); i < n; ++i) CPoolMem::Instance().Free(Slots()[i]);
  pointers_.Clear();
}

bool rg_WenBenShuZuLei::Equals(const CKelObject& other) const {
  if (!other.IsKindOf(StaticClassInfo()) || !SameObjectWords(other)) return false;
  const auto& that = static_cast<const rg_WenBenShuZuLei&>(other);
  if (Count() != that.Count()) return false;
  for (int64_t i = 0, n = Count(); i < n; ++i) {
    if (wcscmp(GetText(i), that.GetText(i)) != 0) return false;
  }
  return true;
}

void rg_WenBenShuZuLei::DebugText(CWString& out, int64_t limit) const {
  const int64_t shown = ArrayHeader(out, Count(), limit);
  for (int64_t i = 0; i < shown; ++i) {
    out.AppendFormat(L"\r\n%d. %s", static_cast<int>(i + 1), QuoteForDisplay(GetText(i)).GetText());
  }
}

bool rg_WenBenShuZuLei::ReadFrom(CKelStream& stream) {
  int32_t count = 0;
  if (!stream.ReadInt32(count) || count < 0) return false;
  CMStringArray read;
  for (int32_t i = 0; i < count; ++i) {
    CWString element;
    if (!element.ReadFrom(stream)) return false;
    read.Add(element.GetText(), element.Length());
  }
  BeforeChange();
  items_ = std::move(read);
  return true;
}

bool rg_WenBenShuZuLei::WriteTo(CKelStream& stream) const {
  if (!stream.WriteInt32(static_cast<int32_t>(Count()))) return false;
  for (int64_t i = 0, n = Count(); i < n; ++i) {
    const wchar_t* element = GetText(i);
    if (!stream.WriteMem(element, (wcslen(element) + 1) * sizeof(wchar_t))) return false;
  }
  return true;
}

CWString rg_WenBenShuZuLei::Get(int64_t index) const { return CWString(items_.At(index)); }

const wchar_t* rg_WenBenShuZuLei::GetText(int64_t index) const { return items_.At(index); }

void rg_WenBenShuZuLei::Add(CWTextRef text) { items_.Add(text.Chars(), text.Length()); }

int64_t rg_WenBenShuZuLei::Split(CWTextRef text, CWTextRef delimiters, bool trim, bool skipEmpty) {
  Clear();
  const wchar_t* s = text.Chars();
  const int64_t len = text.Length();
  if (len == 0) return 0;
  int64_t pos = 0;
  while (true) {
    int64_t end = pos;
    while (end < len && !wmemchr(delimiters.Chars(), s[end], static_cast<size_t>(delimiters.Length()))) ++end;
    const wchar_t* part = s + pos;
    int64_t partLen = end - pos;
    if (trim) TrimBlank(part, partLen);
    if (!(skipEmpty && AllBlank(part, partLen))) items_.Add(part, partLen);
    if (end >= len) break;
    pos = end + 1;
  }
  return Count();
}

int64_t rg_WenBenShuZuLei::SplitByText(CWTextRef text, CWTextRef delimiter) {
  Clear();
  if (delimiter.IsEmpty()) {
    Add(text);
    return Count();
  }
  const wchar_t* s = text.Chars();
  const int64_t len = text.Length();
  const int64_t dlen = delimiter.Length();
  int64_t pos = 0;
  while (true) {
    int64_t end = pos;
    while (end + dlen <= len && wmemcmp(s + end, delimiter.Chars(), static_cast<size_t>(dlen)) != 0) ++end;
    const bool found = end + dlen <= len;
    if (!found) end = len;
    const wchar_t* part = s + pos;
    int64_t partLen = end - pos;
    TrimBlank(part, partLen);
    if (partLen > 0) items_.Add(part, partLen);
    if (!found) break;
    pos = end + dlen;
  }
  return Count();
}

bool rg_ZhengShuShuZuLei::Equals(const CKelObject& other) const {
  if (!other.IsKindOf(StaticClassInfo()) || !SameObjectWords(other)) return false;
  return values_.SameBytes(static_cast<const rg_ZhengShuShuZuLei&>(other).values_);
}

bool rg_ZhengShuShuZuLei::ReadFrom(CKelStream& stream) {
  CKelMem read(kGrowStep);
  if (!stream.ReadMem(read)) return false;
  if (read.Size() % static_cast<int64_t>(sizeof(int)) != 0) return false;
  BeforeChange();
  values_ = std::move(read);
  return true;
}

bool rg_ZhengShuShuZuLei::WriteTo(CKelStream& stream) const { return stream.WriteMem(values_); }

int rg_ZhengShuShuZuLei::Get(int64_t index) const {
  if (index < 0 || index >= Count()) return 0;
  int value;
  memcpy(&value, values_.Data() + index * static_cast<int64_t>(sizeof(int)), sizeof value);
  return value;
}

void rg_ZhengShuShuZuLei::Set(int64_t index, int value) {
  if (index < 0 || index >= Count()) return;
  memcpy(values_.Data() + index * static_cast<int64_t>(sizeof(int)), &value, sizeof value);
}

void rg_ZhengShuShuZuLei::Add(int value) { values_.AppendBytes(&value, sizeof value); }

CKelObjectArray::CKelObjectArray(const CKelObjectArray& other) : CKelObject(other) { CloneElementsFrom(other); }

CKelObjectArray::CKelObjectArray(CKelObjectArray&& other) noexcept
    : CKelObject(other), pointers_(std::move(other.pointers_)) {}

CKelObjectArray& CKelObjectArray::operator=(const CKelObjectArray& other) {
  if (this != &other) {
    CKelObject::operator=(other);
    Clear();
    CloneElementsFrom(other);
  }
  return *this;
}

CKelObjectArray& CKelObjectArray::operator=(CKelObjectArray&& other) noexcept {
  if (this != &other) {
    CKelObject::operator=(other);
    Clear();
    pointers_ = std::move(other.pointers_);
  }
  return *this;
}

CKelObjectArray::~CKelObjectArray() { Clear(); }

void CKelObjectArray::CloneElementsFrom(const CKelObjectArray& other) {
  for (int64_t i = 0, n = other.Count(); i < n; ++i) {
    const CKelObject* element = other.Slots()[i];
    Add(element ? element->Clone() : nullptr);
  }
}

bool CKelObjectArray::Equals(const CKelObject& other) const {
  if (!other.IsKindOf(StaticClassInfo()) || !SameObjectWords(other)) return false;
  const auto& that = static_cast<const CKelObjectArray&>(other);
  if (Count() != that.Count()) return false;
  for (int64_t i = 0, n = Count(); i < n; ++i) {
    const CKelObject* a = Slots()[i];
    const CKelObject* b = that.Slots()[i];
    if (!a || !b) {
      if (a != b) return false;
    } else if (!a->Equals(*b)) {
      return false;
    }
  }
  return true;
}

void CKelObjectArray::DebugText(CWString& out, int64_t limit) const {
  const int64_t shown = ArrayHeader(out, Count(), limit);
  for (int64_t i = 0; i < shown; ++i) {
    const CKelObject* element = Slots()[i];
    CWString name = element ? Utf8CharsToText(element->ClassInfo().name) : CWString();
    out.AppendFormat(L"\r\n%d. 对象输出类名: \"%s\", 地址: 0x%I64X", static_cast<int>(i + 1), name.GetText(),
                     static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(element)));
    if (!element || element->IsNullObject()) {
      out.Append(L", 为空对象");
      continue;
    }
    CWString content;
    element->DebugText(content, 0);
    out.Append(L", 内容:\r\n");
    out.Append(content);
  }
}

CKelObject* CKelObjectArray::Get(int64_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return Slots()[index];
}

void CKelObjectArray::Add(CKelObject* object) { pointers_.AppendBytes(&object, sizeof object); }

void CKelObjectArray::Clear() {
  for (int64_t i = 0, n = Count(); i < n; ++i) {
    if (CKelObject* element = Slots()[i]) element->Delete();
  }
  pointers_.Clear();
}
