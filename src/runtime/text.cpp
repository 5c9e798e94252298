#include "runtime/text.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <locale.h>
#include <utility>

#include "runtime/convert.h"

namespace {

const wchar_t kEmptyText[1] = {0};

wchar_t FoldAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

bool UnitsMatch(const wchar_t* a, const wchar_t* b, int64_t n, bool ignoreCase) {
  if (!ignoreCase) return wmemcmp(a, b, static_cast<size_t>(n)) == 0;
  for (int64_t i = 0; i < n; ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

// Search over len units of s; see CWString::Find.
int64_t FindIn(const wchar_t* s, int64_t len, CWTextRef sub, int64_t start, bool ignoreCase, bool fromEnd) {
  if (len < start) return -1;
  const int64_t n = sub.Length();
  if (!fromEnd) {
    if (start < 0) start = 0;
    if (n == 0) return start;
    for (int64_t i = start; i + n <= len; ++i) {
      if (UnitsMatch(s + i, sub.Chars(), n, ignoreCase)) return i;
    }
    return -1;
  }
  const int64_t regionEnd = start < 0 ? len : start;
  if (n == 0) return regionEnd;
  for (int64_t i = regionEnd - n; i >= 0; --i) {
    if (UnitsMatch(s + i, sub.Chars(), n, ignoreCase)) return i;
  }
  return -1;
}

// Formatting never follows the thread's C locale: numbers always use a dot. msvcrt writes
// three exponent digits ("1E+020") unless told otherwise; the process-wide switch is set once.
_locale_t ClassicLocale() {
  static const _locale_t locale = [] {
    _set_output_format(_TWO_DIGIT_EXPONENT);
    return _create_locale(LC_ALL, "C");
  }();
  return locale;
}

bool IsInside(const wchar_t* p, const CKelMem& store) {
  auto begin = reinterpret_cast<uintptr_t>(store.Data());
  auto at = reinterpret_cast<uintptr_t>(p);
  return store.Data() && at >= begin && at < begin + static_cast<uintptr_t>(store.Capacity());
}

}  // namespace

CWTextRef::CWTextRef(const wchar_t* chars)
    : chars_(chars ? chars : kEmptyText), length_(static_cast<int64_t>(wcslen(chars_))) {}

CWTextRef::CWTextRef(const wchar_t* chars, int64_t length)
    : chars_(chars ? chars : kEmptyText), length_(chars && length > 0 ? length : 0) {}

CWTextRef::CWTextRef(const CWString& text) : chars_(text.GetText()), length_(text.Length()) {}

CWTextRef::CWTextRef(const std::wstring& text) : chars_(text.c_str()), length_(static_cast<int64_t>(text.size())) {}

CWTextRef::CWTextRef(std::wstring_view text)
    : chars_(text.data() ? text.data() : kEmptyText), length_(static_cast<int64_t>(text.size())) {}

CWString::CWString() = default;

CWString::CWString(const wchar_t* chars) { Assign(chars); }

CWString::CWString(const wchar_t* chars, int64_t count) { SetChars(chars, count); }

CWString::CWString(CWTextRef chars) { Assign(chars); }

CWString::CWString(const std::wstring& chars) { Assign(chars); }

CWString::CWString(ConstTag, const wchar_t* constant) : constText_(constant && *constant ? constant : nullptr) {}

CWString::CWString(CWString&& other) noexcept
    : CKelObject(other), constText_(std::exchange(other.constText_, nullptr)), store_(std::move(other.store_)) {}

CWString& CWString::operator=(CWString&& other) noexcept {
  if (this != &other) {
    CKelObject::operator=(other);
    constText_ = std::exchange(other.constText_, nullptr);
    store_ = std::move(other.store_);
  }
  return *this;
}

CWString& CWString::operator=(const wchar_t* chars) {
  Assign(chars);
  return *this;
}

bool CWString::Equals(const CKelObject& other) const {
  if (!other.IsKindOf(StaticClassInfo()) || !SameObjectWords(other)) return false;
  return View() == static_cast<const CWString&>(other).View();
}

bool CWString::ReadFrom(CKelStream& stream) {
  CKelMem bytes;
  if (!stream.ReadMem(bytes)) return false;
  int64_t units = bytes.Size() / 2;
  const auto* chars = reinterpret_cast<const wchar_t*>(bytes.Data());
  if (units > 0 && chars[units - 1] == 0) --units;
  BeforeChange();
  SetChars(chars, units);
  return true;
}

bool CWString::WriteTo(CKelStream& stream) const {
  return stream.WriteMem(GetText(), static_cast<size_t>(Length() + 1) * sizeof(wchar_t));
}

const wchar_t* CWString::GetText() const {
  if (constText_) return constText_;
  if (store_.Size() != 0) return reinterpret_cast<const wchar_t*>(store_.Data());
  return kEmptyText;
}

int64_t CWString::Length() const {
  if (constText_) return static_cast<int64_t>(wcslen(constText_));
  if (store_.Size() != 0) return store_.Size() / 2 - 1;
  return 0;
}

bool CWString::IsEmpty() const {
  if (constText_) return *constText_ == 0;
  return store_.Size() < 3;
}

void CWString::Clear() {
  constText_ = nullptr;
  store_.Clear();
}

void CWString::MakeOwned() {
  if (!constText_) return;
  const wchar_t* constant = std::exchange(constText_, nullptr);
  const int64_t units = static_cast<int64_t>(wcslen(constant)) + 1;
  store_.SetSize(units * 2);
  memcpy(store_.Data(), constant, static_cast<size_t>(units) * 2);
}

void CWString::Assign(CWTextRef chars) { SetChars(chars.Chars(), chars.Length()); }

void CWString::SetChars(const wchar_t* chars, int64_t count) {
  if (count < 1) {
    Clear();
    return;
  }
  if (chars && IsInside(chars, store_)) {
    CWString copy(chars, count);
    constText_ = nullptr;
    store_ = std::move(copy.store_);
    return;
  }
  constText_ = nullptr;
  store_.SetSize((count + 1) * 2);
  auto* units = reinterpret_cast<wchar_t*>(store_.Data());
  if (chars) {
    wmemcpy(units, chars, static_cast<size_t>(count));
  } else {
    wmemset(units, 0, static_cast<size_t>(count));
  }
  units[count] = 0;
}

void CWString::AppendUnits(const wchar_t* chars, int64_t count) {
  if (count <= 0) return;
  if (IsInside(chars, store_)) {
    CWString copy(chars, count);
    AppendUnits(copy.GetText(), count);
    return;
  }
  MakeOwned();
  const int64_t len = Length();
  store_.SetSize((len + count + 1) * 2);
  auto* units = reinterpret_cast<wchar_t*>(store_.Data());
  wmemcpy(units + len, chars, static_cast<size_t>(count));
  units[len + count] = 0;
}

void CWString::Append(CWTextRef chars) { AppendUnits(chars.Chars(), chars.Length()); }

void CWString::AppendChar(wchar_t unit) {
  if (unit == 0) return;
  AppendUnits(&unit, 1);
}

void CWString::AppendInteger(int value) { AppendFormat(L"%d", value); }

void CWString::AppendInt64(int64_t value) { Append(Int64ToText(value)); }

void CWString::AppendDouble(double value) {
  if (value >= -0.000001 && value <= 0.000001) {
    AppendChar(L'0');
    return;
  }
  AppendFormat(L"%.15G", value);
}

void CWString::AppendFloat(float value) {
  const double widened = value;
  if (widened >= -0.000001 && widened <= 0.000001) {
    AppendChar(L'0');
    return;
  }
  AppendFormat(L"%.8G", widened);
}

void CWString::AppendFormatV(const wchar_t* format, va_list args) {
  if (!format) return;
  va_list measure;
  va_copy(measure, args);
  const int n = _vscwprintf_l(format, ClassicLocale(), measure);
  va_end(measure);
  if (n <= 0) return;
  // Formatted apart first: the arguments may point into this text.
  CWString formatted;
  wchar_t* buffer = formatted.GetBufferSetLength(n);
  const int written = _vsnwprintf_l(buffer, static_cast<size_t>(n) + 1, format, ClassicLocale(), args);
  formatted.ReleaseBuffer(written < 0 ? 0 : (written > n ? n : written));
  Append(formatted);
}

void CWString::FormatV(const wchar_t* format, va_list args) {
  CWString formatted;
  formatted.AppendFormatV(format, args);
  constText_ = nullptr;
  store_ = std::move(formatted.store_);
}

void CWString::Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void CWString::AppendFormat(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatV(format, args);
  va_end(args);
}

CWString CWString::Concat(CWTextRef a, CWTextRef b) {
  CWString result(a);
  result.Append(b);
  return result;
}

CWString CWString::Left(int64_t n) const {
  const int64_t len = Length();
  if (n <= 0) return CWString();
  return CWString(GetText(), n < len ? n : len);
}

CWString CWString::Right(int64_t n) const {
  const int64_t len = Length();
  if (n <= 0) return CWString();
  if (n >= len) return *this;
  return CWString(GetText() + len - n, n);
}

CWString CWString::Mid(int64_t start, int64_t count) const {
  const int64_t len = Length();
  if (start < 0) start = 0;
  if (start > len) start = len;
  if (count > len - start) count = len - start;
  if (count <= 0) return CWString();
  return CWString(GetText() + start, count);
}

int64_t CWString::Find(CWTextRef sub, int64_t start, bool ignoreCase, bool fromEnd) const {
  return FindIn(GetText(), Length(), sub, start, ignoreCase, fromEnd);
}

void CWString::ReplaceAll(CWTextRef oldText, CWTextRef newText, bool ignoreCase) {
  const int64_t oldLen = oldText.Length();
  const int64_t len = Length();
  if (oldLen == 0 || len == 0 || len < oldLen) return;
  MakeOwned();
  const wchar_t* s = GetText();
  CKelMem result(kGrowStep);
  int64_t copiedUpTo = 0;
  bool replaced = false;
  int64_t pos = 0;
  while (len - pos >= oldLen) {
    const bool match = ignoreCase ? _wcsnicmp(s + pos, oldText.Chars(), static_cast<size_t>(oldLen)) == 0
                                  : wmemcmp(s + pos, oldText.Chars(), static_cast<size_t>(oldLen)) == 0;
    if (!match) {
      ++pos;
      continue;
    }
    result.AppendBytes(s + copiedUpTo, (pos - copiedUpTo) * 2);
    result.AppendBytes(newText.Chars(), newText.Length() * 2);
    pos += oldLen;
    copiedUpTo = pos;
    replaced = true;
  }
  if (!replaced) return;
  result.AppendBytes(s + copiedUpTo, (len - copiedUpTo) * 2);
  result.AppendBytes(nullptr, 2);
  if (result.Size() < 3) {
    Clear();
    return;
  }
  store_ = std::move(result);
}

void CWString::SetLength(int64_t n) {
  if (n <= 0) {
    Clear();
    return;
  }
  const int64_t len = Length();
  wchar_t* units = GetBufferSetLength(n);
  for (int64_t i = len; i < n; ++i) units[i] = L' ';
}

void CWString::ToLowerAscii() {
  if (IsEmpty()) return;
  MakeOwned();
  auto* units = reinterpret_cast<wchar_t*>(store_.Data());
  for (int64_t i = 0, len = Length(); i < len; ++i) {
    if (units[i] >= L'A' && units[i] <= L'Z') units[i] = static_cast<wchar_t>(units[i] + 32);
  }
}

void CWString::TrimRight() {
  const wchar_t* s = GetText();
  int64_t len = Length();
  const int64_t full = len;
  while (len > 0 && s[len - 1] <= 32) --len;
  if (len == full) return;
  if (len == 0) {
    Clear();
    return;
  }
  GetBufferSetLength(len);
}

bool CWString::StartsWithIgnoreCase(CWTextRef prefix) const {
  if (prefix.Length() == 0) return true;
  if (Length() < prefix.Length()) return false;
  return _wcsnicmp(GetText(), prefix.Chars(), static_cast<size_t>(prefix.Length())) == 0;
}

CWString CWString::Between(CWTextRef text, CWTextRef left, CWTextRef right) {
  int64_t begin = 0;
  if (!left.IsEmpty()) {
    const int64_t at = FindIn(text.Chars(), text.Length(), left, 0, true, false);
    if (at < 0) return CWString();
    begin = at + left.Length();
  }
  const int64_t end = FindIn(text.Chars(), text.Length(), right, begin, true, false);
  if (end < 0) return CWString();
  return CWString(text.Chars() + begin, end - begin);
}

CWString CWString::LeftOf(CWTextRef text, CWTextRef marker, int64_t start) {
  if (text.Length() < start) return CWString();
  if (marker.IsEmpty()) return start <= 0 ? CWString() : CWString(text.Chars(), start);
  const int64_t at = FindIn(text.Chars(), text.Length(), marker, start, true, false);
  if (at < 0) return CWString();
  return CWString(text.Chars(), at);
}

CWString CWString::LeftOfLast(CWTextRef text, CWTextRef marker) {
  if (marker.IsEmpty()) return CWString(text);
  const int64_t at = FindIn(text.Chars(), text.Length(), marker, -1, true, true);
  if (at < 0) return CWString();
  return CWString(text.Chars(), at);
}

CWString CWString::RightOf(CWTextRef text, CWTextRef marker) {
  if (marker.IsEmpty()) return CWString(text);
  const int64_t at = FindIn(text.Chars(), text.Length(), marker, 0, true, false);
  if (at < 0) return CWString();
  const int64_t from = at + marker.Length();
  return CWString(text.Chars() + from, text.Length() - from);
}

CWString CWString::RightOfLast(CWTextRef text, CWTextRef marker) {
  if (marker.IsEmpty()) return CWString();
  const int64_t at = FindIn(text.Chars(), text.Length(), marker, -1, true, true);
  if (at < 0) return CWString();
  const int64_t from = at + marker.Length();
  return CWString(text.Chars() + from, text.Length() - from);
}

wchar_t* CWString::GetBufferSetLength(int64_t n) {
  if (n < 0) n = 0;
  MakeOwned();
  const int64_t len = Length();
  store_.SetSize((n + 1) * 2);
  auto* units = reinterpret_cast<wchar_t*>(store_.Data());
  for (int64_t i = len; i < n; ++i) units[i] = 0;
  units[n] = 0;
  return units;
}

void CWString::ReleaseBuffer(int64_t n) {
  if (constText_ || store_.Size() == 0) return;
  auto* units = reinterpret_cast<wchar_t*>(store_.Data());
  const int64_t room = store_.Size() / 2 - 1;
  if (n < 0) n = static_cast<int64_t>(wcsnlen(units, static_cast<size_t>(room)));
  if (n > room) n = room;
  if (n == 0) {
    Clear();
    return;
  }
  store_.SetSize((n + 1) * 2);
  reinterpret_cast<wchar_t*>(store_.Data())[n] = 0;
}

CWString operator+(const CWString& a, CWTextRef b) {
  CWString result(a);
  result.Append(b);
  return result;
}
